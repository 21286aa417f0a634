// One device's upgrade inside a process that drives many: the upgrade
// engine, the device's own handles opened through the platform seam for one
// path, the version query with its bound, the image checks and the outcome
// as an exit status, without a window.
//
// Why sessions in one event loop rather than a process per device: a
// process per device pays Qt's start-up and wakes on its own 2 ms timers,
// 500 times a second each. Here every session of the process is ticked by
// one shared 2 ms timer (SessionTicker), which runs only while a stage is
// sending, and each device costs a reader thread that sleeps in the
// backend's blocking read until the device answers (once per window of 25
// frames). The reader thread, not a backend notification, because the seam
// offers a blocking read on every backend (hidraw, hid.dll, the virtual
// bus) and a blocked read costs no CPU.
//
// The engine, the device's handles, the reader and the writer thread are
// those of the session type every road shares (session/session.h); this
// layer adds what a run without a window does around them.
//
// Writes: each session hands its frames to a writer thread of its own, in
// the order the engine makes them; the shared tick never waits for a
// device. A device that is slow to take a feature write delays only its own
// frames, and a write still running after a deadline ends that session
// (WriteStalled).
//
// Isolation: a session ends only itself. Its completion, its numbered
// errors, its device leaving or never answering end in finished(status);
// nothing exits the process, and the ticker skips sessions that have ended.
// On the wire a session does what the window does: the version query one
// second after the device is opened, the start frame, windows of 25 data
// frames, the end frames, the 2500-tick time-outs; after a write the device
// refused, nothing more goes out (the window's link does the same). The
// engine completes when its last frames are handed over; the session
// finishes once the writer has put them on the wire, and a refused one
// among them ends the run in LinkFailure rather than a success.
#pragma once

#include "cli/devicelist.h"
#include "online/onlinefetch.h"
#include "protocol/protocol.h"
#include "session/session.h"
#include "session/ticker.h"
#include "upgrade/engine.h"
#include "upgrade/notices.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

class QTimer;

namespace cli {

class EventLog;
using session::SessionTicker;

struct SessionOptions {
    QString imagePath;           // for the records and the path check
    QByteArray image;            // the file's bytes, read once for every session
    bool imageRead = false;      // the file could be opened and read within the size bound
    int versionTimeoutMs = 5000; // for the version reply, from begin()
    int timeoutMs = 0;           // whole run; 0: from the image size
    int writeDeadlineMs = 6000;  // one feature write; longer ends the run (above the kernel's 5 s)
    int productId = protocol::kProductId;
    // An image older than the device's firmware, or the same version, is
    // refused (ImageOlder, ImageSame) unless allowed: nothing is written.
    bool allowOlder = false;
    bool allowReinstall = false;
    QByteArray sha256; // when set, the digest the image must have (checked on the bytes written)
    // --check: every check of a real run (the file, the family, the
    // versions, the digest; online the whole fetch and its verification,
    // the release counter checked but not raised), then the session ends
    // where the start frame would go out: Success means "would be written".
    // Nothing but the version query reaches the device.
    bool check = false;
    // The simulator's virtual devices: `writing` hears of the image's
    // bytes before its first frame goes out (the device learns where the
    // DSP image ends and what it will run); `verify`, after the completion,
    // checks the device holds exactly the image at `imagePath` (the file
    // given, or the download) and returns Success or ImageMismatch, with
    // what it found in `detail` (shown beside the device's notices).
    // Without verify the run ends in Success.
    std::function<void(const DeviceInfo&, const QByteArray& image)> writing;
    std::function<int(const DeviceInfo&, const QString& imagePath, QString* detail)> verify;
    // --confirm: after a successful completion, wait at most this long for
    // the device to leave, come back with the same ids (and serial number,
    // or path when it has none) and answer the version query (0: do not).
    int confirmMs = 0;
    // False: the wait only lets the restart pass and measures; its outcome
    // leaves the status as the completion made it (a station's --watch
    // without --confirm, which must not take a restarting device for a new
    // one). Then only for a device with a serial number.
    bool confirmJudges = true;
    int vendorId = protocol::kVendorId;
    // Online road: no image is given; once the device answered its version
    // the session fetches the newest image for it (online::fetchNewest,
    // into a private directory of that fetch below `dataRoot`) and writes
    // exactly the bytes it returns. The fetch blocks, so it runs on a
    // thread of the session's own and its result is posted back; the
    // session's time limit and stop() hold meanwhile, and a result that
    // comes after the session ended is dropped.
    bool online = false;
    // The server of --server and the road of --fetch: libcurl, as the
    // window fetches, or the updater's own FTP client for the image.
    online::Source source;
    QString dataRoot;
    online::Context context; // the fetch's key (empty: no signatures), limits and trace
};

// Online fetches still running on their threads (their sessions may have
// ended): a program that ends must not unload what they use under them.
int fetchesRunning();

// --confirm's bound: the default and the largest, in seconds.
constexpr int kConfirmDefaultSeconds = 30;
constexpr int kConfirmMaxSeconds = 600;

// Reads `path` into `options` (image, imageRead), with the window's bound
// on the size of an image file. False, with what failed and the system's
// reason in `error`, for a file that is missing, a directory or no regular
// file (a FIFO, a device), unreadable, empty or shorter than an image's
// header.
bool loadSessionImage(const QString& path, SessionOptions* options, QString* error = nullptr);

class DeviceSession : public session::Session {
    Q_OBJECT
public:
    DeviceSession(HidPlatform& platform, DeviceInfo device, const SessionOptions& options, EventLog* events,
                  SessionTicker& ticker, QObject* parent = nullptr);
    ~DeviceSession() override;

    // Opens the device and starts: finished() follows, always, later.
    void begin();
    // Ends the run now with `status` (Ctrl-C, a time limit).
    void stop(int status);
    // Only the --confirm phase, for a device another road has written
    // (the window): waits for it to restart and answer, then finished()
    // with Success, NotBack or OtherVersion.
    void beginConfirm();

    const DeviceInfo& device() const { return device_; }
    qint64 transferMs() const { return transferMs_; }
    // --confirm: the version the device answered after its restart; -1: none.
    int firmwareAfter() const { return firmwareAfter_; }
    // The version the device answered before the run (-1: none), and the
    // version of the image it got or would get (-1: no image yet).
    int firmwareBefore() const { return versionBefore_; }
    int imageVersion() const;

private:
    class Sink;
    QJsonObject context() const;
    void queryVersion();
    void progressTo(qint64 offset);
    void report(const QByteArray& report);
    void startUpgrade();
    void startFetch();
    void fetched(const online::ImageResult& result, bool upToDate);
    void armLimit(int ms);
    void send(const frames::Frame& frame);
    void say(notices::Id id, int status); // emits notice() and records it
    void stopAt(notices::Id id);          // says it and ends with its status (statusOfNotice)
    void finish(int status);
    bool openHandles(const std::string& path);
    void checkWrites();
    void awaitWritten();

    // The --confirm phase after the completion (devicesession_confirm.cpp).
    void completed(int status); // finish, or confirm first
    void startConfirm();
    void confirmPoll();
    void confirmReport(const QByteArray& report);
    void readerEnded();
    bool openConfirmed(const std::string& path);

    HidPlatform& platform_;
    DeviceInfo device_;
    SessionOptions options_;
    EventLog* events_;
    SessionTicker& ticker_;
    std::unique_ptr<Sink> sink_;   // the engine's actions, into this session
    QTimer* writeWatch_ = nullptr; // the write deadline's check, armed while frames go out
    QTimer* delayTimer_ = nullptr; // the 1 s start wait
    QTimer* limitTimer_ = nullptr; // the run's time limit
    bool fetching_ = false;        // an online fetch is on its way
    bool started_ = false;         // the start frame is out
    int lastPercent_ = -1;
    int versionBefore_ = -1;
    QElapsedTimer time_;
    QElapsedTimer transferTime_;
    qint64 transferMs_ = -1;
    bool confirming_ = false;
    bool left_ = false;         // the written device has left the bus
    bool confirmAsked_ = false; // --confirm was run for this device
    int firmwareAfter_ = -1;    // the version it answered after coming back
    int confirmPolls_ = 0;
    bool reopened_ = false; // the handles are the returned device's
    QTimer* confirmTimer_ = nullptr;
};

} // namespace cli

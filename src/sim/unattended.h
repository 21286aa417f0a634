// Drives a MainWindow through a whole upgrade from a local file without a
// user: picks the file as the file dialog would, presses the file button and
// the start button once the device's version is known, answers every box,
// prints notices and progress, and turns the outcome into an exit status
// (exitstatus.h). It knows nothing of the device backend: the executable
// installs the HID platform it wants before it constructs the window.
#pragma once

#include "upgrade/notices.h"

#include "cli/exitstatus.h"
#include "core/services.h"

#include <QObject>
#include <QString>

#include <cstdio>
#include <functional>

#include <QElapsedTimer>
#include <QList>

class MainWindow;
class QCommandLineParser;
class QEventLoop;
struct BoxRequest;

namespace unattended {

class EventLog;

struct Options {
    QString imagePath;
    int versionTimeoutMs = 5000; // for the version reply, from the start of run()
    int timeoutMs = 0;           // whole run; 0: from the image size
    // Called once the completion box was accepted; returns Success or
    // ImageMismatch. Without it the run ends in Success.
    std::function<int()> verify;
    std::FILE* out = stdout;
    // Online road: instead of a local file, the window's version check runs
    // against the update server, the question is answered Yes, and the
    // image it downloads is written. `downloaded` hears its path first.
    bool online = false;
    UpdateServer server; // from --server; the executable installs it
    std::function<void(const QString&)> downloaded;
    // Machine-readable records of notices and progress (null: none).
    EventLog* events = nullptr;
    // Online road: libcurl, as the window's version check fetches, or the
    // updater's own FTP client for the image (the version list still comes
    // through libcurl, as for the window's fixed-model downloads).
    enum class Fetch { Curl, FtpClient };
    Fetch fetch = Fetch::Curl;
    // --image: the SHA-256 the file must have before anything is written.
    QByteArray sha256;
    // --confirm: after the completion, how long to wait for the device to
    // come back and answer its version (0: do not wait).
    int confirmMs = 0;
};

// The driver's own options (--image, --sha256, --timeout, --version-timeout,
// --server, --fetch) and the standard ones (--help, --version, --quiet,
// --verbose), so every executable spells them the same way.
void addOptions(QCommandLineParser& parser);
// False (and a message in `error`) when a value is not a number, or when
// neither --image nor --server is given. Changes nothing but `options`: the
// executable installs options->server (ScopedServices::server).
bool readOptions(const QCommandLineParser& parser, Options* options, QString* error);

// Prints "<program>: <message> (see --help)" on standard error and returns
// the Usage status.
int usage(const char* program, const QString& message);

// Parses `arguments` with the options already added to `parser` (the
// driver's own among them) and reads the driver's options. Returns -1 when
// the run goes on; otherwise the exit status: 0 after printing --help or
// --version, Usage after printing what is wrong. Sets the verbosity: the
// libcurl and debug traces only with --verbose.
int parseCommandLine(QCommandLineParser& parser, const QStringList& arguments, const char* program,
                     Options* options);

struct DeviceInfo;

// Flashes `device` through a window: writes a "device" record before and a
// "result" record after (resultRecord) and returns the status. With
// `bindToPath` the window hears of no other device (a device chosen among
// several); without, it takes the first device, and one that comes back
// under another path is taken again, as the window does. The online road
// and the simulator take this way.
// `running` hears of the run's driver before it starts, and of null once
// it ended (to stop it from elsewhere).
class Driver;
int flashDevice(const DeviceInfo& device, const Options& options, EventLog* events, bool bindToPath,
                const std::function<void(Driver*)>& running = {});

// --confirm after the window's road: waits (options.confirmMs) for the
// written device to restart, come back and answer its version. Returns
// Success, NotBack or OtherVersion, the version it answered in
// `firmwareAfter` (-1: none).
int confirmDevice(const DeviceInfo& device, const Options& options, int* firmwareAfter);

class Driver : public QObject {
    Q_OBJECT
public:
    explicit Driver(Options options, QObject* parent = nullptr);
    ~Driver() override;

    // Runs the upgrade on `window` and returns its exit status. The window
    // must have been constructed with the device backend in place.
    int run(MainWindow& window);

    // Milliseconds from the start button to the end of the run; -1 when
    // the transfer never started.
    qint64 transferMs() const { return transferMs_; }
    // The image the run wrote: --image, or the one downloaded.
    QString writtenImage() const { return options_.imagePath; }

    // The identities of the boxes the run answered, in order.
    const QList<notices::Id>& notices() const { return notices_; }

    // Ends the run now with `status` (Ctrl-C, a time limit).
    void stop(int status) { finish(status); }

    // The status a notice leads to: -1 for the notices after which the road
    // goes on (the "lower version" notice).
    static int statusOfNotice(const BoxRequest& box);

private:
    void pressButtons();
    void updateOnline();
    bool fetchWithFtpClient();
    void writeDownloaded();
    int answer(const BoxRequest& box);
    void versionKnown();
    void progress(double value);
    void finish(int status);
    bool eventFilter(QObject* watched, QEvent* event) override;

    Options options_;
    MainWindow* window_ = nullptr;
    QEventLoop* loop_ = nullptr;
    int status_ = -1;
    bool started_ = false;
    bool completionSeen_ = false;
    int lastPercent_ = -1;
    double imageSize_ = 0;
    bool liveLine_ = false;
    int lastRecordedPercent_ = -1;
    QElapsedTimer transferTime_; // since the start button
    qint64 transferMs_ = -1;
    QList<notices::Id> notices_;
};

} // namespace unattended

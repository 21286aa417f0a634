// Drives a MainWindow through a whole upgrade from a local file without a
// user: picks the file as the file dialog would, presses the file button and
// the start button once the device's version is known, answers every box,
// prints notices and progress, and turns the outcome into an exit status
// (exitstatus.h). It knows nothing of the device backend: the executable
// installs the HID platform it wants before it constructs the window.
#pragma once

#include "upgrade/notices.h"

#include "cli/clioptions.h"
#include "cli/exitstatus.h"
#include "core/services.h"

#include <QObject>
#include <QString>

#include <cstdio>
#include <functional>

#include <QElapsedTimer>
#include <QList>

class MainWindow;
class QEventLoop;
struct BoxRequest;

namespace cli {

class EventLog;

struct DeviceInfo;

// Flashes `device`, the only one of the model on the bus, through a window
// that fetches with options.context: writes a "device" record before and a
// "result" record after (resultRecord) and returns the status. The window
// takes the first device, and one that comes back under another path is
// taken again, as the window does. The simulator's one-device road.
// `running` hears of the run's driver before it starts, and of null once
// it ended (to stop it from elsewhere).
class Driver;
int flashDevice(const DeviceInfo& device, const Options& options, EventLog* events,
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

} // namespace cli

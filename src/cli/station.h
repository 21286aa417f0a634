// The production-line station: several devices of the model flashed at once,
// with one result per device.
//
// Two ways to run a device. By default each device gets a DeviceSession in
// this process (devicesession.h): one event loop, one shared 2 ms tick, a
// reader thread per device; a session's faults end only that session. With
// `program` set, each device gets a child process instead (the cli itself
// with --station-child, or firmware-updater-sim); the window, its engine and
// its link are process-wide, so the online road (which runs through the
// window) still takes that way. The station reads the children's JSON
// records, draws their progress and collects their exit statuses.
#pragma once

#include "cli/devicelist.h"
#include "cli/devicesession.h"
#include "sim/unattended.h"

#include <QElapsedTimer>
#include <QJsonObject>
#include <QObject>
#include <QStringList>

#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <vector>

class QEventLoop;
class QProcess;
class QTimer;

namespace unattended {

class EventLog;

// Flashes `device`: writes a "device" record before and a "result" record
// after (path, serial, image and its SHA-256, firmware numbers, duration,
// exit status) and returns the status. With `bindToPath` the window hears
// of no other device (a device chosen among several); without, it takes
// the first device, and one that comes back under another path is taken
// again, as the window does.
int flashDevice(const DeviceInfo& device, const Options& options, EventLog* events, bool bindToPath);

// --confirm after the window's road: waits (options.confirmMs) for the
// written device to restart, come back and answer its version. Returns
// Success, NotBack or OtherVersion, the version it answered in
// `firmwareAfter` (-1: none).
int confirmDevice(const DeviceInfo& device, const Options& options, int* firmwareAfter);

// The one-line result of a device, for people.
// `firmwareAfter`: the version it answered after its restart (-1: not asked).
QString resultLine(const DeviceInfo& device, int status, double seconds, int firmwareAfter = -1);

struct StationOptions {
    // In-process sessions: the backend the devices are on, and what every
    // session gets (the image read once).
    HidPlatform* platform = nullptr;
    SessionOptions session;
    // Child processes instead, when set: the program run once per device.
    QString program;
    std::function<QStringList(const DeviceInfo&)> arguments;
    int childTimeoutMs = 600000; // a child or session still running after this is stopped (status Timeout)
    std::FILE* out = stdout;     // progress and result lines for people; null: none
    bool terminal = false;       // out is a terminal: progress bars redrawn in place
    EventLog* events = nullptr;  // the children's records are passed on here
};

class Station : public QObject {
    Q_OBJECT
public:
    explicit Station(StationOptions options, QObject* parent = nullptr);
    ~Station() override;

    // Flashes every device at once and waits for all. Prints one result line
    // per device; returns Success only when every device ended in Success,
    // else SomeDevicesFailed (NoDevice for an empty list).
    int flashAll(const std::vector<DeviceInfo>& devices);

    // The station loop: flashes every device that appears (checked at each
    // device notice and every `recheckMs`), prints its result, and goes on
    // until interrupt(). A device that stays attached after its run is not
    // flashed again; one that leaves and comes back is. Returns Success when
    // every run succeeded, else SomeDevicesFailed.
    int watch(HidPlatform& platform, std::uint16_t vendorId, std::uint16_t productId, int recheckMs = 500);

    // Ctrl-C: start no new device; running ones finish. A second call stops
    // the running ones too, each reported as Interrupted.
    void interrupt();

    // Results by path, in the order the runs ended.
    struct Result {
        DeviceInfo device;
        int status = -1;
        double seconds = 0;
        int firmwareAfter = -1; // --confirm: the version it answered after its restart
    };
    const std::vector<Result>& results() const { return results_; }

signals:
    void idle(); // no run is going on

private:
    struct Job {
        DeviceInfo device;
        QProcess* process = nullptr;      // a child per device, or
        DeviceSession* session = nullptr; // a session in this process
        bool done = false;
        QByteArray pending; // stdout not yet split into lines
        qint64 bytes = 0;
        qint64 total = 0;
        int percentShown = -1;
        QElapsedTimer time;
        bool killed = false;      // by the time limit
        bool interrupted = false; // by a second interrupt
    };

    void start(const DeviceInfo& device);
    void startSession(std::unique_ptr<Job> job);
    void readRecords(Job& job);
    void showProgress(Job& job, qint64 bytes, qint64 total, int percent);
    void finished(Job& job, int exitCode, bool crashed);
    void scan(HidPlatform& platform, std::uint16_t vendorId, std::uint16_t productId);
    void print(const QString& line); // a line that stays, above the bars
    void redraw();

    StationOptions options_;
    std::map<std::string, std::unique_ptr<Job>> jobs_; // running, by path
    std::vector<std::string> order_;                   // running paths, in start order
    std::vector<Result> results_;
    std::map<std::string, std::string> flashed_; // watch: attached paths already flashed -> the serial there
    bool stopping_ = false;
    int interrupts_ = 0;
    int barsDrawn_ = 0;
    QTimer* redrawTimer_ = nullptr;
    QEventLoop* stopLoop_ = nullptr; // the loop of watch()
    SessionTicker ticker_;
};

} // namespace unattended

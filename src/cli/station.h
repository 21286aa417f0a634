// The production-line station: several devices of the model flashed at once,
// with one result per device.
//
// Two ways to run a device. By default each device gets a DeviceSession in
// this process (devicesession.h): one event loop, one shared 2 ms tick, a
// reader and a writer thread per device; a session's faults end only that
// session. The cli's one-device road is a station of one; online, each
// session fetches its own image. With `program` set, each device gets a
// child process instead (firmware-updater-sim, which bench_station
// --processes compares with). The station reads the children's JSON
// records, draws their progress and collects their exit statuses.
//
// Output: progress and result lines on `out`, notices, errors and the
// Ctrl-C message on `err`. Text from a device is printed escaped
// (printable()), paths as the system names them (shownPath()).
#pragma once

#include "cli/devicelist.h"
#include "cli/devicesession.h"
#include "cli/exitstatus.h"

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

namespace cli {

class EventLog;

// The one-line result of a device, for people.
// `firmwareAfter`: the version it answered after its restart (-1: not asked).
QString resultLine(const DeviceInfo& device, int status, double seconds, int firmwareAfter = -1);
// The same for a --check, which wrote nothing: "would write IMAGE over
// FIRMWARE", or the status a real run would have ended with.
QString checkLine(const DeviceInfo& device, int status, int firmwareBefore, int imageVersion);

// The last line of --all and --watch: "N of M devices written".
QString summaryLine(int written, int devices, bool check = false);

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
    std::FILE* err = stderr;     // notices, errors, the Ctrl-C message; null: none
    bool terminal = false;       // out is a terminal: progress bars redrawn in place
    bool quiet = false;          // errors and result lines only
    // One device (the cli without --all): flashAll returns its own status
    // and prints its result line once, without the summary.
    bool single = false;
    EventLog* events = nullptr; // the children's records are passed on here
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

    // Ctrl-C: start no new device; running ones finish, and `err` says that
    // a second Ctrl-C stops them. A second call stops the running ones too,
    // each reported as Interrupted. Every device keeps its result record.
    void interrupt();

    // Results by path, in the order the runs ended.
    struct Result {
        DeviceInfo device;
        int status = -1;
        double seconds = 0;
        int firmwareAfter = -1;                     // --confirm: the version it answered after its restart
        int firmwareBefore = -1, imageVersion = -1; // as the session knew them (-1: not known)
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
    QString line(const Result& result) const; // resultLine, or checkLine for a check
    void scan(HidPlatform& platform, std::uint16_t vendorId, std::uint16_t productId);
    void print(const QString& line, std::FILE* to = nullptr); // a line that stays, above the bars
    void redraw();
    // A job's bar, fitted to `columns`: a line that wrapped would break the
    // count of lines to go back up over.
    static QString barLine(const Job& job, int columns);

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

} // namespace cli

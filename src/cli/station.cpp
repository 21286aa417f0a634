#include "cli/station.h"

#include "cli/eventlog.h"

#include <QEventLoop>
#include <QJsonDocument>
#include <QPointer>
#include <QProcess>
#include <QTimer>

#include <algorithm>

#ifndef _WIN32
#include <sys/ioctl.h>
#endif

namespace cli {

namespace {

// A child's stdout line longer than this is not a record: it is dropped.
constexpr int kMaxRecordBytes = 64 * 1024;
// Time a child gets after its limit, or after a second Ctrl-C, to end.
constexpr int kKillGraceMs = 5000;

QString describe(const DeviceInfo& d)
{
    const QString path = QString::fromStdString(printable(shownPath(d.path)));
    return d.serial.empty()
               ? path
               : QStringLiteral("%1 (serial %2)").arg(path, QString::fromStdString(printable(d.serial)));
}

// Columns of the terminal on `out`; 80 when it cannot be told.
int terminalColumns(std::FILE* out)
{
#ifdef TIOCGWINSZ
    struct winsize size {};
    if (::ioctl(fileno(out), TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
#else
    (void)out;
#endif
    bool ok = false;
    const int columns = qEnvironmentVariableIntValue("COLUMNS", &ok);
    return ok && columns > 0 ? columns : 80;
}

} // namespace

QString resultLine(const DeviceInfo& device, int status, double seconds, int firmwareAfter)
{
    return QStringLiteral("%1 %2: status %3, %4%5 (%6 s)")
        .arg(status == Success ? QStringLiteral("OK  ") : QStringLiteral("FAIL"), describe(device))
        .arg(status)
        .arg(statusMeaning(status))
        .arg(firmwareAfter < 0 ? QString() : QStringLiteral("; back with firmware %1").arg(firmwareAfter))
        .arg(seconds, 0, 'f', 1);
}

QString checkLine(const DeviceInfo& device, int status, int firmwareBefore, int imageVersion)
{
    if (status == Success)
        return QStringLiteral("OK   %1: would write %2 over %3 (check: nothing written)")
            .arg(describe(device))
            .arg(imageVersion)
            .arg(firmwareBefore);
    return QStringLiteral("FAIL %1: status %2, %3 (check)")
        .arg(describe(device))
        .arg(status)
        .arg(statusMeaning(status));
}

QString Station::line(const Result& r) const
{
    return options_.session.check ? checkLine(r.device, r.status, r.firmwareBefore, r.imageVersion)
                                  : resultLine(r.device, r.status, r.seconds, r.firmwareAfter);
}

QString summaryLine(int written, int devices, bool check)
{
    return QStringLiteral("%1 of %2 devices %3")
        .arg(written)
        .arg(devices)
        .arg(check ? QStringLiteral("would be written (check: nothing written)") : QStringLiteral("written"));
}

Station::Station(StationOptions options, QObject* parent)
    : QObject(parent)
    , options_(std::move(options))
{
    redrawTimer_ = new QTimer(this);
    redrawTimer_->setInterval(200);
    connect(redrawTimer_, &QTimer::timeout, this, &Station::redraw);
}

Station::~Station()
{
    for (auto& [path, job] : jobs_) {
        if (job->session) {
            job->session->disconnect(this);
            delete job->session; // closes its handles, joins its reader
            continue;
        }
        job->process->disconnect(this);
        job->process->kill();
        job->process->waitForFinished(kKillGraceMs);
    }
}

void Station::print(const QString& line, std::FILE* to)
{
    if (!to)
        to = options_.out;
    if (!to)
        return;
    if (options_.terminal && barsDrawn_ > 0) {
        // Up over the bars, clear them; they are drawn again below.
        std::fprintf(options_.out, "\x1b[%dA\r\x1b[J", barsDrawn_);
        std::fflush(options_.out);
        barsDrawn_ = 0;
    }
    std::fprintf(to, "%s\n", qPrintable(line));
    std::fflush(to);
    if (options_.terminal)
        redraw();
}

QString Station::barLine(const Job& job, int columns)
{
    const QString name = QString::fromStdString(
        printable(job.device.serial.empty() ? shownPath(job.device.path) : job.device.serial));
    const int barWidth = std::clamp(columns - 21 - 34, 4, 40);
    const QString line = QStringLiteral("%1 %2")
                             .arg(name.right(20), -20)
                             .arg(progressLine(job.bytes, job.total, job.time.elapsed(), barWidth));
    return line.left(std::max(1, columns - 1));
}

void Station::redraw()
{
    if (!options_.out || !options_.terminal)
        return;
    if (barsDrawn_ > 0)
        std::fprintf(options_.out, "\x1b[%dA\r\x1b[J", barsDrawn_);
    barsDrawn_ = 0;
    // Each bar on one line of the terminal, however narrow: a line that
    // wrapped would break the count of lines to go back up over.
    const int columns = terminalColumns(options_.out);
    for (const std::string& path : order_) {
        std::fprintf(options_.out, "%s\n", qPrintable(barLine(*jobs_.at(path), columns)));
        ++barsDrawn_;
    }
    std::fflush(options_.out);
}

void Station::start(const DeviceInfo& device)
{
    auto job = std::make_unique<Job>();
    job->device = device;
    if (options_.program.isEmpty()) {
        startSession(std::move(job));
        return;
    }
    job->process = new QProcess(this);
    job->process->setStandardErrorFile(QProcess::nullDevice());
    job->time.start();
    Job* j = job.get();
    connect(j->process, &QProcess::readyReadStandardOutput, this, [this, j] { readRecords(*j); });
    connect(
        j->process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), this,
        [this, j](int code, QProcess::ExitStatus how) { finished(*j, code, how == QProcess::CrashExit); });
    connect(j->process, &QProcess::errorOccurred, this, [this, j](QProcess::ProcessError e) {
        if (e == QProcess::FailedToStart)
            finished(*j, -1, true);
    });
    // A child past its limit is stopped; its device alone fails.
    // The timers belong to the process object: they die with it and never
    // reach a job that has ended.
    QTimer::singleShot(options_.childTimeoutMs, j->process, [p = j->process] {
        p->setProperty("killed", true);
        p->terminate();
        QTimer::singleShot(kKillGraceMs, p, [p] { p->kill(); });
    });
    order_.push_back(device.path);
    jobs_[device.path] = std::move(job);
    if (!options_.terminal && !options_.quiet)
        print(QStringLiteral("start %1").arg(describe(device)));
    j->process->start(options_.program, options_.arguments(device));
    if (options_.terminal)
        redrawTimer_->start();
}

void Station::startSession(std::unique_ptr<Job> job)
{
    Job* j = job.get();
    const DeviceInfo device = j->device;
    j->time.start();
    j->session =
        new DeviceSession(*options_.platform, device, options_.session, options_.events, ticker_, this);
    connect(j->session, &DeviceSession::notice, this, [this, j](notices::Id id, int status) {
        // Errors always; the others (the completion, the notices after
        // which the run goes on) not with -q.
        if (status <= 0 && options_.quiet)
            return;
        print(QStringLiteral("%1: %2").arg(describe(j->device), terminalText(id)), options_.err);
    });
    connect(j->session, &DeviceSession::detail, this, [this, j](const QString& text) {
        print(QStringLiteral("%1: %2").arg(describe(j->device), text), options_.err);
    });
    connect(j->session, &DeviceSession::progress, this, [this, j](qint64 bytes, qint64 total) {
        showProgress(*j, bytes, total, total > 0 ? int(bytes * 100 / total) : 0);
    });
    connect(j->session, &DeviceSession::finished, this, [this, j](int status) {
        // Out of the session's own call stack: it is deleted here.
        QTimer::singleShot(0, this, [this, j, status] { finished(*j, status, false); });
    });
    // The station's limit over the session's own, as for a child.
    QTimer::singleShot(options_.childTimeoutMs, j->session, [s = j->session] { s->stop(Timeout); });
    order_.push_back(device.path);
    jobs_[device.path] = std::move(job);
    if (!options_.terminal && !options_.quiet)
        print(QStringLiteral("start %1").arg(describe(device)));
    j->session->begin();
    if (options_.terminal)
        redrawTimer_->start();
}

void Station::showProgress(Job& job, qint64 bytes, qint64 total, int percent)
{
    job.bytes = bytes;
    job.total = total;
    if (!options_.terminal && !options_.quiet && options_.out && percent / 10 != job.percentShown / 10) {
        job.percentShown = percent;
        print(QStringLiteral("%1: progress %2%  %3 of %4 bytes")
                  .arg(describe(job.device))
                  .arg(percent, 3)
                  .arg(job.bytes)
                  .arg(job.total));
    }
}

void Station::readRecords(Job& job)
{
    job.pending += job.process->readAllStandardOutput();
    for (;;) {
        const int end = job.pending.indexOf('\n');
        if (end < 0) {
            if (job.pending.size() > kMaxRecordBytes)
                job.pending.clear();
            return;
        }
        const QByteArray line = job.pending.left(end);
        job.pending.remove(0, end + 1);
        if (line.size() > kMaxRecordBytes)
            continue;
        QJsonParseError error;
        const QJsonDocument doc = QJsonDocument::fromJson(line, &error);
        if (error.error != QJsonParseError::NoError || !doc.isObject())
            continue;
        const QJsonObject record = doc.object();
        if (options_.events)
            options_.events->writeAsIs(record);
        if (record.value("event").toString() != QLatin1String("progress"))
            continue;
        showProgress(job, qint64(record.value("bytes").toDouble()), qint64(record.value("total").toDouble()),
                     record.value("percent").toInt());
    }
}

void Station::finished(Job& job, int exitCode, bool crashed)
{
    if (job.done)
        return;
    job.done = true;
    if (job.process) {
        readRecords(job);
        job.killed = job.process->property("killed").toBool();
    }
    int status = exitCode;
    if (job.killed)
        status = Timeout;
    else if ((job.process && job.interrupted) || crashed || exitCode < 0)
        status = Interrupted;
    const double seconds = job.time.elapsed() / 1000.0;
    const int firmwareAfter = job.session ? job.session->firmwareAfter() : -1;
    results_.push_back(Result{job.device, status, seconds, firmwareAfter,
                              job.session ? job.session->firmwareBefore() : -1,
                              job.session ? job.session->imageVersion() : -1});
    // The child's (or session's) own result record came through; one of
    // the station's stands for a child that could not write it.
    if (job.process && (job.killed || job.interrupted || crashed) && options_.events) {
        options_.events->setContext(QJsonObject{{"path", QString::fromStdString(shownPath(job.device.path))},
                                                {"serial", QString::fromStdString(job.device.serial)}});
        ResultFacts facts;
        facts.seconds = seconds;
        facts.status = status;
        options_.events->write(resultRecord(facts));
    }
    const std::string path = job.device.path;
    flashed_[path] = job.device.serial;
    order_.erase(std::remove(order_.begin(), order_.end(), path), order_.end());
    std::unique_ptr<Job> done = std::move(jobs_[path]);
    jobs_.erase(path);
    if (done->process) {
        done->process->disconnect(this);
        done->process->deleteLater();
    } else {
        done->session->disconnect(this);
        done->session->deleteLater();
    }
    // On a terminal the bar's last state stays above the result line.
    if (options_.terminal && done->total > 0)
        print(barLine(*done, terminalColumns(options_.out)));
    if (options_.single || !options_.quiet)
        print(line(results_.back()));
    if (jobs_.empty()) {
        redrawTimer_->stop();
        emit idle();
    }
}

int Station::flashAll(const std::vector<DeviceInfo>& devices)
{
    if (devices.empty())
        return NoDevice;
    QEventLoop loop;
    connect(this, &Station::idle, &loop, &QEventLoop::quit);
    for (const DeviceInfo& d : devices)
        start(d);
    if (!jobs_.empty())
        loop.exec();
    if (options_.single) {
        const bool ran = !results_.empty();
        if (!ran)
            print(line(Result{devices.front(), Interrupted}));
        return ran ? results_.front().status : int(Interrupted);
    }
    // The lines in the order the devices were listed, whatever the order
    // they ended in.
    int failed = 0;
    if (!options_.quiet)
        print(QStringLiteral("results:"));
    for (const DeviceInfo& d : devices) {
        auto it = std::find_if(results_.begin(), results_.end(),
                               [&](const Result& r) { return r.device.path == d.path; });
        const int status = it == results_.end() ? Interrupted : it->status;
        failed += status != Success;
        print(line(it == results_.end() ? Result{d, status} : *it));
    }
    print(summaryLine(int(devices.size()) - failed, int(devices.size()), options_.session.check));
    return failed == 0 ? Success : SomeDevicesFailed;
}

void Station::scan(HidPlatform& platform, std::uint16_t vendorId, std::uint16_t productId)
{
    const std::vector<DeviceInfo> devices = listDevices(platform, vendorId, productId);
    // A device that left may be flashed again when it comes back.
    for (auto it = flashed_.begin(); it != flashed_.end();) {
        const bool attached = std::any_of(devices.begin(), devices.end(),
                                          [&](const DeviceInfo& d) { return d.path == it->first; });
        it = attached || jobs_.count(it->first) ? std::next(it) : flashed_.erase(it);
    }
    if (stopping_)
        return;
    for (const DeviceInfo& d : devices) {
        // A running job's device back under another path (a restart) is no
        // new device.
        const bool running = std::any_of(jobs_.begin(), jobs_.end(), [&](const auto& j) {
            return !d.serial.empty() && j.second->device.serial == d.serial;
        });
        if (running)
            flashed_[d.path] = d.serial;
        // Another serial number on a path flashed before: another device.
        const auto seen = flashed_.find(d.path);
        if (seen != flashed_.end() && seen->second != d.serial)
            flashed_.erase(seen);
        // Not writable yet: udev may still be setting its permissions.
        if (d.writable && !jobs_.count(d.path) && !flashed_.count(d.path))
            start(d);
    }
}

int Station::watch(HidPlatform& platform, std::uint16_t vendorId, std::uint16_t productId, int recheckMs)
{
    QEventLoop loop;
    QTimer recheck;
    connect(&recheck, &QTimer::timeout, this, [&] { scan(platform, vendorId, productId); });
    connect(this, &Station::idle, &loop, [&] {
        if (stopping_)
            loop.quit();
    });
    // Notices make a new device start at once; the recheck catches what a
    // notice does not tell (permissions set after the node appeared).
    QObject context;
    platform.registerNotices(
        nullptr, [&, guard = QPointer<QObject>(&context)](HidNoticeKind, const std::string&) {
            if (guard)
                QTimer::singleShot(0, &context, [&] { scan(platform, vendorId, productId); });
        });
    if (!options_.quiet)
        print(QStringLiteral("waiting for devices (Ctrl-C ends)"), options_.err);
    scan(platform, vendorId, productId);
    recheck.start(recheckMs);
    stopLoop_ = &loop;
    if (!stopping_ || !jobs_.empty()) // an interrupt may have come already
        loop.exec();
    stopLoop_ = nullptr;
    const auto written =
        std::count_if(results_.begin(), results_.end(), [](const Result& r) { return r.status == Success; });
    print(summaryLine(int(written), int(results_.size()), options_.session.check));
    return written == qint64(results_.size()) ? Success : SomeDevicesFailed;
}

void Station::interrupt()
{
    ++interrupts_;
    stopping_ = true;
    if (interrupts_ == 1 && !jobs_.empty()) {
        print(QStringLiteral("stopping: %1 running device(s) finish first (Ctrl-C again to stop them)")
                  .arg(jobs_.size()),
              options_.err);
        return;
    }
    for (auto& [path, job] : jobs_) {
        job->interrupted = true;
        if (job->session) {
            job->session->stop(Interrupted);
            continue;
        }
        job->process->terminate();
        QProcess* p = job->process;
        QTimer::singleShot(kKillGraceMs, p, [p] { p->kill(); });
    }
    if (jobs_.empty() && stopLoop_)
        stopLoop_->quit();
}

} // namespace cli

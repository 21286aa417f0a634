// The tests that run inside the Linux guest (scripts/guest/run-tests): the
// Linux HID backend on a real kernel HID stack, with virtual-hid-uhid as the
// device, and firmware-updater-cli doing whole upgrades through it.
//
// Each test prints "GUEST-TEST <name> PASS" or "GUEST-TEST <name> FAIL: why",
// and the run ends with "N passed, M failed". Every wait is bounded.
#include "image/firmwareimage.h"
#include "sim/exitstatus.h"
#include "usb/discovery.h"
#include "usb/hidplatform.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStringList>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <functional>
#include <future>
#include <thread>
#include <unistd.h>

namespace {

struct Paths {
    QString uhid = QStringLiteral("/bin/virtual-hid-uhid");
    QString cli = QStringLiteral("/bin/firmware-updater-cli");
    QString image = QStringLiteral("/data/good.fw");
    QString work = QStringLiteral("/tmp/guest-tests");
};
Paths g_paths;

// Failure of the running test: the first failed check's message.
struct Failure {
    QString message;
};

#define CHECK(cond, msg)                                                                                     \
    do {                                                                                                     \
        if (!(cond))                                                                                         \
            throw Failure{QStringLiteral("%1 (line %2)").arg(msg).arg(__LINE__)};                            \
    } while (0)

void note(const QString& text)
{
    std::printf("  %s\n", qPrintable(text));
    std::fflush(stdout);
}

// Runs the event loop until `done` holds or `timeoutMs` passes; true when done.
bool waitUntil(const std::function<bool()>& done, int timeoutMs)
{
    if (done())
        return true;
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    // Re-checked after every event the loop handles, and at least every 20 ms.
    QTimer recheck;
    QObject::connect(&recheck, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    deadline.start(timeoutMs);
    recheck.start(20);
    while (!done() && deadline.isActive())
        loop.exec();
    return done();
}

// virtual-hid-uhid as a child process, driven through its standard input
// and followed through the lines it prints.
class Device {
public:
    explicit Device(const QStringList& args)
    {
        process_.setProgram(g_paths.uhid);
        process_.setArguments(args);
        process_.setProcessChannelMode(QProcess::SeparateChannels);
        QObject::connect(&process_, &QProcess::readyReadStandardOutput, [this] {
            while (process_.canReadLine())
                lines_ << QString::fromUtf8(process_.readLine()).trimmed();
        });
        QObject::connect(&process_, &QProcess::readyReadStandardError,
                         [this] { std::fputs(process_.readAllStandardError().constData(), stdout); });
        process_.start();
        started_ = process_.waitForStarted(5000);
    }
    ~Device() { stop(); }

    // Waits for the `count`th line starting with `prefix`.
    bool waitLine(const QString& prefix, int count = 1, int timeoutMs = 5000)
    {
        return waitUntil([&] { return linesWith(prefix) >= count; }, timeoutMs);
    }
    int linesWith(const QString& prefix) const
    {
        int n = 0;
        for (const QString& l : lines_)
            n += l.startsWith(prefix) ? 1 : 0;
        return n;
    }
    bool started() const { return started_; }
    void command(const char* line)
    {
        process_.write(line);
        process_.write("\n");
        process_.waitForBytesWritten(1000);
    }
    // SIGTERM: the program dumps its images and removes its devices.
    bool stop()
    {
        if (process_.state() == QProcess::NotRunning)
            return true;
        process_.terminate();
        if (process_.waitForFinished(5000))
            return process_.exitStatus() == QProcess::NormalExit && process_.exitCode() == 0;
        process_.kill();
        process_.waitForFinished(2000);
        return false;
    }

private:
    QProcess process_;
    QStringList lines_;
    bool started_ = false;
};

struct CliRun {
    int status = -1;
    bool finished = false;
    QString output;
    qint64 ms = 0;
};

// A child process that drops root before it runs, as a logged-in user
// without the udev rule would run the cli.
class UnprivilegedProcess : public QProcess {
protected:
    void setupChildProcess() override
    {
        if (setgid(kNobody) != 0 || setuid(kNobody) != 0)
            _exit(127);
    }

public:
    static constexpr gid_t kNobody = 65534;
};

CliRun runCli(const QStringList& args, int timeoutMs, bool unprivileged = false)
{
    CliRun r;
    UnprivilegedProcess dropping;
    QProcess plain;
    QProcess& p = unprivileged ? dropping : plain;
    if (unprivileged) {
        // Its own runtime directory, as a user's session would have.
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
        p.setProcessEnvironment(env);
    }
    p.setProcessChannelMode(QProcess::MergedChannels);
    QElapsedTimer t;
    t.start();
    p.start(g_paths.cli, args);
    if (!p.waitForStarted(5000)) {
        r.output = QStringLiteral("cannot start ") + g_paths.cli;
        return r;
    }
    QObject::connect(&p, &QProcess::readyRead, [&] { r.output += QString::fromUtf8(p.readAll()); });
    r.finished = waitUntil([&] { return p.state() == QProcess::NotRunning; }, timeoutMs);
    if (!r.finished) {
        p.kill();
        p.waitForFinished(2000);
    }
    r.output += QString::fromUtf8(p.readAll());
    r.ms = t.elapsed();
    r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    note(QStringLiteral("cli %1: status %2 after %3 ms (emulated time)")
             .arg(args.join(' '))
             .arg(r.status)
             .arg(r.ms));
    CHECK(r.finished, "the cli did not finish in time");
    return r;
}

HidPlatform& platform()
{
    return *nativeHidPlatform();
}

// The ids of a device path as the window's notice handling reads them.
QString idsInPath(const std::string& path)
{
    std::string vendor;
    std::string product;
    if (!idsFromDevicePath(path, &vendor, &product))
        return {};
    return QString::fromStdString(vendor + ":" + product);
}

// Paths of the present interfaces whose attributes carry the given ids.
std::vector<std::string> findByIds(std::uint16_t vid, std::uint16_t pid)
{
    std::vector<std::string> found;
    for (const std::string& path : platform().enumerate()) {
        const HidHandle h = platform().openProbe(path);
        if (h == kInvalidHidHandle)
            continue;
        HidAttributes a;
        const bool ok = platform().getAttributes(h, &a);
        platform().close(h);
        if (ok && a.vendorId == vid && a.productId == pid)
            found.push_back(path);
    }
    return found;
}

std::string theDevice()
{
    const auto found = findByIds(0x0483, 0x0525);
    CHECK(found.size() == 1, QStringLiteral("expected one 0483:0525 interface, found %1").arg(found.size()));
    return found.front();
}

// Waits until the device program has created its device and the backend
// lists it.
void waitPresent(Device& dev)
{
    CHECK(dev.started(), "virtual-hid-uhid did not start");
    CHECK(dev.waitLine("created 0483:0525"), "the device was not created");
    // The kernel adds the hidraw node asynchronously to UHID_CREATE2.
    CHECK(waitUntil([] { return findByIds(0x0483, 0x0525).size() == 1; }, 5000), "device not found");
}

// Reads one input report on a thread of its own; gives up after `timeoutMs`
// by closing the handle, which ends the blocked read. Returns the bytes, or
// an empty array when the read failed or timed out.
QByteArray readReport(HidHandle handle, int timeoutMs, bool* timedOut = nullptr)
{
    std::promise<QByteArray> result;
    auto future = result.get_future();
    std::thread reader([&] {
        std::uint8_t buf[20] = {};
        const int n = platform().readInput(handle, buf, sizeof buf);
        result.set_value(n < 0 ? QByteArray() : QByteArray(reinterpret_cast<char*>(buf), n));
    });
    const bool late = future.wait_for(std::chrono::milliseconds(timeoutMs)) != std::future_status::ready;
    if (late)
        platform().close(handle);
    reader.join();
    if (timedOut)
        *timedOut = late;
    return future.get();
}

int at(const QByteArray& bytes, int i)
{
    return quint8(bytes.at(i));
}

QByteArray frame(std::initializer_list<std::uint8_t> bytes)
{
    QByteArray f(11, '\0');
    int i = 0;
    for (std::uint8_t b : bytes)
        f[i++] = char(b);
    return f;
}

bool send(HidHandle handle, const QByteArray& f, std::size_t length = 11)
{
    QByteArray padded = f;
    padded.resize(int(length));
    return platform().setFeature(handle, reinterpret_cast<const std::uint8_t*>(padded.constData()), length);
}

// Sends a frame and reads the next report; true when it is a 20-byte reply
// with the given code and sub-code (-1: any).
bool ask(HidHandle r, HidHandle w, const QByteArray& f, int code, int sub = -1, QByteArray* got = nullptr)
{
    const QByteArray reply = send(w, f) ? readReport(r, 3000) : QByteArray();
    if (got)
        *got = reply;
    return reply.size() == 20 && at(reply, 0) == 0x80 && at(reply, 1) == code &&
           (sub < 0 || at(reply, 2) == sub);
}

// The device opened for reading and for writing, as the window opens it;
// both handles are closed when it goes out of scope.
struct OpenDevice {
    HidHandle r = kInvalidHidHandle;
    HidHandle w = kInvalidHidHandle;
    OpenDevice()
    {
        const std::string path = theDevice();
        r = platform().openRead(path);
        w = platform().openWrite(path);
        if (r == kInvalidHidHandle || w == kInvalidHidHandle) {
            closeAll();
            throw Failure{QStringLiteral("open failed: %1").arg(platform().lastError().c_str())};
        }
    }
    ~OpenDevice() { closeAll(); }
    void closeAll()
    {
        if (r != kInvalidHidHandle)
            platform().close(r);
        if (w != kInvalidHidHandle)
            platform().close(w);
        r = w = kInvalidHidHandle;
    }
};

// One registration for the whole run; tests install the handler they need.
std::function<void(HidNoticeKind, const std::string&)> g_noticeHandler;

// ------------------------------------------------------------------ tests

void enumerationFindsTheDeviceByItsIds()
{
    Device dev({"--other", "1234:5678", "--other", "0483:0526"});
    waitPresent(dev);
    CHECK(waitUntil([] { return platform().enumerate().size() >= 3; }, 5000),
          "fewer than 3 hidraw interfaces");
    const auto all = platform().enumerate();
    note(QStringLiteral("%1 interfaces").arg(all.size()));
    int ours = 0;
    int others = 0;
    for (const std::string& path : all) {
        const HidHandle h = platform().openProbe(path);
        CHECK(h != kInvalidHidHandle, QStringLiteral("probe open failed: %1").arg(path.c_str()));
        HidAttributes a;
        CHECK(platform().getAttributes(h, &a), "attributes not read");
        platform().close(h);
        const QString ids = QStringLiteral("%1:%2")
                                .arg(a.vendorId, 4, 16, QLatin1Char('0'))
                                .arg(a.productId, 4, 16, QLatin1Char('0'));
        note(QStringLiteral("%1 -> %2").arg(path.c_str(), ids));
        CHECK(idsInPath(path).toLower() == ids, QStringLiteral("path does not carry the ids %1").arg(ids));
        if (a.vendorId == 0x0483 && a.productId == 0x0525)
            ++ours;
        else if ((a.vendorId == 0x1234 && a.productId == 0x5678) ||
                 (a.vendorId == 0x0483 && a.productId == 0x0526))
            ++others;
    }
    CHECK(ours == 1, "our device not found exactly once");
    CHECK(others == 2, "the other devices are not listed with their own ids");
    CHECK(findByIds(0x0483, 0x0525).size() == 1, "matching by ids does not single out the device");
}

// The capabilities the backend reads for a device started with `args`.
HidCaps capsOfDevice(const QStringList& args)
{
    Device dev(args);
    waitPresent(dev);
    const HidHandle w = platform().openWrite(theDevice());
    CHECK(w != kInvalidHidHandle, "write open failed");
    HidCaps caps;
    const bool ok = platform().getCaps(w, &caps);
    platform().close(w);
    CHECK(ok, "caps not read");
    note(QStringLiteral("%1: feature %2, input %3")
             .arg(args.join(' '))
             .arg(caps.featureReportByteLength)
             .arg(caps.inputReportByteLength));
    return caps;
}

void featureLengthComesFromTheDescriptor()
{
    HidCaps caps = capsOfDevice({});
    CHECK(caps.featureReportByteLength == 11, "feature report length is not 11");
    CHECK(caps.inputReportByteLength == 20, "input report length is not 20");
    CHECK(waitUntil([] { return findByIds(0x0483, 0x0525).empty(); }, 5000), "device did not go away");
    // Another descriptor, other lengths: they are parsed, not assumed.
    caps = capsOfDevice({"--feature-bytes", "15", "--input-bytes", "12"});
    CHECK(caps.featureReportByteLength == 16, "a 15-byte feature report is not reported as 16");
    CHECK(caps.inputReportByteLength == 13, "a 12-byte input report is not reported as 13");
}

void framesReachTheDeviceAndRepliesComeBack()
{
    Device dev({"--firmware", "4321", "--refuse-write", "3"});
    waitPresent(dev);
    const OpenDevice d;
    QByteArray reply;
    CHECK(ask(d.r, d.w, frame({0x80, 0x03, 0x01}), 0x0A, -1, &reply), "no 20-byte version reply");
    const int firmware = at(reply, 6) | at(reply, 7) << 8;
    CHECK(firmware == 4321, QStringLiteral("firmware number %1").arg(firmware));
    CHECK(ask(d.r, d.w, frame({0x80, 0x0C, 0x54, 0x02}), 0x0C, 0x55), "no start acknowledgement");
    // The third write is refused by the device: the write reports failure.
    CHECK(!send(d.w, frame({0x80, 0x0C, 0x23, 0x01})), "a refused write reported success");
    // The next one goes through again and is answered (DSP handshake).
    CHECK(ask(d.r, d.w, frame({0x80, 0x0C, 0x23, 0x01}), 0x0C, 0x56), "no DSP acknowledgement");
}

void backToBackReportsArriveInOrder()
{
    // Eight reports queued at the same moment before the reply, each 12
    // bytes long (shorter than the declared 20).
    Device dev({"--burst-before", "8", "--input-report-length", "12", "--firmware", "1234"});
    waitPresent(dev);
    const OpenDevice opened;
    const HidHandle r = opened.r;
    CHECK(send(opened.w, frame({0x80, 0x03, 0x01})), "version query not written");
    for (int i = 0; i < 8; ++i) {
        const QByteArray burst = readReport(r, 3000);
        CHECK(burst.size() == 12, QStringLiteral("report %1 has %2 bytes, not 12 (%3)")
                                      .arg(i)
                                      .arg(burst.size())
                                      .arg(platform().lastError().c_str()));
        CHECK(at(burst, 0) == 0x80 && at(burst, 1) == 0x7E && at(burst, 2) == i,
              QStringLiteral("report %1 out of order").arg(i));
    }
    const QByteArray reply = readReport(r, 3000);
    CHECK(reply.size() == 12 && at(reply, 1) == 0x0A, "the reply did not follow the burst");
    CHECK((at(reply, 6) | at(reply, 7) << 8) == 1234, "the reply's firmware number is wrong");
}

// The device notices for 0483:0525 from its first arrival on, while it lives.
// Notices still on their way from an earlier test come before that arrival
// and are left out.
class NoticeLog {
public:
    NoticeLog()
    {
        g_noticeHandler = [this](HidNoticeKind kind, const std::string& path) {
            const bool ours = idsInPath(path) == QLatin1String("0483:0525");
            note(QStringLiteral("%1 %2%3").arg(kind == HidNoticeKind::Arrival ? "arrival" : "removal",
                                               path.c_str(), ours ? "" : " (other ids)"));
            if (ours && (kind == HidNoticeKind::Arrival || arrivals_ > 0))
                ++(kind == HidNoticeKind::Arrival ? arrivals_ : removals_);
        };
    }
    ~NoticeLog() { g_noticeHandler = nullptr; }
    int arrivals() const { return arrivals_; }
    int removals() const { return removals_; }

private:
    int arrivals_ = 0;
    int removals_ = 0;
};

void noticesComeThroughKernelUevents()
{
    const bool udevRunning = QFileInfo::exists(QStringLiteral("/run/udev/control"));
    note(udevRunning ? QStringLiteral("a udev daemon runs")
                     : QStringLiteral("no udev daemon: kernel uevents"));
    NoticeLog log;
    {
        Device dev({"--other", "1234:5678"});
        CHECK(dev.waitLine("created 0483:0525"), "the device was not created");
        CHECK(waitUntil([&] { return log.arrivals() >= 1; }, 5000), "no arrival notice");
        dev.command("unplug");
        CHECK(dev.waitLine("destroyed 0483:0525"), "the device was not destroyed");
        CHECK(waitUntil([&] { return log.removals() >= 1; }, 5000), "no removal notice");
        dev.command("plug");
        CHECK(waitUntil([&] { return log.arrivals() >= 2; }, 5000), "no arrival notice on replug");
        CHECK(log.removals() == 1, "removal notices for a device that stayed");
    }
    CHECK(waitUntil([&] { return log.removals() >= 2; }, 5000), "no removal at program exit");
    CHECK(log.arrivals() == 2, "more arrivals than plugs");
}

void removalEndsABlockedRead()
{
    Device dev({});
    waitPresent(dev);
    const std::string path = theDevice();
    const HidHandle r = platform().openRead(path);
    CHECK(r != kInvalidHidHandle, "read open failed");

    std::promise<qint64> ended;
    auto future = ended.get_future();
    QElapsedTimer t;
    std::thread reader([&] {
        std::uint8_t buf[20];
        const int n = platform().readInput(r, buf, sizeof buf);
        ended.set_value(n);
    });
    // Let the reader block (no report is coming), then pull the device.
    CHECK(future.wait_for(std::chrono::milliseconds(300)) == std::future_status::timeout,
          "read returned without a report");
    t.start();
    dev.command("unplug");
    const bool done = future.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    const qint64 ms = t.elapsed();
    if (!done)
        platform().close(r); // ends the read, so the thread can be joined
    reader.join();
    CHECK(done, "a blocked read survived the removal for 5 s");
    const qint64 n = future.get();
    note(QStringLiteral("read ended %1 ms after the unplug command, result %2").arg(ms).arg(n));
    CHECK(n == -1, "the read did not fail");
    if (done)
        platform().close(r);
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QString imagesDir()
{
    return g_paths.work + QStringLiteral("/images");
}

void upgradeWithTheCli()
{
    const QByteArray image = readFile(g_paths.image);
    CHECK(!image.isEmpty(), "image file missing");
    const QByteArray dsp = fwimage::dspImage(image);
    const QByteArray arm = fwimage::armImage(image);
    QDir().mkpath(imagesDir());
    QFile::remove(imagesDir() + "/dsp.bin");
    QFile::remove(imagesDir() + "/arm.bin");

    Device dev(
        {"--other", "1234:5678", "--dump-dir", imagesDir(), "--dsp-length", QString::number(dsp.size())});
    waitPresent(dev);
    const CliRun run = runCli({"--image", g_paths.image}, 60000);
    if (run.status != unattended::Success)
        std::printf("%s\n", qPrintable(run.output));
    CHECK(run.status == unattended::Success, QStringLiteral("exit status %1").arg(run.status));
    CHECK(dev.stop(), "the device program did not end cleanly");
    const QByteArray gotDsp = readFile(imagesDir() + "/dsp.bin");
    const QByteArray gotArm = readFile(imagesDir() + "/arm.bin");
    note(QStringLiteral("device holds DSP %1/%2 bytes, ARM %3/%4 bytes")
             .arg(gotDsp.size())
             .arg(dsp.size())
             .arg(gotArm.size())
             .arg(arm.size()));
    CHECK(gotDsp == dsp, "the DSP image differs from the file's");
    CHECK(gotArm == arm, "the ARM image differs from the file's");
}

void unplugDuringDspEndsInError2()
{
    const int dspBlocks = fwimage::dspImage(readFile(g_paths.image)).size() / 8;
    CHECK(dspBlocks > 100, "the image's DSP part is too short for this test");
    // Version query, start, DSP handshake, then DSP blocks: leave after 60 of them.
    Device dev({"--unplug-after-frames", "63", "--replug-after-ms", "1500"});
    waitPresent(dev);
    const CliRun run = runCli({"--image", g_paths.image}, 60000);
    std::printf("%s\n", qPrintable(run.output.trimmed()));
    CHECK(dev.linesWith("destroyed 0483:0525") == 1, "the device did not leave the bus");
    CHECK(run.status == unattended::Error2, QStringLiteral("exit status %1, not Error 2").arg(run.status));
    CHECK(run.output.contains(QLatin1String("Error 2")), "the notice \"Error 2\" was not printed");
    // The window saw both through the backend's kernel-uevent notices.
    CHECK(run.output.contains(QLatin1String("remove my Hid")), "the window saw no removal");
    CHECK(run.output.contains(QLatin1String("insert my Hid")), "the window saw no arrival");

    // The device comes back and is found again, and it answers.
    CHECK(dev.waitLine("created 0483:0525", 2, 10000), "the device did not come back");
    CHECK(waitUntil([] { return findByIds(0x0483, 0x0525).size() == 1; }, 5000),
          "the replugged device not found");
    const OpenDevice d;
    CHECK(ask(d.r, d.w, frame({0x80, 0x03, 0x01}), 0x0A), "no version reply from the replugged device");
}

void noDeviceEndsWithinTheWait()
{
    CHECK(findByIds(0x0483, 0x0525).empty(), "a device is still present");
    const CliRun run = runCli({"--image", g_paths.image, "--wait-device", "2"}, 30000);
    CHECK(run.status == unattended::NoDevice, QStringLiteral("exit status %1, not NoDevice").arg(run.status));
}

void permissionProblemIsReported()
{
    Device dev({"--verbose"}); // a line per frame: none may come
    waitPresent(dev);
    const CliRun run = runCli({"--image", g_paths.image, "--wait-device", "1"}, 30000, true);
    std::printf("%s\n", qPrintable(run.output.trimmed()));
    CHECK(run.status == unattended::LinkFailure,
          QStringLiteral("exit status %1, not LinkFailure").arg(run.status));
    CHECK(run.output.contains(QLatin1String("Permission denied")), "the cause was not printed");
    CHECK(run.output.contains(QLatin1String("70-firmware-updater.rules")), "no hint at the udev rule");
    CHECK(dev.linesWith("frame") == 0, "frames reached the device");
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    std::signal(SIGPIPE, SIG_IGN);
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == QLatin1String("--uhid"))
            g_paths.uhid = args[i + 1];
        else if (args[i] == QLatin1String("--cli"))
            g_paths.cli = args[i + 1];
        else if (args[i] == QLatin1String("--image"))
            g_paths.image = args[i + 1];
        else if (args[i] == QLatin1String("--work"))
            g_paths.work = args[i + 1];
    }
    QDir().mkpath(g_paths.work);

    HidPlatform* native = nativeHidPlatform();
    if (!native) {
        std::printf("GUEST-TEST backend FAIL: no native HID backend\n0 passed, 1 failed\n");
        return 1;
    }
    setHidPlatform(native);
    const bool registered = native->registerNotices(nullptr, [](HidNoticeKind kind, const std::string& path) {
        if (g_noticeHandler)
            g_noticeHandler(kind, path);
    });

    const std::vector<std::pair<const char*, void (*)()>> tests = {
        {"enumeration-by-ids", enumerationFindsTheDeviceByItsIds},
        {"feature-length-from-descriptor", featureLengthComesFromTheDescriptor},
        {"frames-and-replies", framesReachTheDeviceAndRepliesComeBack},
        {"back-to-back-reports", backToBackReportsArriveInOrder},
        {"notices-from-kernel-uevents", noticesComeThroughKernelUevents},
        {"removal-ends-blocked-read", removalEndsABlockedRead},
        {"cli-upgrade", upgradeWithTheCli},
        {"cli-unplug-during-dsp", unplugDuringDspEndsInError2},
        {"cli-no-device", noDeviceEndsWithinTheWait},
        {"cli-permission-denied", permissionProblemIsReported},
    };
    int passed = 0;
    int failed = 0;
    for (const auto& [name, test] : tests) {
        QElapsedTimer t;
        t.start();
        QString failure;
        try {
            if (std::string(name) == "notices-from-kernel-uevents" && !registered)
                throw Failure{QStringLiteral("registerNotices failed")};
            test();
        } catch (const Failure& f) {
            failure = f.message;
        }
        // Whatever a test left behind is gone before the next one starts.
        waitUntil([] { return findByIds(0x0483, 0x0525).empty(); }, 3000);
        if (failure.isEmpty()) {
            ++passed;
            std::printf("GUEST-TEST %s PASS (%lld ms)\n", name, static_cast<long long>(t.elapsed()));
        } else {
            ++failed;
            std::printf("GUEST-TEST %s FAIL: %s\n", name, qPrintable(failure));
        }
        std::fflush(stdout);
    }
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}

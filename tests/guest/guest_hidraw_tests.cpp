// The tests that run inside the Linux guest (scripts/guest/run-tests): the
// Linux HID backend on a real kernel HID stack, with virtual-hid-uhid as the
// device, and firmware-updater-cli doing whole upgrades through it.
//
// Each test prints "GUEST-TEST <name> PASS" or "GUEST-TEST <name> FAIL: why",
// and the run ends with "N passed, M failed". Every wait is bounded.
#include "cli/exitstatus.h"
#include "core/services.h"
#include "image/firmwareimage.h"
#include "qtbridge/bytes.h"
#include "usb/discovery.h"
#include "usb/hidplatform.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QProcess>
#include <QThread>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <functional>
#include <future>
#include <memory>
#include <unistd.h>
#include <utility>

namespace {

struct Paths {
    QString uhid = QStringLiteral("/bin/virtual-hid-uhid");
    QString cli = QStringLiteral("/bin/firmware-updater-cli");
    QString image = QStringLiteral("/data/good.fw");
    QString work = QStringLiteral("/tmp/guest-tests");
} g_paths;

// Failure of the running test: the first failed check's message.
struct Failure {
    QString message;
};

#define CHECK(cond, msg)                                                                                     \
    do {                                                                                                     \
        if (!(cond))                                                                                         \
            throw Failure{QStringLiteral("%1 (line %2)").arg(msg).arg(__LINE__)};                            \
    } while (0)

// Handles events until `done` holds or `timeoutMs` passes; true when done.
bool waitUntil(const std::function<bool()>& done, int timeoutMs = 5000)
{
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(5);
    }
    return true;
}

HidPlatform& platform()
{
    return *nativeHidPlatform();
}

// "vvvv:pppp" from the attributes a probe open reads; empty when that fails.
QString idsOf(const std::string& path)
{
    const HidHandle h = platform().openProbe(path);
    HidAttributes a;
    const bool ok = h != kInvalidHidHandle && platform().getAttributes(h, &a);
    if (h != kInvalidHidHandle)
        platform().close(h);
    return ok ? QString::asprintf("%04x:%04x", a.vendorId, a.productId) : QString();
}

// The ids of a device path as the window's notice handling reads them.
QString idsInPath(const std::string& path)
{
    std::string vendor;
    std::string product;
    return idsFromDevicePath(path, &vendor, &product) ? QString::fromStdString(vendor + ":" + product)
                                                      : QString();
}

// Paths of the present 0483:0525 interfaces.
std::vector<std::string> ourDevices()
{
    std::vector<std::string> found;
    for (const std::string& path : platform().enumerate())
        if (idsOf(path) == QLatin1String("0483:0525"))
            found.push_back(path);
    return found;
}

// The one 0483:0525 interface, once the backend lists it (the kernel adds
// the hidraw node asynchronously to UHID_CREATE2).
std::string theDevice()
{
    std::vector<std::string> found;
    CHECK(waitUntil([&] { return (found = ourDevices()).size() == 1; }),
          QStringLiteral("expected one 0483:0525 interface, found %1").arg(found.size()));
    return found.front();
}

// virtual-hid-uhid as a child process, driven through its standard input
// and followed through the lines it prints; created and listed when built.
// When it ends, its devices are gone before the next test starts.
class Device {
public:
    // `present`: how many 0483:0525 interfaces there are once it is up.
    explicit Device(const QStringList& args, std::size_t present = 1)
    {
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QObject::connect(&process_, &QProcess::readyReadStandardOutput, [this] {
            while (process_.canReadLine())
                lines_ << QString::fromUtf8(process_.readLine()).trimmed();
        });
        process_.start(g_paths.uhid, args);
        try {
            CHECK(process_.waitForStarted(5000), "virtual-hid-uhid did not start");
            CHECK(waitLine("created 0483:0525"), "the device was not created");
            std::vector<std::string> found;
            CHECK(
                waitUntil([&] { return (found = ourDevices()).size() == present; }),
                QStringLiteral("expected %1 0483:0525 interfaces, found %2").arg(present).arg(found.size()));
        } catch (...) {
            stop();
            throw;
        }
    }
    ~Device()
    {
        stop();
        waitUntil([] { return ourDevices().empty(); }, 3000);
    }
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;
    // Waits for the `count`th line starting with `prefix`.
    bool waitLine(const QString& prefix, int count = 1, int timeoutMs = 5000)
    {
        return waitUntil([&] { return lines(prefix) >= count; }, timeoutMs);
    }
    int lines(const QString& prefix) const
    {
        return int(std::count_if(lines_.begin(), lines_.end(),
                                 [&](const QString& l) { return l.startsWith(prefix); }));
    }
    void command(const char* line)
    {
        process_.write(QByteArray(line) + '\n');
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
    QStringList lines_;
    QProcess process_;
};

// The cli's process; with `dropRoot` it runs as uid 65534, as a logged-in
// user without the udev rule would run it.
struct CliProcess : QProcess {
    bool dropRoot = false;
    void setupChildProcess() override
    {
        if (dropRoot && (setgid(65534) != 0 || setuid(65534) != 0))
            _exit(127);
    }
};

// Runs firmware-updater-cli --image <the image> `args`, bounded by
// `timeoutMs`; checks its exit status and that it printed each of `texts`.
QString expectCli(const QStringList& args, int status, std::initializer_list<const char*> texts = {},
                  int timeoutMs = 60000, bool unprivileged = false)
{
    QString out;
    CliProcess p;
    p.dropRoot = unprivileged;
    if (unprivileged) { // its own runtime directory, as a user's session would have
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
        p.setProcessEnvironment(env);
    }
    p.setProcessChannelMode(QProcess::MergedChannels);
    QObject::connect(&p, &QProcess::readyRead, [&] { out += QString::fromUtf8(p.readAll()); });
    p.start(g_paths.cli, QStringList{"--image", g_paths.image} + args);
    CHECK(p.waitForStarted(5000), "the cli did not start");
    CHECK(waitUntil([&] { return p.state() == QProcess::NotRunning; }, timeoutMs),
          "the cli did not finish in time");
    out += QString::fromUtf8(p.readAll());
    const int got = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    CHECK(got == status, QStringLiteral("exit status %1, not %2; output:\n%3").arg(got).arg(status).arg(out));
    for (const char* text : texts)
        CHECK(out.contains(QLatin1String(text)), QStringLiteral("\"%1\" not printed:\n%2").arg(text, out));
    return out;
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
            close();
            throw Failure{QStringLiteral("open failed: %1").arg(platform().lastError().c_str())};
        }
    }
    ~OpenDevice() { close(); }
    void close()
    {
        for (HidHandle* h : {&r, &w})
            if (*h != kInvalidHidHandle)
                platform().close(std::exchange(*h, kInvalidHidHandle));
    }
};

// Reads one input report on a thread of its own; gives up after `timeoutMs`
// by closing the device, which ends the blocked read. The bytes read; none
// when the read failed or timed out.
QByteArray readReport(OpenDevice& d, int timeoutMs = 3000)
{
    std::uint8_t buf[20] = {};
    const HidHandle r = d.r;
    auto read = std::async(std::launch::async, [&] { return platform().readInput(r, buf, sizeof buf); });
    if (read.wait_for(std::chrono::milliseconds(timeoutMs)) != std::future_status::ready)
        d.close();
    const int n = read.get();
    return QByteArray(reinterpret_cast<const char*>(buf), std::max(n, 0));
}

int at(const QByteArray& bytes, int i)
{
    return quint8(bytes.at(i));
}

// The firmware number of a version reply; -1 for no reply.
int firmwareIn(const QByteArray& reply)
{
    return reply.size() < 8 ? -1 : at(reply, 6) | at(reply, 7) << 8;
}

// Writes an 11-byte feature report starting with `bytes`.
bool send(const OpenDevice& d, std::initializer_list<std::uint8_t> bytes)
{
    std::vector<std::uint8_t> f(bytes);
    f.resize(11);
    return platform().setFeature(d.w, f.data(), f.size());
}

// Sends a frame and reads the next report: the reply when it is 20 bytes long
// with the given code and sub-code (-1: any), otherwise nothing.
QByteArray ask(OpenDevice& d, std::initializer_list<std::uint8_t> f, int code, int sub = -1)
{
    const QByteArray r = send(d, f) ? readReport(d) : QByteArray();
    const bool ok = r.size() == 20 && at(r, 0) == 0x80 && at(r, 1) == code && (sub < 0 || at(r, 2) == sub);
    return ok ? r : QByteArray();
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Notices for 0483:0525 from its first arrival after a reset on: those still
// on their way from an earlier test come before that arrival and are left out.
struct Notices {
    bool registered = false;
    int arrivals = 0;
    int removals = 0;
} g_notices;

// ------------------------------------------------------------------ tests

void enumerationFindsTheDeviceByItsIds()
{
    Device dev({"--other", "1234:5678", "--other", "0483:0526"});
    CHECK(waitUntil([] { return platform().enumerate().size() >= 3; }), "fewer than 3 hidraw interfaces");
    QStringList seen;
    for (const std::string& path : platform().enumerate()) {
        const QString ids = idsOf(path);
        CHECK(!ids.isEmpty(), QStringLiteral("attributes of %1 not read").arg(path.c_str()));
        CHECK(idsInPath(path).toLower() == ids, QStringLiteral("path does not carry the ids %1").arg(ids));
        seen << ids;
    }
    for (const char* ids : {"0483:0525", "1234:5678", "0483:0526"})
        CHECK(seen.count(ids) == 1, QStringLiteral("%1 listed %2 times").arg(ids).arg(seen.count(ids)));
    CHECK(ourDevices().size() == 1, "matching by ids does not single out the device");
}

void featureLengthComesFromTheDescriptor()
{
    // Other descriptors, other lengths: they are parsed, not assumed.
    const struct {
        QStringList args;
        int feature, input;
    } cases[] = {{{}, 11, 20}, {{"--feature-bytes", "15", "--input-bytes", "12"}, 16, 13}};
    for (const auto& c : cases) {
        Device dev(c.args);
        const OpenDevice d;
        HidCaps caps;
        CHECK(platform().getCaps(d.w, &caps), "caps not read");
        CHECK(caps.featureReportByteLength == c.feature && caps.inputReportByteLength == c.input,
              QStringLiteral("%1: feature %2, input %3, not %4 and %5")
                  .arg(c.args.join(' '))
                  .arg(caps.featureReportByteLength)
                  .arg(caps.inputReportByteLength)
                  .arg(c.feature)
                  .arg(c.input));
    }
}

void framesReachTheDeviceAndRepliesComeBack()
{
    Device dev({"--firmware", "4321", "--refuse-write", "3"});
    OpenDevice d;
    CHECK(firmwareIn(ask(d, {0x80, 0x03, 0x01}, 0x0A)) == 4321, "no version reply with firmware 4321");
    CHECK(!ask(d, {0x80, 0x0C, 0x54, 0x02}, 0x0C, 0x55).isEmpty(), "no start acknowledgement");
    // The third write is refused by the device: the write reports failure.
    CHECK(!send(d, {0x80, 0x0C, 0x23, 0x01}), "a refused write reported success");
    // The next one goes through again and is answered (DSP handshake).
    CHECK(!ask(d, {0x80, 0x0C, 0x23, 0x01}, 0x0C, 0x56).isEmpty(), "no DSP acknowledgement");
}

void backToBackReportsArriveInOrder()
{
    // Eight reports queued at the same moment before the reply, each 12
    // bytes long (shorter than the declared 20).
    Device dev({"--burst-before", "8", "--input-report-length", "12", "--firmware", "1234"});
    OpenDevice d;
    CHECK(send(d, {0x80, 0x03, 0x01}), "version query not written");
    for (int i = 0; i < 8; ++i) {
        const QByteArray b = readReport(d);
        CHECK(b.size() == 12 && at(b, 0) == 0x80 && at(b, 1) == 0x7E && at(b, 2) == i,
              QStringLiteral("report %1 is %2, not 12 bytes 80 7e %1").arg(i).arg(b.toHex(' ').constData()));
    }
    const QByteArray reply = readReport(d);
    CHECK(reply.size() == 12 && at(reply, 1) == 0x0A && firmwareIn(reply) == 1234,
          "the version reply with firmware 1234 did not follow the burst");
}

void noticesComeThroughKernelUevents()
{
    CHECK(g_notices.registered, "registerNotices failed");
    // Let the notices of the earlier tests' devices (an arrival and a
    // removal each, possibly still queued on a loaded machine) be handled
    // before counting: quiet for 500 ms, or 3 s at most.
    for (int quiet = 0, waited = 0; quiet < 500 && waited < 3000; waited += 50) {
        const int before = g_notices.arrivals + g_notices.removals;
        waitUntil([] { return false; }, 50);
        quiet = g_notices.arrivals + g_notices.removals == before ? quiet + 50 : 0;
    }
    g_notices.arrivals = g_notices.removals = 0;
    {
        Device dev({"--other", "1234:5678"});
        CHECK(waitUntil([] { return g_notices.arrivals >= 1; }), "no arrival notice");
        dev.command("unplug");
        CHECK(dev.waitLine("destroyed 0483:0525"), "the device was not destroyed");
        CHECK(waitUntil([] { return g_notices.removals >= 1; }), "no removal notice");
        dev.command("plug");
        CHECK(waitUntil([] { return g_notices.arrivals >= 2; }), "no arrival notice on replug");
        CHECK(g_notices.removals == 1, "removal notices for a device that stayed");
    }
    CHECK(waitUntil([] { return g_notices.removals >= 2; }), "no removal at program exit");
    CHECK(g_notices.arrivals == 2, "more arrivals than plugs");
}

void removalEndsABlockedRead()
{
    Device dev({});
    OpenDevice d;
    std::uint8_t buf[20];
    const HidHandle r = d.r;
    auto read = std::async(std::launch::async, [&] { return platform().readInput(r, buf, sizeof buf); });
    // Let the read block (no report is coming), then pull the device.
    const bool blocked = read.wait_for(std::chrono::milliseconds(300)) == std::future_status::timeout;
    dev.command("unplug");
    const bool ended = read.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    if (!ended)
        d.close(); // ends the read, so the thread can be joined
    CHECK(blocked, "read returned without a report");
    CHECK(ended, "a blocked read survived the removal for 5 s");
    CHECK(read.get() == -1, "the read did not fail");
}

void upgradeWithTheCli()
{
    const QByteArray image = readFile(g_paths.image);
    CHECK(!image.isEmpty(), "image file missing");
    const QString dir = g_paths.work + QStringLiteral("/images");
    QDir(dir).removeRecursively();
    QDir().mkpath(dir);
    const QByteArray dsp = toQByteArray(fwimage::dspImage(image));
    Device dev({"--other", "1234:5678", "--dump-dir", dir, "--dsp-length", QString::number(dsp.size())});
    expectCli({}, unattended::Success);
    CHECK(dev.stop(), "the device program did not end cleanly");
    CHECK(readFile(dir + "/dsp.bin") == dsp, "the DSP image differs from the file's");
    CHECK(readFile(dir + "/arm.bin") == toQByteArray(fwimage::armImage(image)),
          "the ARM image differs from the file's");
}

void unplugDuringDspEndsInError2()
{
    CHECK(fwimage::dspImage(readFile(g_paths.image)).size() / 8 > 100,
          "the image's DSP data is too short for this test");
    // Version query, start, DSP handshake, then DSP blocks: leave after 60 of them.
    Device dev({"--unplug-after-frames", "63", "--replug-after-ms", "1500"});
    // The numbered notice; the window saw the removal and the arrival through
    // the backend's kernel-uevent notices (their trace only with --verbose).
    expectCli({"--verbose"}, unattended::Error2, {"Error 2", "remove my Hid", "insert my Hid"});
    CHECK(dev.lines("destroyed 0483:0525") == 1, "the device did not leave the bus");
    // The device comes back and is found again, and it answers.
    CHECK(dev.waitLine("created 0483:0525", 2, 10000), "the device did not come back");
    OpenDevice d;
    CHECK(!ask(d, {0x80, 0x03, 0x01}, 0x0A).isEmpty(), "no version reply from the replugged device");
}

void noDeviceEndsWithinTheWait()
{
    CHECK(ourDevices().empty(), "a device is still present");
    expectCli({"--wait-device", "2"}, unattended::NoDevice, {}, 30000);
}

void permissionProblemIsReported()
{
    Device dev({"--verbose"}); // a line per frame: none may come
    expectCli({"--wait-device", "1"}, unattended::LinkFailure,
              {"Permission denied", "70-firmware-updater.rules"}, 30000, true);
    CHECK(dev.lines("frame") == 0, "frames reached the device");
}

// Three devices with their own serials: --list shows them, nothing chosen
// is refused, --all writes all three at once and each holds the image.
void stationWithThreeDevices()
{
    const QByteArray image = readFile(g_paths.image);
    const QByteArray dsp = toQByteArray(fwimage::dspImage(image));
    std::vector<std::unique_ptr<Device>> devices;
    for (int i = 0; i < 3; ++i) {
        const QString dir = g_paths.work + QStringLiteral("/station%1").arg(i);
        QDir(dir).removeRecursively();
        QDir().mkpath(dir);
        devices.push_back(
            std::make_unique<Device>(QStringList{"--serial", QStringLiteral("GUEST-%1").arg(i), "--firmware",
                                                 QString::number(5000 + i), "--dump-dir", dir, "--dsp-length",
                                                 QString::number(dsp.size())},
                                     std::size_t(i + 1)));
    }
    const QString table = expectCli({"--list"}, unattended::Success);
    for (int i = 0; i < 3; ++i)
        CHECK(table.contains(QStringLiteral("GUEST-%1").arg(i)),
              "a serial is missing from --list:\n" + table);

    // --json: one object per line, each device with its serial and firmware.
    QMap<QString, int> firmware;
    for (const QString& line : expectCli({"--list", "--json"}, unattended::Success).split('\n')) {
        const QJsonObject o = QJsonDocument::fromJson(line.toUtf8()).object();
        if (o.value("event").toString() == QLatin1String("device"))
            firmware[o.value("serial").toString()] = o.value("firmware").toInt(-1);
    }
    CHECK((firmware == QMap<QString, int>{{"GUEST-0", 5000}, {"GUEST-1", 5001}, {"GUEST-2", 5002}}),
          "--list --json did not give each serial its firmware number");

    expectCli({"--wait-device", "0"}, unattended::SeveralDevices, {"GUEST-0", "GUEST-1", "GUEST-2"});
    // Three upgrades share the guest's one emulated CPU: a generous limit.
    expectCli({"--all", "--timeout", "150"}, unattended::Success, {"3 of 3 devices written"}, 200000);
    for (int i = 0; i < 3; ++i) {
        CHECK(devices[i]->stop(), "a device program did not end cleanly");
        const QString dir = g_paths.work + QStringLiteral("/station%1").arg(i);
        CHECK(readFile(dir + "/dsp.bin") == dsp, QStringLiteral("device %1: the DSP image differs").arg(i));
        CHECK(readFile(dir + "/arm.bin") == toQByteArray(fwimage::armImage(image)),
              QStringLiteral("device %1: the ARM image differs").arg(i));
    }
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    std::signal(SIGPIPE, SIG_IGN);
    const QHash<QString, QString*> options = {{"--uhid", &g_paths.uhid},
                                              {"--cli", &g_paths.cli},
                                              {"--image", &g_paths.image},
                                              {"--work", &g_paths.work}};
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2)
        if (QString* value = options.value(args[i]))
            *value = args[i + 1];
    QDir().mkpath(g_paths.work);

    HidPlatform* native = nativeHidPlatform();
    if (!native) {
        std::printf("GUEST-TEST backend FAIL: no native HID backend\n0 passed, 1 failed\n");
        return 1;
    }
    ScopedServices services;
    services.hid(native);
    g_notices.registered = native->registerNotices(nullptr, [](HidNoticeKind kind, const std::string& path) {
        if (idsInPath(path) != QLatin1String("0483:0525"))
            return;
        if (kind == HidNoticeKind::Arrival)
            ++g_notices.arrivals;
        else if (g_notices.arrivals > 0)
            ++g_notices.removals;
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
        {"cli-station-three-devices", stationWithThreeDevices},
    };
    int passed = 0;
    for (const auto& [name, test] : tests) {
        QElapsedTimer t;
        t.start();
        try {
            test();
            ++passed;
            std::printf("GUEST-TEST %s PASS (%lld ms)\n", name, static_cast<long long>(t.elapsed()));
        } catch (const Failure& f) {
            std::printf("GUEST-TEST %s FAIL: %s\n", name, qPrintable(f.message));
        }
        std::fflush(stdout);
    }
    const int failed = int(tests.size()) - passed;
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}

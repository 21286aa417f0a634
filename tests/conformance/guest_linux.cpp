// The tests inside the Linux guest (scripts/guest/run-tests): the backend
// checks of conformance.h against hidraw, with virtual-hid-uhid as the
// device, then the real firmware-updater-cli against uhid devices.
#include "conformance.h"

#include "cli/exitstatus.h"
#include "image/firmwareimage.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QProcess>
#include <QThread>

#include <csignal>
#include <memory>
#include <unistd.h>

using conformance::require;

namespace {

// Where scripts/guest/mkguest.py puts the programs and the image.
const QString kUhid = QStringLiteral("/bin/virtual-hid-uhid");
const QString kCli = QStringLiteral("/bin/firmware-updater-cli");
const QString kImage = QStringLiteral("/data/good.fw");
const QString kWork = QStringLiteral("/tmp/guest-tests");

void pump(int ms)
{
    QCoreApplication::processEvents(QEventLoop::AllEvents, ms);
    QThread::msleep(5);
}

bool waitUntil(const std::function<bool()>& done, int ms = 5000)
{
    for (const QDeadlineTimer deadline(ms); !done(); pump(10))
        if (deadline.hasExpired())
            return false;
    return true;
}

// virtual-hid-uhid as a child process, commanded through its standard input
// and followed through the lines it prints, in the commands of
// scripts/guest/device-control.py: start ARGS, send LINE, wait N MS PREFIX
// and stop (SIGTERM: the program dumps its images and removes its devices).
class UhidDevice {
public:
    ~UhidDevice() { ask("stop"); }
    std::string ask(const std::string& line)
    {
        const QStringList w = QString::fromStdString(line).split(' ');
        if (w[0] == "start") {
            process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
            QObject::connect(&process_, &QProcess::readyReadStandardOutput, [this] {
                while (process_.canReadLine())
                    lines_ << QString::fromUtf8(process_.readLine()).trimmed();
            });
            process_.start(kUhid, w.mid(1));
            return ask("wait 1 5000 created 0483:0525");
        }
        if (w[0] == "send") {
            process_.write(w[1].toUtf8() + '\n');
            return process_.waitForBytesWritten(1000) ? "ok" : "fail";
        }
        if (w[0] == "wait") {
            const auto seen = [&] {
                return std::count_if(lines_.begin(), lines_.end(),
                                     [&](const QString& l) { return l.startsWith(w.mid(3).join(' ')); });
            };
            return waitUntil([&] { return seen() >= w[1].toInt(); }, w[2].toInt()) ? "ok" : "fail";
        }
        if (process_.state() != QProcess::NotRunning) {
            process_.terminate();
            if (!process_.waitForFinished(5000)) {
                process_.kill();
                process_.waitForFinished(2000);
                return "fail killed";
            }
        }
        return process_.exitStatus() == QProcess::NormalExit ? "ok " + std::to_string(process_.exitCode())
                                                             : "fail crashed";
    }

private:
    QStringList lines_;
    QProcess process_;
};

// The device program as the Windows guest has it; it dumps its images into
// the work directory.
class Provider : public conformance::UhidProvider {
public:
    Provider()
        : UhidProvider(kWork.toStdString(), kWork.toStdString() + "/")
    {}
    HidPlatform& hid() override { return *nativeHidPlatform(); }
    void pump(int ms) override { ::pump(ms); }

protected:
    std::string ask(const std::string& line) override
    {
        if (line.compare(0, 6, "start ") == 0)
            device_ = std::make_unique<UhidDevice>();
        return device_ ? device_->ask(line) : "fail no device";
    }

private:
    std::unique_ptr<UhidDevice> device_;
};

// ------------------------------------------------ the cli on uhid devices

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

// Runs firmware-updater-cli --image <the image> `args` within `ms`; checks
// its exit status and that it printed each of `texts`.
QString expectCli(const QStringList& args, int status, std::initializer_list<const char*> texts = {},
                  int ms = 60000, bool unprivileged = false)
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
    p.start(kCli, QStringList{"--image", kImage} + args);
    require(p.waitForStarted(5000), "the cli did not start");
    require(waitUntil([&] { return p.state() == QProcess::NotRunning; }, ms),
            "the cli did not finish in time");
    out += QString::fromUtf8(p.readAll());
    const int got = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    require(
        got == status,
        QStringLiteral("exit status %1, not %2; output:\n%3").arg(got).arg(status).arg(out).toStdString());
    for (const char* text : texts)
        require(out.contains(QLatin1String(text)),
                QStringLiteral("\"%1\" not printed:\n%2").arg(text, out).toStdString());
    return out;
}

// A uhid device with `args`, up and listed beside `present - 1` others.
std::unique_ptr<UhidDevice> uhid(const QStringList& args, std::size_t present = 1)
{
    auto d = std::make_unique<UhidDevice>();
    require(d->ask(("start " + args.join(' ')).toStdString()) == "ok", "the device was not created");
    require(waitUntil([&] { return conformance::ourDevices(*nativeHidPlatform()).size() == present; }),
            "the device is not listed");
    return d;
}

void cliUnplugDuringDsp()
{
    // Version query, start, DSP handshake, then 60 DSP blocks: the stage
    // times out after the device left.
    auto dev = uhid({"--unplug-after-frames", "63", "--replug-after-ms", "1500"});
    expectCli({}, cli::Error2, {"Error 2"});
    require(dev->ask("wait 2 10000 created 0483:0525") == "ok", "the device did not come back");
}

void cliPermissionDenied()
{
    auto dev = uhid({"--verbose"}); // a line per frame: none may come
    expectCli({"--wait-device", "1"}, cli::LinkFailure, {"Permission denied", "70-firmware-updater.rules"},
              30000, true);
    require(dev->ask("wait 1 0 frame") != "ok", "frames reached the device");
}

// Three devices with serials: --list --json shows them with their firmware
// numbers, nothing chosen is refused, --all writes all three and each holds
// the image.
void cliStationThreeDevices()
{
    const protocol::Bytes image = conformance::readFile(kImage.toStdString());
    const protocol::Bytes dsp = fwimage::dspImage(image), arm = fwimage::armImage(image);
    std::vector<std::unique_ptr<UhidDevice>> devices;
    auto dir = [](int i) { return kWork + QStringLiteral("/station%1").arg(i); };
    for (int i = 0; i < 3; ++i) {
        QDir().mkpath(dir(i));
        devices.push_back(
            uhid({"--serial", QStringLiteral("GUEST-%1").arg(i), "--firmware", QString::number(4990 + i),
                  "--dump-dir", dir(i), "--dsp-length", QString::number(dsp.size())},
                 std::size_t(i + 1)));
    }
    QMap<QString, int> firmware;
    for (const QString& line : expectCli({"--list", "--json"}, cli::Success).split('\n')) {
        const QJsonObject o = QJsonDocument::fromJson(line.toUtf8()).object();
        if (o.value("event").toString() == QLatin1String("device"))
            firmware[o.value("serial").toString()] = o.value("firmware").toInt(-1);
    }
    require(firmware == QMap<QString, int>{{"GUEST-0", 4990}, {"GUEST-1", 4991}, {"GUEST-2", 4992}},
            "--list --json did not give each serial its firmware number");
    expectCli({"--wait-device", "0"}, cli::SeveralDevices, {"GUEST-0", "GUEST-1", "GUEST-2"});
    // Three upgrades share the guest's one emulated CPU: a generous limit.
    expectCli({"--all", "--timeout", "150"}, cli::Success, {"3 of 3 devices written"}, 200000);
    for (int i = 0; i < 3; ++i) {
        require(devices[i]->ask("stop") == "ok 0", "a device program did not end cleanly");
        require(conformance::readFile((dir(i) + "/dsp.bin").toStdString()) == dsp &&
                    conformance::readFile((dir(i) + "/arm.bin").toStdString()) == arm,
                "device " + std::to_string(i) + " does not hold the image");
    }
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    std::signal(SIGPIPE, SIG_IGN);
    QDir().mkpath(kWork);

    conformance::Runner runner;
    Provider provider;
    conformance::run(provider, runner, "hidraw-");
    runner.test("cli-unplug-during-dsp", cliUnplugDuringDsp);
    runner.test("cli-no-device", [] {
        require(conformance::ourDevices(*nativeHidPlatform()).empty(), "a device is still present");
        expectCli({"--wait-device", "2"}, cli::NoDevice, {}, 30000);
    });
    runner.test("cli-permission-denied", cliPermissionDenied);
    runner.test("cli-station-three-devices", cliStationThreeDevices);
    return runner.summary();
}

// firmware-updater-sim: firmware-updater-cli on an in-process virtual HID
// bus. The same options, texts, records and exit statuses as the cli (the
// same runStation, one device or many), with virtual devices in place of
// the real ones: one by default, N with --devices N, each with the faults
// it is given. Its own check: a device written ends in success only when
// it holds exactly the image's DSP and ARM images (else ImageMismatch), and
// with --check one that heard more than the version query is a fault too.
// Runs on a QCoreApplication, like the cli: no window, no QtWidgets.
#include "cli/devicesession.h"
#include "cli/exitstatus.h"
#include "cli/stationcli.h"
#include "core/commandline.h"
#include "core/services.h"
#include "image/firmwareimage.h"
#include "online/imageverify.h"
#include "protocol/protocol.h"
#include "sim/deviceverify.h"
#include "usb/backends/virtual/faulttable.h"
#include "usb/backends/virtual/virtualbus.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>

namespace {

constexpr int kMaxDevices = 64;
// The simulator's devices restart into what they received after the
// completion, as the real ones do (--reboot-ms 0: they stay on the bus).
constexpr int kRebootMs = 800;
// The firmware the virtual devices run unless --device-version says
// otherwise: a KRV3200 base, older than the model's images (3215).
constexpr int kDefaultDeviceVersion = 3201;
// The devices are on the bus from the start: nothing to wait for.
constexpr double kDefaultWaitSeconds = 0;

int usage(const QString& message)
{
    return cli::usage("firmware-updater-sim", message);
}

bool readNumber(const QCommandLineParser& parser, const QString& name, int low, int high, int* out)
{
    bool ok = false;
    const int v = parser.value(name).toInt(&ok, 0);
    if (!ok || v < low || v > high)
        return false;
    *out = v;
    return true;
}

// Device `index` (from 0) on the bus: on Linux the Linux backend's form, the
// node with the ids after a '?' (shown as /dev/hidrawN); elsewhere the
// bus's own interface path.
std::string devicePath(int index)
{
#ifdef Q_OS_LINUX
    return QString::asprintf("/dev/hidraw%d?VID_%04X&PID_%04X", index, protocol::kVendorId,
                             protocol::kProductId)
        .toStdString();
#else
    return VirtualHidBus::makePath(protocol::kVendorId, protocol::kProductId, index + 1);
#endif
}

} // namespace

int main(int argc, char* argv[])
{
    cmdline::provideRuntimeDir();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("firmware-updater-sim"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("firmware-updater-cli on virtual devices: writes a firmware image (--image, or the "
                       "newest one on the update server with --server) into virtual devices on a bus of "
                       "its own, with the cli's options, texts, records and exit statuses, and checks "
                       "what each device received. One device by default (reporting the serial number "
                       "of --serial), N with --devices N; --fault gives one of them a fault, the fault "
                       "options below give it to all. The devices report firmware %1 (--device-version) "
                       "and restart into the firmware they received after the completion; with --check "
                       "a device that heard more than the version query ends the run in status 30. "
                       "Results go to standard output, notices and errors to standard error.\n\n")
            .arg(kDefaultDeviceVersion) +
        cli::statusHelp("every frame of the image was written and the virtual device holds exactly the "
                        "image's DSP and ARM images"));
    cli::addOptions(parser);
    parser.addOption({"device-version",
                      QStringLiteral("Firmware number the virtual devices report (default %1); K:N for "
                                     "device K alone (repeatable).")
                          .arg(kDefaultDeviceVersion),
                      "[K:]N"});
    parser.addOption({"devices", "Present N virtual devices (serials SIM-1 to SIM-N; default 1).", "N"});
    parser.addOption({"fault",
                      "Give device K (from 1) a fault: --fault K:NAME or --fault K:NAME=VALUE, NAME one of "
                      "the fault options below (repeatable).",
                      "K:fault"});
    cli::addStationOptions(parser, kDefaultWaitSeconds);
    // The simulator only: a product build takes the key from its build
    // setting and from nowhere else.
    parser.addOption({"trusted-key",
                      "Online road: accept only images signed for this Ed25519 public key (hex or base64) "
                      "with signed release metadata, as a build with UPDATER_SIGNING_PUBLIC_KEY does.",
                      "key"});
    for (const FaultOption& f : deviceFaultOptions()) {
        const QString help = QStringLiteral("Fault of every device: %1.").arg(QString::fromUtf8(f.help));
        if (f.value)
            parser.addOption({f.name, help, QString::fromUtf8(f.value)});
        else
            parser.addOption({f.name, help});
    }
    cli::Options options;
    options.waitSeconds = kDefaultWaitSeconds;
    if (const int status = cli::parseCommandLine(parser, app.arguments(), "firmware-updater-sim", &options);
        status >= 0)
        return status;
    const bool several = parser.isSet("devices");
    int count = 1;
    if (several && !readNumber(parser, "devices", 1, kMaxDevices, &count))
        return usage(QStringLiteral("--devices needs a number from 1 to %1").arg(kMaxDevices));
    // The devices' firmware numbers: N for every device, K:N for device K.
    std::vector<int> numbers(std::size_t(count), kDefaultDeviceVersion);
    for (const QString& text : parser.values("device-version")) {
        const QStringList parts = text.split(QLatin1Char(':'));
        bool okK = parts.size() == 1, okN = false;
        const int k = parts.size() == 2 ? parts[0].toInt(&okK) : 0;
        const int n = parts.constLast().toInt(&okN, 0);
        if (!okK || !okN || n < 0 || n > 65535 || k < 0 || k > count || (parts.size() == 2 && k == 0))
            return usage(QStringLiteral("--device-version needs N or K:N, N from 0 to 65535 and K from 1 to "
                                        "%1, got \"%2\"")
                             .arg(count)
                             .arg(text));
        for (int i = 0; i < count; ++i)
            if (k == 0 || k == i + 1)
                numbers[std::size_t(i)] = n;
    }
    if (parser.isSet("trusted-key")) {
        QByteArray key;
        if (!imageverify::parsePublicKey(parser.value("trusted-key"), &key))
            return usage(QStringLiteral("--trusted-key needs 64 hex digits or 32 bytes in base64"));
        options.session.context.keyText = parser.value("trusted-key");
    }

    // The faults: those of every device, then each device's own.
    DeviceModel::Faults common;
    common.rebootMs = kRebootMs;
    std::string why;
    for (const FaultOption& f : deviceFaultOptions()) {
        if (parser.isSet(f.name) && !applyFault(f, parser.value(f.name).toStdString(), &common, &why))
            return usage(QStringLiteral("--%1").arg(QString::fromStdString(why)));
    }
    std::vector<DeviceModel::Faults> faults(std::size_t(count), common);
    for (const QString& text : parser.values("fault")) {
        const int colon = text.indexOf(QLatin1Char(':'));
        bool ok = false;
        const int k = text.left(colon).toInt(&ok);
        if (colon < 0 || !ok || k < 1 || k > count)
            return usage(QStringLiteral("--fault needs K:NAME[=VALUE] with K from 1 to %1, got \"%2\"")
                             .arg(count)
                             .arg(text));
        if (!applyFaultText(text.mid(colon + 1).toStdString(), &faults[std::size_t(k - 1)], &why))
            return usage(QStringLiteral("--fault %1: %2").arg(k).arg(QString::fromStdString(why)));
    }

    cli::EventLog events;
    if (const int status = cli::openRecords(options, &events); status >= 0)
        return status;
    // Run by a station: Ctrl-C on the terminal is the station's to handle.
    if (options.child)
        std::signal(SIGINT, SIG_IGN);

    VirtualHidBus bus;
    std::map<std::string, std::shared_ptr<DeviceModel>> models; // by path
    for (int i = 0; i < count; ++i) {
        auto device = std::make_shared<DeviceModel>();
        device->setFirmwareNumber(std::uint16_t(numbers[std::size_t(i)]));
        device->faults() = faults[std::size_t(i)];
        // Without --devices the one device reports the serial of --serial.
        const std::string serial = several ? "SIM-" + std::to_string(i + 1) : options.selection.serial;
        models[bus.plug(VirtualHidBus::deviceInterface(device, devicePath(i), serial))] = device;
    }

    cli::DeviceHooks hooks;
    // The device knows where the DSP image ends, as the boot firmware does
    // (that tells the DSP end frame from a data block of the same bytes),
    // and the number the new firmware reports once it restarts. Each
    // session tells its own device, online once its image is downloaded.
    hooks.writing = [&models](const cli::DeviceInfo& d, const QByteArray& image) {
        fwimage::Header header;
        const auto device = models.find(d.path);
        if (device == models.end() || !fwimage::parseHeader(image, &header))
            return;
        device->second->setExpectedDspLength(header.dspLength);
        device->second->setNextFirmwareNumber(std::uint16_t(header.version));
    };
    const bool quiet = options.verbosity == cmdline::Verbosity::Quiet;
    hooks.verify = [&models, quiet](const cli::DeviceInfo& d, const QString& imagePath, QString* said) {
        const auto device = models.find(d.path);
        if (device == models.end()) {
            *said = QStringLiteral("no virtual device at this path to read back");
            return int(cli::ImageMismatch);
        }
        const int status = cli::verifyDevice(*device->second, imagePath, said);
        if (status == cli::Success && quiet)
            said->clear();
        return status;
    };

    int status = cli::Usage;
    {
        ScopedServices services;
        services.hid(&bus).server(options.server);
        status = cli::runStation(bus, protocol::kVendorId, protocol::kProductId, options, &events, hooks);
    }
    // The simulator's own check of --check: no device heard more than the
    // version query.
    for (const auto& [path, device] : models) {
        const std::size_t heard =
            device->frames().size() - device->count(DeviceModel::FrameKind::VersionQuery);
        if (options.session.check && heard > 0) {
            std::fprintf(stderr, "firmware-updater-sim: --check wrote %zu frame(s) to %s\n", heard,
                         cli::printable(cli::shownPath(path)).c_str());
            status = cli::ImageMismatch;
        }
    }
    // As the cli: a session stopped while its fetch still ran has left that
    // fetch to end on its thread; end without unloading what it uses.
    if (cli::fetchesRunning() > 0) {
        std::fflush(stdout);
        std::fflush(stderr);
        std::_Exit(status);
    }
    return status;
}

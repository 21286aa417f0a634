// firmware-updater-sim: the whole upgrade from a local file, unattended,
// against virtual devices on an in-process HID bus. One device by default,
// written through the updater's window; with --devices N a rehearsal
// station of N devices that takes the cli's station options (--list, --all,
// --watch, --device, --serial, --confirm). Exits 0 only when every device
// written ends up holding exactly the file's DSP and ARM images.
#include "protocol/protocol.h"
#include "app/mainwindow.h"
#include "cli/devicepresence.h"
#include "cli/station.h"
#include "cli/stationcli.h"
#include "core/commandline.h"
#include "core/services.h"
#include "image/firmwareimage.h"
#include "online/imageverify.h"
#include "sim/deviceverify.h"
#include "sim/unattended.h"
#include "usb/backends/virtual/faulttable.h"
#include "usb/backends/virtual/virtualbus.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QFile>
#include <QJsonObject>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <map>
#include <memory>

namespace {

constexpr int kMaxDevices = 64;
// The simulator's devices restart into what they received after the
// completion, as the real ones do (--reboot-ms 0: they stay on the bus).
constexpr int kRebootMs = 800;

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
    return QString::asprintf("/dev/hidraw%d?VID_%04X&PID_%04X", index, protocol::kVendorId, protocol::kProductId).toStdString();
#else
    return VirtualHidBus::makePath(protocol::kVendorId, protocol::kProductId, index + 1);
#endif
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    cmdline::provideRuntimeDir();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("firmware-updater-sim"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Writes a firmware image into virtual devices, unattended, and checks what each "
                       "device received: one device through the updater's window, or with --devices N a "
                       "rehearsal station that takes the options of firmware-updater-cli's station. The "
                       "devices restart into the firmware they received after the completion. Without "
                       "--devices the one device reports the serial number of --serial.\n\n") +
        cli::statusHelp(
            "every frame of the image was written and the virtual device holds exactly the "
            "file's DSP and ARM images"));
    cli::addOptions(parser);
    parser.addOption({"device-version", "Firmware number the virtual devices report (default 5000).", "N"});
    parser.addOption({"devices", "Present N virtual devices (serials SIM-1 to SIM-N; default 1).", "N"});
    parser.addOption({"fault",
                      "Give device K (from 1) a fault: --fault K:NAME or --fault K:NAME=VALUE, NAME one of "
                      "the fault options below (repeatable).",
                      "K:fault"});
    cli::addStationOptions(parser);
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
    if (const int status = cli::parseCommandLine(
            parser, cli::withConfirmDefault(app.arguments()), "firmware-updater-sim", &options);
        status >= 0)
        return status;

    cli::StationCommand station;
    QString error;
    if (!cli::readStationOptions(parser, &station, &error))
        return usage(error);
    options.confirmMs = station.confirmMs;
    const bool rehearsal = parser.isSet("devices");
    int count = 1;
    if (rehearsal && !readNumber(parser, "devices", 1, kMaxDevices, &count))
        return usage(QStringLiteral("--devices needs a number from 1 to %1").arg(kMaxDevices));
    // The simulator's online road is the window's, one device alone on the
    // bus; its station writes a local image.
    if (options.online && (station.all || station.watch || count > 1))
        return usage(QStringLiteral("--all, --watch and --devices write a local image here (--image)"));
    int number = 5000;
    if (parser.isSet("device-version") && !readNumber(parser, "device-version", 0, 65535, &number))
        return usage(QStringLiteral("--device-version needs a number from 0 to 65535"));
    if (parser.isSet("trusted-key")) {
        QByteArray key;
        if (!imageverify::parsePublicKey(parser.value("trusted-key"), &key))
            return usage(QStringLiteral("--trusted-key needs 64 hex digits or 32 bytes in base64"));
        options.context.keyText = parser.value("trusted-key");
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
    if (!cli::openRecords(station, &events, &options, &error)) {
        std::fprintf(stderr, "firmware-updater-sim: %s\n", qPrintable(error));
        return cli::Usage;
    }
    // Run by a station: Ctrl-C on the terminal is the station's to handle.
    if (station.child)
        std::signal(SIGINT, SIG_IGN);
    // The text for people goes where openRecords put it.
    std::FILE* text = options.out;

    VirtualHidBus bus;
    ScopedServices services;
    services.hid(&bus).server(options.server);
    std::map<std::string, std::shared_ptr<DeviceModel>> models; // by path
    for (int i = 0; i < count; ++i) {
        auto device = std::make_shared<DeviceModel>();
        device->setFirmwareNumber(std::uint16_t(number));
        device->faults() = faults[std::size_t(i)];
        // Without --devices the one device reports the serial of --serial.
        const std::string serial = rehearsal ? "SIM-" + std::to_string(i + 1) : station.selection.serial;
        models[bus.plug(VirtualHidBus::deviceInterface(device, devicePath(i), serial))] = device;
    }

    // The devices know where the DSP image ends, as the boot firmware does
    // (that tells the DSP end frame from a data block of the same bytes),
    // and the number the new firmware reports once they restart.
    auto tellDevices = [&models](const QString& path) {
        QFile imageFile(path);
        fwimage::Header header;
        if (path.isEmpty() || !imageFile.open(QIODevice::ReadOnly) ||
            !fwimage::parseHeader(imageFile.read(fwimage::kHeaderSize), &header))
            return;
        for (auto& [p, device] : models) {
            device->setExpectedDspLength(header.dspLength);
            device->setNextFirmwareNumber(std::uint16_t(header.version));
        }
    };
    tellDevices(options.imagePath);
    // Online, the image is known once it is downloaded.
    options.downloaded = [&](const QString& path) {
        options.imagePath = path;
        tellDevices(path);
    };
    auto verify = [&](const cli::DeviceInfo& d) {
        return cli::verifyDevice(*models.at(d.path), options.imagePath, text,
                                        rehearsal ? d.serial : "");
    };

    // One device among several is the station's: the window takes the
    // first device of the model it finds.
    if (station.list || station.all || station.watch || count > 1) {
        return cli::runStation(bus, protocol::kVendorId, protocol::kProductId, station, options, &events, verify);
    }

    const cli::Presence presence =
        cli::lookForDevice(bus, protocol::kVendorId, protocol::kProductId, station.selection);
    int status = cli::NoDevice;
    if (presence.ambiguous) {
        std::fprintf(text, "more than one device is attached: choose one with --device PATH or --serial S\n");
        cli::printDevices(presence.devices, station, &events);
        status = cli::SeveralDevices;
    } else if (presence.path.empty()) {
        std::fprintf(text, "no device %04x:%04x matches\n", protocol::kVendorId, protocol::kProductId);
    } else {
        const auto chosen =
            std::find_if(presence.devices.begin(), presence.devices.end(),
                         [&](const cli::DeviceInfo& d) { return d.path == presence.path; });
        options.verify = [&] { return verify(*chosen); };
        status = cli::flashDevice(*chosen, options, &events);
    }
    std::fprintf(text, "exit status %d\n", status);
    return status;
}

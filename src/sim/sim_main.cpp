// firmware-updater-sim: the whole upgrade from a local file, unattended,
// against the virtual device on an in-process HID bus. Exits 0 only when the
// device ends up holding exactly the file's DSP and ARM images.
#include "app/mainwindow.h"
#include "cli/station.h"
#include "cli/stationcli.h"
#include "core/commandline.h"
#include "core/services.h"
#include "image/firmwareimage.h"
#include "online/imageverify.h"
#include "sim/deviceverify.h"
#include "sim/unattended.h"
#include "usb/backends/virtual/virtualbus.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QFile>

#include <cstdio>
#include <memory>

namespace {

struct FaultOption {
    const char* name;
    const char* help;
    bool takesCount; // a 1-based count; otherwise a switch
    void (*apply)(DeviceModel::Faults&, int);
};

const FaultOption kFaults[] = {
    {"no-start-ack", "The device never answers the start command.", false,
     [](DeviceModel::Faults& f, int) { f.dropStartAck = true; }},
    {"drop-dsp-ack", "The Nth window acknowledgement of the DSP stage never comes (1: the handshake's).",
     true, [](DeviceModel::Faults& f, int n) { f.dropDspAck = n; }},
    {"drop-arm-ack", "The Nth window acknowledgement of the ARM stage never comes (1: the handshake's).",
     true, [](DeviceModel::Faults& f, int n) { f.dropArmAck = n; }},
    {"drop-dsp-end-ack", "The DSP end frame is never answered.", false,
     [](DeviceModel::Faults& f, int) { f.dropDspEndAck = true; }},
    {"drop-completion", "The ARM end frame is never answered.", false,
     [](DeviceModel::Faults& f, int) { f.dropCompletion = true; }},
    {"refuse-write", "The Nth feature write is refused.", true,
     [](DeviceModel::Faults& f, int n) { f.refuseWrite = n; }},
    {"refuse-all-writes", "Every feature write is refused.", false,
     [](DeviceModel::Faults& f, int) { f.refuseAllWrites = true; }},
    {"unplug-after", "The device leaves the bus after the Nth frame.", true,
     [](DeviceModel::Faults& f, int n) { f.unplugAfterFrames = n; }},
    {"reply-delay", "Every reply arrives this many milliseconds late.", true,
     [](DeviceModel::Faults& f, int n) { f.replyDelayMs = n; }},
    {"arm-ack-second-form", "ARM acknowledgements come as 0F 54 instead of 0C 54.", false,
     [](DeviceModel::Faults& f, int) { f.armAckSecondForm = true; }},
};

int usage(const QString& message)
{
    return unattended::usage("firmware-updater-sim", message);
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
        QStringLiteral("Writes a firmware image into a virtual device through the updater's window, "
                       "unattended, and checks what the device received.\n\n") +
        unattended::statusHelp());
    unattended::addOptions(parser);
    parser.addOption({"device-version", "Firmware number the virtual device reports (default 5000).", "N"});
    parser.addOption({"serial", "Serial number the virtual device reports (default: none).", "text"});
    unattended::addRecordOptions(parser);
    // The simulator only: a product build takes the key from its build
    // setting and from nowhere else.
    parser.addOption({"trusted-key",
                      "Online road: accept only images signed for this Ed25519 public key (hex or base64) "
                      "with signed release metadata, as a build with UPDATER_SIGNING_PUBLIC_KEY does.",
                      "key"});
    for (const FaultOption& f : kFaults) {
        if (f.takesCount)
            parser.addOption({f.name, QString::fromUtf8(f.help), QStringLiteral("N")});
        else
            parser.addOption({f.name, QString::fromUtf8(f.help)});
    }
    unattended::Options options;
    if (const int status =
            unattended::parseCommandLine(parser, app.arguments(), "firmware-updater-sim", &options);
        status >= 0)
        return status;

    auto device = std::make_shared<DeviceModel>();
    int number = 5000;
    if (parser.isSet("device-version") && !readNumber(parser, "device-version", 0, 65535, &number))
        return usage(QStringLiteral("--device-version needs a number from 0 to 65535"));
    device->setFirmwareNumber(std::uint16_t(number));
    if (parser.isSet("trusted-key")) {
        QByteArray key;
        if (!imageverify::parsePublicKey(parser.value("trusted-key"), &key))
            return usage(QStringLiteral("--trusted-key needs 64 hex digits or 32 bytes in base64"));
        imageverify::setTrustedKeyText(parser.value("trusted-key"));
    }
    for (const FaultOption& f : kFaults) {
        if (!parser.isSet(f.name))
            continue;
        int n = 0;
        if (f.takesCount && !readNumber(parser, f.name, 1, 1 << 30, &n))
            return usage(QStringLiteral("--%1 needs a positive number").arg(QLatin1String(f.name)));
        f.apply(device->faults(), n);
    }

    // The device knows where its DSP image ends, as the boot firmware does;
    // that tells its DSP end frame from a data block of the same bytes.
    auto tellDevice = [&device](const QString& path) {
        if (path.isEmpty())
            return;
        QFile imageFile(path);
        fwimage::Header header;
        if (imageFile.open(QIODevice::ReadOnly) &&
            fwimage::parseHeader(imageFile.read(fwimage::kHeaderSize), &header))
            device->setExpectedDspLength(header.dspLength);
    };
    tellDevice(options.imagePath);
    // Online, the image is known once it is downloaded.
    options.downloaded = [&](const QString& path) {
        options.imagePath = path;
        tellDevice(path);
    };

    unattended::StationCommand records;
    records.json = parser.isSet("json");
    records.logPath = parser.value("log");
    unattended::EventLog events;
    QString error;
    if (!unattended::openRecords(records, &events, &options, &error)) {
        std::fprintf(stderr, "firmware-updater-sim: %s\n", qPrintable(error));
        return unattended::Usage;
    }
    // The text for people goes where openRecords put it.
    std::FILE* text = options.out;

    VirtualHidBus bus;
    ScopedServices services;
    services.hid(&bus).server(options.server);
    unattended::DeviceInfo info;
    info.serial = parser.value("serial").toStdString();
    info.path = bus.plug(VirtualHidBus::deviceSpec(device, {}, info.serial));
    info.writable = true;

    options.verify = [&] { return unattended::verifyDevice(*device, options.imagePath, text); };
    const int status = unattended::flashDevice(info, options, &events, false);
    std::fprintf(text, "exit status %d\n", status);
    return status;
}

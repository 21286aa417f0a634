// firmware-updater-cli: the unattended upgrade on the real device, through
// the platform's own HID backend. A headless flasher for scripts and
// production lines: the same window, engine and notices as the desktop
// program, driven without a user, with the notices and the progress printed
// as text and one exit status per outcome.
#include "cli/devicepresence.h"
#include "cli/station.h"
#include "cli/stationcli.h"
#include "core/commandline.h"
#include "core/services.h"
#include "sim/unattended.h"
#include "usb/hidplatform.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QJsonObject>

#include <algorithm>
#include <csignal>
#include <cstdio>

namespace {

// The ids of the window's vendorId and productId.
constexpr std::uint16_t kVendorId = 0x0483;
constexpr std::uint16_t kProductId = 0x0525;
constexpr int kDefaultWaitSeconds = 5;

int usage(const QString& message)
{
    return unattended::usage("firmware-updater-cli", message);
}

} // namespace

int main(int argc, char* argv[])
{
    // No display is needed: the window is never shown on a screen.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    cmdline::provideRuntimeDir();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("firmware-updater-cli"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Writes a firmware image into the connected device (USB HID 0483:0525), "
                       "unattended: the updater's own upgrade, with its notices printed as text. The "
                       "image is a local file (--image) or the newest one on the update server "
                       "(--server).\n\n") +
        unattended::statusHelp());
    unattended::addOptions(parser);
    parser.addOption({"wait-device",
                      QStringLiteral("Wait this many seconds for the device to appear (default %1; 0: do not "
                                     "wait).")
                          .arg(kDefaultWaitSeconds),
                      "seconds"});
    unattended::addStationOptions(parser);
    unattended::Options options;
    if (const int status = unattended::parseCommandLine(
            parser, unattended::withConfirmDefault(app.arguments()), "firmware-updater-cli", &options);
        status >= 0)
        return status;
    double waitSeconds = kDefaultWaitSeconds;
    if (parser.isSet("wait-device")) {
        bool ok = false;
        waitSeconds = parser.value("wait-device").toDouble(&ok);
        if (!ok || waitSeconds < 0 || waitSeconds > 86400)
            return usage(QStringLiteral("--wait-device needs a number of seconds from 0 to 86400"));
    }

    unattended::StationCommand station;
    unattended::EventLog events;
    QString error;
    if (!unattended::readStationOptions(parser, &station, &error))
        return usage(error);
    options.confirmMs = station.confirmMs;
    if (!unattended::openRecords(station, &events, &options, &error)) {
        std::fprintf(stderr, "firmware-updater-cli: %s\n", qPrintable(error));
        return unattended::Usage;
    }
    // Run by a station: Ctrl-C on the terminal is the station's to handle;
    // this device's run finishes or is stopped by it.
    if (station.child)
        std::signal(SIGINT, SIG_IGN);

    HidPlatform* platform = nativeHidPlatform();
    if (!platform) {
        std::fprintf(stderr, "firmware-updater-cli: this build has no HID backend for the platform\n");
        return unattended::NoDevice;
    }
    ScopedServices services;
    services.hid(platform).server(options.server);

    if (station.list || station.all || station.watch) {
        QStringList childArguments;
        for (const char* name : {"image", "timeout", "version-timeout", "server", "wait-device"}) {
            if (parser.isSet(name))
                childArguments << QStringLiteral("--%1").arg(QLatin1String(name)) << parser.value(name);
        }
        if (station.confirmMs > 0)
            childArguments << QStringLiteral("--confirm=%1").arg(station.confirmMs / 1000.0);
        const int status = unattended::runStation(*platform, kVendorId, kProductId, station, options, &events,
                                                  childArguments);
        return status;
    }

    // The text for people: on standard error when standard output holds records.
    std::FILE* text = options.out;
    int status = unattended::NoDevice;
    static std::FILE* waitingText;
    waitingText = text;
    const unattended::Presence presence = unattended::waitForDevice(
        *platform, kVendorId, kProductId, waitSeconds, 250,
        [] {
            if (cmdline::verbosity() == cmdline::Verbosity::Quiet)
                return;
            std::fprintf(waitingText, "waiting for the device %04x:%04x\n", kVendorId, kProductId);
            std::fflush(waitingText);
        },
        station.selection);
    if (presence.ambiguous) {
        // Picking one at random could write the wrong device on a bench.
        std::fprintf(text, "more than one device is attached: choose one with --device PATH or --serial S\n");
        unattended::printDevices(presence.devices, station, &events);
        status = unattended::SeveralDevices;
    } else if (presence.path.empty()) {
        std::fprintf(text, "no device %04x:%04x found\n", kVendorId, kProductId);
    } else if (!presence.writable) {
        // Most often the udev rule is missing: without it only root may
        // open the hidraw node.
        std::fprintf(text, "device %s\n", unattended::shownPath(presence.path).c_str());
        std::fflush(text);
        std::fprintf(stderr, "cannot open the device: %s\n", presence.error.c_str());
        std::fprintf(stderr, "hint: install the udev rule 70-firmware-updater.rules (see README) or run as "
                             "root\n");
        status = unattended::LinkFailure;
    } else {
        std::fprintf(text, "device %s\n", unattended::shownPath(presence.path).c_str());
        std::fflush(text);
        const auto chosen =
            std::find_if(presence.devices.begin(), presence.devices.end(),
                         [&](const unattended::DeviceInfo& d) { return d.path == presence.path; });
        // Bound only when chosen: a lone device that comes back under another
        // node is still the device.
        status =
            unattended::flashDevice(*chosen, options, &events, station.child || !station.selection.any());
    }
    // No run took place: the result record says why.
    if (!presence.writable) {
        events.write(QJsonObject{{"event", "result"},
                                 {"path", QString::fromStdString(unattended::shownPath(presence.path))},
                                 {"status", status},
                                 {"outcome", unattended::statusMeaning(status)}});
    }
    std::fprintf(text, "exit status %d\n", status);
    std::fflush(text);
    return status;
}

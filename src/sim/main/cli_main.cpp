// firmware-updater-cli: the unattended upgrade on the real device, through
// the platform's own HID backend. A headless flasher for scripts and
// production lines: the same window, engine and notices as the desktop
// program, driven without a user, with the notices and the progress printed
// as text and one exit status per outcome.
#include "app/mainwindow.h"
#include "core/services.h"
#include "sim/devicepresence.h"
#include "sim/unattended.h"
#include "usb/hidplatform.h"

#include <QApplication>
#include <QCommandLineParser>

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
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("firmware-updater-cli"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Writes a firmware image into the connected device (USB HID 0483:0525), "
                       "unattended: the updater's own upgrade, with its notices printed as text. The "
                       "image is a local file (--image) or the newest one on the update server "
                       "(--server).\n\n") +
        unattended::statusHelp());
    parser.addHelpOption();
    unattended::addOptions(parser);
    parser.addOption({"wait-device",
                      QStringLiteral("Wait this many seconds for the device to appear (default %1; 0: do not "
                                     "wait).")
                          .arg(kDefaultWaitSeconds),
                      "seconds"});
    unattended::Options options;
    if (const int status =
            unattended::parseCommandLine(parser, app.arguments(), "firmware-updater-cli", &options);
        status >= 0)
        return status;
    double waitSeconds = kDefaultWaitSeconds;
    if (parser.isSet("wait-device")) {
        bool ok = false;
        waitSeconds = parser.value("wait-device").toDouble(&ok);
        if (!ok || waitSeconds < 0 || waitSeconds > 86400)
            return usage(QStringLiteral("--wait-device needs a number of seconds from 0 to 86400"));
    }

    HidPlatform* platform = nativeHidPlatform();
    if (!platform) {
        std::fprintf(stderr, "firmware-updater-cli: this build has no HID backend for the platform\n");
        return unattended::NoDevice;
    }
    ScopedServices services;
    services.hid(platform).server(options.server);

    int status = unattended::NoDevice;
    const unattended::Presence presence =
        unattended::waitForDevice(*platform, kVendorId, kProductId, waitSeconds, 250, [] {
            std::printf("waiting for the device %04x:%04x\n", kVendorId, kProductId);
            std::fflush(stdout);
        });
    if (presence.path.empty()) {
        std::printf("no device %04x:%04x found\n", kVendorId, kProductId);
    } else if (!presence.writable) {
        // Most often the udev rule is missing: without it only root may
        // open the hidraw node.
        std::printf("device %s\ncannot open the device: %s\n", presence.path.c_str(), presence.error.c_str());
        std::printf("hint: install packaging/70-firmware-updater.rules (see README) or run as root\n");
        status = unattended::LinkFailure;
    } else {
        std::printf("device %s\n", presence.path.c_str());
        std::fflush(stdout);
        MainWindow window;
        window.show();
        unattended::Driver driver(options);
        status = driver.run(window);
    }
    std::printf("exit status %d\n", status);
    std::fflush(stdout);
    return status;
}

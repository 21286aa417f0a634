// firmware-updater-cli: the unattended upgrade on the real device, through
// the platform's own HID backend. A headless flasher for scripts and
// production lines: the same window, engine and notices as the desktop
// program, driven without a user, with the notices and the progress printed
// as text and one exit status per outcome.
#include "app/mainwindow.h"
#include "sim/unattended.h"
#include "usb/discovery.h"
#include "usb/hidplatform.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <cstdio>
#include <string>

namespace {

// The ids of the window's vendorId and productId.
constexpr std::uint16_t kVendorId = 0x0483;
constexpr std::uint16_t kProductId = 0x0525;
constexpr int kDefaultWaitSeconds = 5;
constexpr int kRecheckMs = 250;

int usage(const QString& message)
{
    std::fprintf(stderr, "firmware-updater-cli: %s (see --help)\n", qPrintable(message));
    return unattended::Usage;
}

// Where the device is, and whether it can be opened for writing.
struct Presence {
    std::string path; // empty: no interface with the ids
    bool writable = false;
    std::string error; // the backend's words when it could not be opened
};

bool pathCarriesIds(const std::string& path, std::uint16_t vendorId, std::uint16_t productId)
{
    std::string vendor;
    std::string product;
    char want[2][8];
    std::snprintf(want[0], sizeof want[0], "%04X", vendorId);
    std::snprintf(want[1], sizeof want[1], "%04X", productId);
    return idsFromDevicePath(path, &vendor, &product) && vendor == want[0] && product == want[1];
}

// The first interface with the ids. One whose node cannot be opened at all
// (no read or write permission) is still reported, by the ids in its path,
// so that a permission problem is not mistaken for a missing device.
Presence lookForDevice(HidPlatform& platform, std::uint16_t vendorId, std::uint16_t productId)
{
    Presence unopenable;
    for (const std::string& path : platform.enumerate()) {
        const HidHandle probe = platform.openProbe(path);
        if (probe == kInvalidHidHandle) {
            if (unopenable.path.empty() && pathCarriesIds(path, vendorId, productId))
                unopenable = {path, false, platform.lastError()};
            continue;
        }
        HidAttributes a;
        const bool ok = platform.getAttributes(probe, &a);
        platform.close(probe);
        if (!ok || a.vendorId != vendorId || a.productId != productId)
            continue;
        Presence p{path, false, {}};
        const HidHandle w = platform.openWrite(path);
        p.writable = w != kInvalidHidHandle;
        if (p.writable)
            platform.close(w);
        else
            p.error = platform.lastError();
        return p;
    }
    return unopenable;
}

// Looks for the device until it is there and can be opened, or `seconds`
// have passed, checking again every quarter of a second. (With udev, a new
// node's permissions are set a moment after it appears.)
Presence waitForDevice(HidPlatform& platform, std::uint16_t vendorId, std::uint16_t productId, double seconds)
{
    Presence p = lookForDevice(platform, vendorId, productId);
    if (p.writable || seconds <= 0)
        return p;
    std::printf("waiting up to %g s for the device %04x:%04x\n", seconds, vendorId, productId);
    std::fflush(stdout);
    QElapsedTimer elapsed;
    elapsed.start();
    QEventLoop loop;
    QTimer recheck;
    QObject::connect(&recheck, &QTimer::timeout, &loop, [&] {
        p = lookForDevice(platform, vendorId, productId);
        if (p.writable || elapsed.elapsed() >= qint64(seconds * 1000))
            loop.quit();
    });
    recheck.start(kRecheckMs);
    loop.exec();
    return p;
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
    if (!parser.parse(app.arguments()))
        return usage(parser.errorText());
    if (parser.isSet("help")) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        return 0;
    }

    unattended::Options options;
    QString error;
    if (!unattended::readOptions(parser, &options, &error))
        return usage(error);
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
    setHidPlatform(platform);

    int status = unattended::NoDevice;
    const Presence presence = waitForDevice(*platform, kVendorId, kProductId, waitSeconds);
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
    setHidPlatform(nullptr);
    return status;
}

// firmware-updater-cli: the unattended upgrade on the real device, through
// the platform's own HID backend. A headless flasher for scripts and
// production lines: one device or many (--all, --watch), each a session of
// its own in this process, with the notices and the progress printed as
// text and one exit status per outcome. Online (--server) each session
// fetches its own image. Runs on a QCoreApplication: no window, no
// QtWidgets.
#include "cli/devicesession.h"
#include "cli/exitstatus.h"
#include "cli/stationcli.h"
#include "core/commandline.h"
#include "core/services.h"
#include "protocol/protocol.h"
#include "usb/hidplatform.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <csignal>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr int kDefaultWaitSeconds = 5;

} // namespace

int main(int argc, char* argv[])
{
    cmdline::provideRuntimeDir();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("firmware-updater-cli"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Writes a firmware image into the connected device (USB HID 0483:0525), "
                       "unattended: the updater's own upgrade, with its notices printed as text. The "
                       "image is a local file (--image) or the newest one on the update server "
                       "(--server). Results go to standard output, notices and errors to standard "
                       "error.\n\n") +
        cli::statusHelp("the image suited the device's firmware number and every frame of it was "
                        "written, the device acknowledging each full window of 25 frames and the end "
                        "of the DSP stage. Not checked: the device's answer to the ARM end frame, its "
                        "firmware number afterwards; nothing is read back",
                        // Nothing reads the device back here: no image mismatch.
                        {cli::ImageMismatch}));
    cli::addOptions(parser);
    cli::addStationOptions(parser, kDefaultWaitSeconds);
    cli::Options options;
    options.waitSeconds = kDefaultWaitSeconds;
    if (const int status = cli::parseCommandLine(parser, app.arguments(), "firmware-updater-cli", &options);
        status >= 0)
        return status;
    cli::EventLog events;
    if (const int status = cli::openRecords(options, &events); status >= 0)
        return status;
    // Run by a station: Ctrl-C on the terminal is the station's to handle;
    // this device's run finishes or is stopped by it.
    if (options.child)
        std::signal(SIGINT, SIG_IGN);

    HidPlatform* platform = nativeHidPlatform();
    if (!platform) {
        std::fprintf(stderr, "firmware-updater-cli: this build has no HID backend for the platform\n");
        return cli::NoDevice;
    }
    int status = cli::Usage;
    {
        ScopedServices services;
        services.hid(platform).server(options.server);
        status = cli::runStation(*platform, protocol::kVendorId, protocol::kProductId, options, &events);
    }
    // A session stopped (Ctrl-C, its time limit) while its fetch still ran
    // has left that fetch to end on its thread, bounded; its result goes
    // nowhere. The results are out: end without unloading what it uses.
    if (cli::fetchesRunning() > 0) {
        std::fflush(stdout);
        std::fflush(stderr);
        std::_Exit(status);
    }
    return status;
}

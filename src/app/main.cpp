#include "app/checkupdate.h"
#include "app/mainwindow.h"
#include "core/commandline.h"
#include "core/resourcebundle.h"
#include "core/services.h"
#include "online/context.h"
#include "online/updateserver.h"
#include "usb/hidplatform.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QIcon>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <memory>

#ifdef Q_OS_UNIX
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {

const QString kProgram = QStringLiteral("firmware-updater");

void describe(QCommandLineParser& parser)
{
    parser.setApplicationDescription(
        QStringLiteral("Writes firmware into a USB motor base or steering wheel (USB HID 0483:0525). "
                       "Opens the updater's window; choose an image file and press the start button. "
                       "Downloads and version lists are kept in the user's cache directory, or beside "
                       "the program when its own directory is writable."));
    cmdline::addStandardOptions(parser);
    parser.addOption({QStringLiteral("check-update"),
                      QStringLiteral("Once the device's version is known, ask the update server for a "
                                     "newer firmware and offer to download it.")});
    parser.addOption({QStringLiteral("server"),
                      QStringLiteral("Use the update server at HOST[:PORT] (default %1:%2; port 21 when "
                                     "none is given).")
                          .arg(updateServerAddress())
                          .arg(updateServerPort()),
                      QStringLiteral("HOST[:PORT]")});
}

// The icon of the installed theme, or the same drawing from the resource
// bundle where the theme has none (a portable copy, a staged install).
QIcon applicationIcon()
{
    loadResourceBundle();
    QIcon bundled;
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256})
        bundled.addFile(QStringLiteral(":/icons/%1x%1.png").arg(size), QSize(size, size));
    return QIcon::fromTheme(QStringLiteral(UPDATER_APP_ID), bundled);
}

#ifdef Q_OS_UNIX
// SIGTERM and SIGINT (a session that logs out, Ctrl-C in a terminal) close
// the window through the event loop, as a close request of the system
// would, instead of killing the process in the middle of a file write.
int g_signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &byte, 1);
}

std::unique_ptr<QSocketNotifier> closeOnSignals(QWidget& window)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) != 0)
        return nullptr;
    auto notifier = std::make_unique<QSocketNotifier>(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(notifier.get(), &QSocketNotifier::activated, &window, [&window] {
        char byte;
        [[maybe_unused]] const ssize_t n = ::read(g_signalPipe[0], &byte, 1);
        window.close();
    });
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    return notifier;
}
#endif

} // namespace

int main(int argc, char* argv[])
{
    // --help and --version need no display.
    if (cmdline::asksForHelpOrVersion(argc, argv)) {
        QCoreApplication app(argc, argv);
        QCommandLineParser parser;
        describe(parser);
        const int status = cmdline::handleStandardOptions(parser, parser.parse(app.arguments()), kProgram);
        return status < 0 ? 0 : status;
    }
    cmdline::provideRuntimeDir();
    QApplication app(argc, argv); // takes Qt's own options (-platform, -style, ...)
    // The desktop ties the window to its entry by these: the X11 window
    // class is the application name (the entry's StartupWMClass), the
    // Wayland application id is the entry's name.
    QApplication::setApplicationName(kProgram);
    QGuiApplication::setDesktopFileName(QStringLiteral(UPDATER_APP_ID));
    QApplication::setWindowIcon(applicationIcon());
    QCommandLineParser parser;
    describe(parser);
    cmdline::Verbosity level = cmdline::Verbosity::Normal;
    if (const int status =
            cmdline::handleStandardOptions(parser, parser.parse(app.arguments()), kProgram, &level);
        status >= 0)
        return status;
    if (level == cmdline::Verbosity::Quiet)
        cmdline::filterMessagesByVerbosity(level);
    ScopedServices services;
    services.hid(nativeHidPlatform());
    if (parser.isSet(QStringLiteral("server"))) {
        UpdateServer server;
        if (!parseServerAddress(parser.value(QStringLiteral("server")), &server)) {
            std::fprintf(stderr, "%s: --server needs HOST[:PORT] (see --help)\n", qPrintable(kProgram));
            return 64;
        }
        services.server(server);
    }
    // The build's key and limits; libcurl's trace unless --quiet.
    online::Context context;
    context.verbose = level != cmdline::Verbosity::Quiet;
    MainWindow window;
    window.onlineContext = context;
    if (parser.isSet(QStringLiteral("check-update")))
        new CheckUpdateWhenVersionKnown(window);
#ifdef Q_OS_UNIX
    const auto signalWatch = closeOnSignals(window);
#endif
    window.show();
    return app.exec();
}

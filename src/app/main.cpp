#include "app/mainwindow.h"
#include "app/windowstart.h"
#include "core/commandline.h"
#include "core/resourcebundle.h"
#include "usb/hidplatform.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QIcon>
#include <QProcessEnvironment>
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
        windowstart::describe(parser);
        const int status = cmdline::handleStandardOptions(parser, parser.parse(app.arguments()), kProgram);
        return status < 0 ? 0 : status;
    }
    // Without one, the toolkit would abort with its own message.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    if (!windowstart::displayAvailable(arguments, QProcessEnvironment::systemEnvironment())) {
        std::fprintf(stderr,
                     "%s: no display to show the window on (neither DISPLAY nor WAYLAND_DISPLAY is set); "
                     "firmware-updater-cli writes firmware without one\n",
                     qPrintable(kProgram));
        return windowstart::kNoDisplay;
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
    windowstart::describe(parser);
    cmdline::Verbosity level = cmdline::Verbosity::Normal;
    if (const int status =
            cmdline::handleStandardOptions(parser, parser.parse(app.arguments()), kProgram, &level);
        status >= 0)
        return status;
    if (level == cmdline::Verbosity::Quiet)
        cmdline::filterMessagesByVerbosity(level);
    windowstart::Options options;
    QString error;
    if (!windowstart::readOptions(parser, &options, &error)) {
        std::fprintf(stderr, "%s: %s (see --help)\n", qPrintable(kProgram), qPrintable(error));
        return 64;
    }
    options.context.verbose = level == cmdline::Verbosity::Verbose;
    if (options.virtualDevice)
        std::fprintf(stderr,
                     "%s: the device is virtual (USB 0483:0525 inside this program, firmware %u); "
                     "nothing is written to real hardware\n",
                     qPrintable(kProgram), unsigned(options.virtualFirmware));
    windowstart::Program program(options, nativeHidPlatform());
#ifdef Q_OS_UNIX
    const auto signalWatch = closeOnSignals(program.window());
#endif
    program.window().show();
    return app.exec();
}

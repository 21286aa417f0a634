#include "core/commandline.h"

#include <QCommandLineParser>
#include <QDir>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace cmdline {

namespace {
std::atomic<int> g_filterLevel{int(Verbosity::Normal)};
QtMessageHandler g_previousHandler = nullptr;

void filteredHandler(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    const Verbosity level = Verbosity(g_filterLevel.load());
    const bool pass = level == Verbosity::Verbose || type == QtCriticalMsg || type == QtFatalMsg ||
                      (level == Verbosity::Normal && type == QtWarningMsg);
    if (pass && g_previousHandler)
        g_previousHandler(type, context, message);
}
} // namespace

QString versionLine(const QString& program)
{
    return program + QLatin1Char(' ') + QStringLiteral(UPDATER_VERSION);
}

void addStandardOptions(QCommandLineParser& parser)
{
    parser.addHelpOption();
    parser.addOption({QStringLiteral("version"), QStringLiteral("Print the program's version and exit.")});
    parser.addOption(
        {{QStringLiteral("q"), QStringLiteral("quiet")}, QStringLiteral("Print only results and errors.")});
    parser.addOption({{QStringLiteral("v"), QStringLiteral("verbose")},
                      QStringLiteral("Also print the diagnostic trace (device notices, the FTP and "
                                     "libcurl protocol).")});
}

int handleStandardOptions(QCommandLineParser& parser, bool parsed, const QString& program, Verbosity* level)
{
    if (!parsed) {
        std::fprintf(stderr, "%s: %s (see --help)\n", qPrintable(program), qPrintable(parser.errorText()));
        return 64;
    }
    if (parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("help-all"))) {
        std::fputs(parser.helpText().toLocal8Bit().constData(), stdout);
        return 0;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        std::printf("%s\n", qPrintable(versionLine(program)));
        return 0;
    }
    if (parser.isSet(QStringLiteral("quiet")) && parser.isSet(QStringLiteral("verbose"))) {
        std::fprintf(stderr, "%s: --quiet and --verbose exclude each other (see --help)\n",
                     qPrintable(program));
        return 64;
    }
    if (level)
        *level = parser.isSet(QStringLiteral("quiet"))     ? Verbosity::Quiet
                 : parser.isSet(QStringLiteral("verbose")) ? Verbosity::Verbose
                                                           : Verbosity::Normal;
    return -1;
}

bool asksForHelpOrVersion(int argc, char* argv[])
{
    for (int i = 1; i < argc; ++i) {
        for (const char* word : {"-h", "-?", "--help", "-help", "--help-all", "--version"}) {
            if (std::strcmp(argv[i], word) == 0)
                return true;
        }
    }
    return false;
}

void provideRuntimeDir()
{
#ifdef Q_OS_UNIX
    if (!qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR"))
        return;
    const uid_t uid = ::getuid();
    const QByteArray dir = QDir::tempPath().toLocal8Bit() + "/runtime-" + QByteArray::number(uint(uid));
    if (::mkdir(dir.constData(), 0700) != 0 && errno != EEXIST)
        return;
    struct stat st {};
    if (::lstat(dir.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != uid ||
        (st.st_mode & 0777) != 0700)
        return;
    qputenv("XDG_RUNTIME_DIR", dir);
#endif
}

void filterMessagesByVerbosity(Verbosity level)
{
    g_filterLevel.store(int(level));
    QtMessageHandler previous = qInstallMessageHandler(filteredHandler);
    if (!g_previousHandler)
        g_previousHandler = previous;
}

} // namespace cmdline

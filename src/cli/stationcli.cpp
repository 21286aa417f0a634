#include "cli/stationcli.h"

#include "cli/devicepresence.h"
#include "cli/station.h"
#include "core/commandline.h"
#include "core/dataroot.h"
#include "image/firmwareimage.h"
#include "online/fetchlimits.h"
#include "online/imageverify.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QFileInfo>
#include <QJsonObject>
#include <QSocketNotifier>

#include <curl/curl.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>
#ifdef Q_OS_WIN
#include <QMetaObject>
#include <windows.h>
#endif

namespace cli {

namespace {

// How long --list waits for the devices' version replies at most.
constexpr int kListVersionTimeoutMs = 2000;

std::function<void()> g_onInterrupt;
std::atomic<int> g_signals{0};

#ifdef Q_OS_WIN
// Windows calls it on a thread of its own for Ctrl-C and Ctrl-Break; the
// station hears of it in the main thread.
BOOL WINAPI consoleHandler(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
        return FALSE;
    g_signals.fetch_add(1);
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [] {
            if (g_onInterrupt)
                g_onInterrupt();
        },
        Qt::QueuedConnection);
    return TRUE;
}
#else
int g_interruptPipe[2] = {-1, -1};

void interruptHandler(int)
{
    g_signals.fetch_add(1);
    const char byte = 1;
    (void)!::write(g_interruptPipe[1], &byte, 1);
}
#endif

} // namespace

void addRecordOptions(QCommandLineParser& parser)
{
    parser.addOption({"json", "Print one JSON object per line for every event instead of text."});
    parser.addOption({"log",
                      QStringLiteral("Append the same JSON records to FILE (one that cannot be opened for "
                                     "appending ends the run at once, status %1).")
                          .arg(LogUnusable),
                      "file"});
}

void addStationOptions(QCommandLineParser& parser, double waitSeconds)
{
    addRecordOptions(parser);
    parser.addOption({"wait-device",
                      QStringLiteral("Wait this many seconds for the device to appear (default %1; 0: do not "
                                     "wait).")
                          .arg(waitSeconds),
                      "seconds"});
    parser.addOption({"list", "List the attached devices: path, serial number, place, firmware number."});
    parser.addOption({"device", "Use the device at PATH (see --list).", "path"});
    parser.addOption({"serial", "Use the device with this serial number (see --list).", "serial"});
    parser.addOption({"all", "Write the image into every attached device at once; one result per device."});
    parser.addOption({"watch", "Station loop: write the image into every device that is plugged in, until "
                               "Ctrl-C."});
    parser.addOption({"allow-older", "Write an image older than the device's firmware (refused otherwise)."});
    parser.addOption({"allow-reinstall", "Write an image of the firmware the device already runs (refused "
                                         "otherwise)."});
    parser.addOption(
        {"confirm",
         QStringLiteral("After the completion, wait up to SECONDS (default %1, at most %2) for each "
                        "device to come back with the same ids and answer its version query; "
                        "written --confirm, --confirm SECONDS or --confirm=SECONDS.")
             .arg(kConfirmDefaultSeconds)
             .arg(kConfirmMaxSeconds),
         "seconds"});
    parser.addOption({"check",
                      "Write nothing: open each device the run would touch (one, --all, or each one "
                      "plugged in with --watch), read its version and make every check of a real run "
                      "(the file, the family, --allow-older, --allow-reinstall, --sha256; with --server "
                      "the whole fetch and its verification, the release counter not raised), then print "
                      "\"would write IMAGE over FIRMWARE\" or the refusal, and exit with the status the "
                      "run would have."});
    QCommandLineOption child("station-child", "Run for a station: one device, records on standard output.");
    child.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOption(child);
}

bool readStationOptions(const QCommandLineParser& parser, Options* c, QString* error)
{
    SessionOptions& session = c->session;
    c->list = parser.isSet("list");
    c->all = parser.isSet("all");
    c->watch = parser.isSet("watch");
    c->child = parser.isSet("station-child");
    c->json = parser.isSet("json");
    c->logPath = parser.value("log");
    c->selection.path = parser.value("device").toStdString();
    c->selection.serial = parser.value("serial").toStdString();
    session.allowOlder = parser.isSet("allow-older");
    session.allowReinstall = parser.isSet("allow-reinstall");
    session.check = parser.isSet("check");
    if (!parser.positionalArguments().isEmpty()) {
        *error = QStringLiteral("unexpected argument \"%1\"").arg(parser.positionalArguments().constFirst());
        return false;
    }
    if (parser.isSet("wait-device")) {
        bool ok = false;
        c->waitSeconds = parser.value("wait-device").toDouble(&ok);
        if (!ok || c->waitSeconds < 0 || c->waitSeconds > 86400) {
            *error = QStringLiteral("--wait-device needs a number of seconds from 0 to 86400");
            return false;
        }
    }
    if (parser.isSet("confirm")) {
        bool ok = false;
        const double seconds = parser.value("confirm").toDouble(&ok);
        if (!ok || seconds < 1 || seconds > kConfirmMaxSeconds) {
            *error =
                QStringLiteral("--confirm needs a number of seconds from 1 to %1").arg(kConfirmMaxSeconds);
            return false;
        }
        session.confirmMs = int(seconds * 1000);
    }
    if (session.check && session.confirmMs > 0) {
        *error = QStringLiteral("--check writes nothing: there is no restart for --confirm to wait for");
        return false;
    }
    if (int(c->list) + int(c->all) + int(c->watch) > 1) {
        *error = QStringLiteral("--list, --all and --watch exclude each other");
        return false;
    }
    if ((c->all || c->watch) && !c->selection.any()) {
        *error = QStringLiteral("--all and --watch take every device: no --device or --serial with them");
        return false;
    }
    return true;
}

QStringList withConfirmDefault(const QStringList& arguments)
{
    QStringList out;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString& a = arguments[i];
        if (a == QLatin1String("--")) // the rest are no options
            return out + arguments.mid(i);
        if (a != QLatin1String("--confirm")) {
            out << a;
            continue;
        }
        bool number = false;
        if (i + 1 < arguments.size())
            arguments[i + 1].toDouble(&number);
        out << QStringLiteral("--confirm=%1")
                   .arg(number ? arguments[++i] : QString::number(kConfirmDefaultSeconds));
    }
    return out;
}

int openRecords(const Options& options, EventLog* events)
{
    if (options.json)
        events->setOutput(stdout);
    QString error;
    if (!options.logPath.isEmpty() && !events->openLog(options.logPath, &error)) {
        std::fprintf(stderr, "%s: %s\n", QCoreApplication::applicationName().toLocal8Bit().constData(),
                     qPrintable(error));
        events->setContext({{"path", QJsonValue()}, {"serial", QJsonValue()}});
        ResultFacts facts;
        facts.status = LogUnusable;
        facts.error = error;
        events->write(resultRecord(facts));
        return LogUnusable;
    }
    return -1;
}

void printDevices(const std::vector<DeviceInfo>& devices, bool json, EventLog* events)
{
    for (const DeviceInfo& d : devices) {
        events->setContext({});
        auto text = [](const std::string& t) {
            return t.empty() ? QJsonValue() : QJsonValue(QString::fromStdString(t));
        };
        events->write(QJsonObject{{"event", "device"},
                                  {"path", QString::fromStdString(shownPath(d.path))},
                                  {"serial", text(d.serial)},
                                  {"location", text(d.location)},
                                  {"writable", d.writable},
                                  {"firmware", d.firmware < 0 ? QJsonValue() : QJsonValue(d.firmware)},
                                  {"error", text(d.error)}});
    }
    if (json)
        return;
    std::printf("%-24s %-20s %-28s %s\n", "PATH", "SERIAL", "LOCATION", "FIRMWARE");
    for (const DeviceInfo& d : devices) {
        const std::string firmware = !d.writable      ? "cannot open: " + printable(d.error)
                                     : d.firmware < 0 ? "no reply"
                                                      : std::to_string(d.firmware);
        std::printf("%-24s %-20s %-28s %s\n", printable(shownPath(d.path)).c_str(),
                    d.serial.empty() ? "-" : printable(d.serial).c_str(),
                    d.location.empty() ? "-" : printable(d.location).c_str(), firmware.c_str());
    }
    std::fflush(stdout);
}

namespace {

std::string programName()
{
    return QCoreApplication::applicationName().toStdString();
}

// The result record of a device that never ran (or of no device at all,
// or of an image refused before any device was looked for).
void recordWithoutRun(EventLog* events, const std::string& path, int status, const QString& error = {},
                      const SessionOptions* image = nullptr)
{
    events->setContext(QJsonObject{
        {"path", path.empty() ? QJsonValue() : QJsonValue(QString::fromStdString(shownPath(path)))},
        {"serial", QJsonValue()}});
    ResultFacts facts;
    facts.status = status;
    facts.error = error;
    if (image) {
        facts.image = image->imagePath;
        facts.bytes = image->imageRead ? &image->image : nullptr;
    }
    events->write(resultRecord(facts));
}

// The checks of an image file that need no device, before one is looked
// for: readable, a regular file within the size bound, an image's format,
// the digest of --sha256. Returns -1, or the status with the reason in
// `error`.
int judgeImage(SessionOptions* session, QString* error)
{
    if (!loadSessionImage(session->imagePath, session, error))
        return FileFormat;
    const fwimage::Check check = fwimage::checkImage(session->image);
    if (check != fwimage::Check::Ok) {
        *error = QStringLiteral("image %1: not a firmware image: %2")
                     .arg(session->imagePath, QString::fromUtf8(fwimage::checkName(check)));
        return FileFormat;
    }
    const QByteArray digest = QCryptographicHash::hash(session->image, QCryptographicHash::Sha256);
    if (!session->sha256.isEmpty() && digest != session->sha256) {
        *error = QStringLiteral("image %1: its SHA-256 is %2, not the %3 of --sha256")
                     .arg(session->imagePath, QString::fromLatin1(digest.toHex()),
                          QString::fromLatin1(session->sha256.toHex()));
        return ImageDigest;
    }
    return -1;
}

} // namespace

int chooseDevice(HidPlatform& platform, std::uint16_t vendorId, std::uint16_t productId,
                 const Options& options, bool quiet, EventLog* events, DeviceInfo* chosen)
{
    bool interrupted = false;
    // A station's child leaves Ctrl-C to the station, and ends on its SIGTERM.
    if (!options.child)
        onInterruptSignal([&interrupted] { interrupted = true; });
    const Presence presence = waitForDevice(
        platform, vendorId, productId, options.waitSeconds, 250,
        [=] {
            if (!quiet)
                std::fprintf(stderr, "waiting for the device %04x:%04x\n", vendorId, productId);
        },
        options.selection, [&interrupted] { return interrupted; });
    if (!options.child)
        onInterruptSignal({});
    int status = -1;
    if (interrupted && !presence.writable) {
        std::fprintf(stderr, "%s: interrupted while waiting for the device\n", programName().c_str());
        status = Interrupted;
    } else if (presence.ambiguous) {
        // Picking one at random could write the wrong device on a bench.
        std::fprintf(stderr,
                     "more than one device is attached: choose one with --device PATH or --serial S\n");
        printDevices(presence.devices, options.json, events);
        status = SeveralDevices;
    } else if (presence.path.empty()) {
        std::fprintf(stderr, "no device %04x:%04x found\n", vendorId, productId);
        status = NoDevice;
    } else if (!presence.writable) {
        // Most often the udev rule is missing: without it only root may
        // open the hidraw node.
        std::fprintf(stderr, "cannot open the device %s: %s\n", printable(shownPath(presence.path)).c_str(),
                     printable(presence.error).c_str());
        std::fprintf(stderr, "hint: install the udev rule 70-firmware-updater.rules (see README) or run as "
                             "root\n");
        status = LinkFailure;
    }
    if (status >= 0) {
        recordWithoutRun(events, presence.path, status);
        if (!options.json)
            std::printf("FAIL %s: status %d, %s\n",
                        presence.path.empty() ? "-" : printable(shownPath(presence.path)).c_str(), status,
                        qPrintable(statusMeaning(status)));
        return status;
    }
    *chosen = *std::find_if(presence.devices.begin(), presence.devices.end(),
                            [&](const DeviceInfo& d) { return d.path == presence.path; });
    return -1;
}

int runStation(HidPlatform& platform, std::uint16_t vendorId, std::uint16_t productId, const Options& options,
               EventLog* events, const DeviceHooks& hooks)
{
    if (options.list) {
        std::vector<DeviceInfo> devices = listDevices(platform, vendorId, productId);
        queryFirmwareNumbers(platform, &devices,
                             std::min(options.session.versionTimeoutMs, kListVersionTimeoutMs));
        // No device is said to people; in JSON it is no record at all.
        if (!devices.empty())
            printDevices(devices, options.json, events);
        else if (!options.json)
            std::printf("no device %04x:%04x is attached\n", vendorId, productId);
        std::fflush(stdout);
        return Success;
    }

    StationOptions s;
    s.platform = &platform;
    s.session = options.session;
    if (!s.session.online) {
        // Before any device is waited for: a file that cannot be used is
        // said at once, with the system's reason.
        QString error;
        if (const int status = judgeImage(&s.session, &error); status >= 0) {
            std::fprintf(stderr, "%s: %s\n", programName().c_str(), qPrintable(error));
            recordWithoutRun(events, {}, status, error, &s.session);
            return status;
        }
    }
    // The station loop measures each restart unless --confirm asks to judge it.
    if (options.watch && s.session.confirmMs <= 0) {
        s.session.confirmMs = kConfirmDefaultSeconds * 1000;
        s.session.confirmJudges = false;
    }
    s.session.vendorId = vendorId;
    s.session.productId = productId;
    s.session.writing = hooks.writing;
    s.session.verify = hooks.verify;
    // Online, each session fetches its own image once its device answered,
    // on a thread of its own; libcurl is set up here, once, before any.
    if (s.session.online) {
        curl_global_init(CURL_GLOBAL_ALL);
        s.session.dataRoot = dataRoot().root;
    }
    // The session's own limit comes first; this one is the station's over
    // it: the one given, and the wait of --confirm. Online without a limit:
    // the fetch's bound and the largest image the fetch takes.
    const online::Context& context = s.session.context;
    qint64 limit = s.session.timeoutMs > 0 ? s.session.timeoutMs : 30000 + s.session.image.size() / 2;
    if (s.session.online && s.session.timeoutMs <= 0)
        limit = context.limits.deadlineMs + 30000 + context.limits.capBytes / 2;
    s.childTimeoutMs = int(std::min<qint64>(limit + s.session.confirmMs, std::numeric_limits<int>::max()));
    s.out = options.json ? nullptr : stdout;
    s.err = stderr;
    s.quiet = options.verbosity == cmdline::Verbosity::Quiet;
    s.terminal = !options.json && !s.quiet && isatty(fileno(stdout));
    s.events = events->enabled() ? events : nullptr;

    std::vector<DeviceInfo> one;
    if (!options.all && !options.watch) {
        DeviceInfo chosen;
        if (const int status = chooseDevice(platform, vendorId, productId, options, s.quiet, events, &chosen);
            status >= 0)
            return status;
        one.push_back(chosen);
        s.single = true;
    }
    Station station(s);
    onInterruptSignal([&station] { station.interrupt(); });
    int status = NoDevice;
    if (options.watch) {
        status = station.watch(platform, vendorId, productId);
    } else {
        const std::vector<DeviceInfo> devices = s.single ? one : listDevices(platform, vendorId, productId);
        if (devices.empty()) {
            std::fprintf(stderr, "no device %04x:%04x found\n", vendorId, productId);
            recordWithoutRun(events, {}, NoDevice);
        }
        status = station.flashAll(devices);
    }
    onInterruptSignal({}); // the station is about to go
    return status;
}

int interruptSignals()
{
    return g_signals.load();
}

void onInterruptSignal(std::function<void()> onInterrupt)
{
    g_onInterrupt = std::move(onInterrupt);
#ifdef Q_OS_WIN
    static const bool installed = SetConsoleCtrlHandler(consoleHandler, TRUE) != 0;
    (void)installed;
#else
    if (g_interruptPipe[0] >= 0)
        return;
    if (::pipe2(g_interruptPipe, O_CLOEXEC | O_NONBLOCK) < 0)
        return;
    auto* notifier =
        new QSocketNotifier(g_interruptPipe[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, [] {
        char buffer[16];
        while (::read(g_interruptPipe[0], buffer, sizeof buffer) > 0) {
        }
        if (g_onInterrupt)
            g_onInterrupt();
    });
    struct sigaction action {};
    action.sa_handler = interruptHandler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
#endif
}

} // namespace cli

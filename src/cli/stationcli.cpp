#include "cli/stationcli.h"

#include "cli/station.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <QJsonObject>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>
#ifdef Q_OS_WIN
#include <QMetaObject>
#include <windows.h>
#endif

namespace unattended {

namespace {

// How long --list waits for the devices' version replies at most.
constexpr int kListVersionTimeoutMs = 2000;

std::function<void()> g_onInterrupt;

#ifdef Q_OS_WIN
// Windows calls it on a thread of its own for Ctrl-C and Ctrl-Break; the
// station hears of it in the main thread.
BOOL WINAPI consoleHandler(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
        return FALSE;
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
    const char byte = 1;
    (void)!::write(g_interruptPipe[1], &byte, 1);
}
#endif

} // namespace

void addRecordOptions(QCommandLineParser& parser)
{
    parser.addOption({"json", "Print one JSON object per line for every event instead of text."});
    parser.addOption({"log", "Append the same JSON records to FILE.", "file"});
}

void addStationOptions(QCommandLineParser& parser)
{
    addRecordOptions(parser);
    parser.addOption({"list", "List the attached devices: path, serial number, place, firmware number."});
    parser.addOption({"device", "Use the device at PATH (see --list).", "path"});
    parser.addOption({"serial", "Use the device with this serial number (see --list).", "serial"});
    parser.addOption({"all", "Write the image into every attached device at once; one result per device."});
    parser.addOption({"watch", "Station loop: write the image into every device that is plugged in, until "
                               "Ctrl-C."});
    QCommandLineOption child("station-child", "Run for a station: one device, records on standard output.");
    child.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOption(child);
}

bool readStationOptions(const QCommandLineParser& parser, StationCommand* c, QString* error)
{
    c->list = parser.isSet("list");
    c->all = parser.isSet("all");
    c->watch = parser.isSet("watch");
    c->child = parser.isSet("station-child");
    c->json = parser.isSet("json");
    c->logPath = parser.value("log");
    c->selection.path = parser.value("device").toStdString();
    c->selection.serial = parser.value("serial").toStdString();
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

bool openRecords(const StationCommand& command, EventLog* events, Options* options, QString* error)
{
    if (!command.logPath.isEmpty() && !events->openLog(command.logPath, error))
        return false;
    if (command.json) {
        events->setOutput(stdout);
        options->out = stderr;
    }
    options->events = events->enabled() ? events : nullptr;
    return true;
}

void printDevices(const std::vector<DeviceInfo>& devices, const StationCommand& command, EventLog* events)
{
    for (const DeviceInfo& d : devices) {
        events->setContext({});
        events->write(QJsonObject{{"event", "device"},
                                  {"path", QString::fromStdString(d.path)},
                                  {"serial", QString::fromStdString(d.serial)},
                                  {"location", QString::fromStdString(d.location)},
                                  {"writable", d.writable},
                                  {"firmware", d.firmware < 0 ? QJsonValue() : QJsonValue(d.firmware)},
                                  {"error", QString::fromStdString(d.error)}});
    }
    if (command.json)
        return;
    std::printf("%-40s %-20s %-28s %s\n", "PATH", "SERIAL", "LOCATION", "FIRMWARE");
    for (const DeviceInfo& d : devices) {
        const std::string firmware = !d.writable      ? "cannot open: " + d.error
                                     : d.firmware < 0 ? "no reply"
                                                      : std::to_string(d.firmware);
        std::printf("%-40s %-20s %-28s %s\n", d.path.c_str(), d.serial.empty() ? "-" : d.serial.c_str(),
                    d.location.empty() ? "-" : d.location.c_str(), firmware.c_str());
    }
    std::fflush(stdout);
}

int runStation(HidPlatform& platform, std::uint16_t vendorId, std::uint16_t productId,
               const StationCommand& command, const Options& options, EventLog* events,
               const QStringList& childArguments)
{
    if (command.list) {
        std::vector<DeviceInfo> devices = listDevices(platform, vendorId, productId);
        queryFirmwareNumbers(platform, &devices, std::min(options.versionTimeoutMs, kListVersionTimeoutMs));
        printDevices(devices, command, events);
        return devices.empty() ? NoDevice : Success;
    }

    StationOptions s;
    s.platform = &platform;
    loadSessionImage(options.imagePath, &s.session);
    s.session.versionTimeoutMs = options.versionTimeoutMs;
    s.session.timeoutMs = options.timeoutMs;
    s.session.productId = productId;
    s.session.sha256 = options.sha256;
    // The online road runs through the window: a child per device.
    if (options.online)
        s.program = QCoreApplication::applicationFilePath();
    s.arguments = [childArguments](const DeviceInfo& d) {
        return QStringList{"--station-child", "--json", "--device", QString::fromStdString(d.path)} +
               childArguments;
    };
    // The child's own limit comes first; this one catches a child that hangs.
    const int childLimit =
        options.timeoutMs > 0 ? options.timeoutMs : 30000 + int(QFileInfo(options.imagePath).size() / 2);
    s.childTimeoutMs = childLimit + 30000;
    s.out = command.json ? nullptr : stdout;
    s.terminal = !command.json && isatty(fileno(stdout));
    s.events = events->enabled() ? events : nullptr;
    Station station(s);
    onInterruptSignal([&station] { station.interrupt(); });
    int status = NoDevice;
    if (command.watch) {
        status = station.watch(platform, vendorId, productId);
    } else {
        const std::vector<DeviceInfo> devices = listDevices(platform, vendorId, productId);
        if (devices.empty() && !command.json)
            std::printf("no device %04x:%04x found\n", vendorId, productId);
        status = station.flashAll(devices);
    }
    onInterruptSignal({}); // the station is about to go
    return status;
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

} // namespace unattended

// Flashes a 64 KiB image into N = 1, 2, 4, 8, 16, 32 virtual devices at
// once, the way `firmware-updater-cli --all` does it: one station, one
// session per device in this process (one shared 2 ms tick, a reader thread
// per device), the devices on an in-process virtual bus. Prints per run:
// each device's transfer rate as a share of the protocol's bound (4000 B/s)
// and relative to the single device, the aggregate rate of the batch, and
// the CPU per device. The CPU is the whole process's, so it counts the
// virtual devices' work too: the station's own share is lower. Links what
// firmware-updater-cli links (no QtWidgets), so its peak resident memory
// (max RSS, the process's own, or the largest child's) is the cli's with N
// devices, the virtual devices' buffers included.
//
// Usage: bench_station [--processes] [N...]   (default 1 2 4 8 16 32)
//   --processes: one firmware-updater-sim child per device instead (the
//                station's child mode), CPU of the children.
#include "cli/eventlog.h"
#include "cli/station.h"
#include "image/firmwareimage.h"
#include "qtbridge/bytes.h"
#include "usb/backends/virtual/virtualbus.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr double kBoundBytesPerSecond = 4000.0;
constexpr int kImageBytes = 64 * 1024;

bool g_processes = false;

double cpuSeconds()
{
    rusage u{};
    getrusage(g_processes ? RUSAGE_CHILDREN : RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

struct Figures {
    int devices = 0;
    int succeeded = 0;
    double meanRate = 0; // image bytes per second of transfer, mean over devices
    double minRate = 0;
    double aggregate = 0;    // all image bytes / wall time of the batch
    double cpuPerDevice = 0; // seconds of CPU per device
    double wall = 0;
    long maxRssKiB = 0; // peak resident memory so far
};

Figures run(int n, const QString& image, const QString& dir)
{
    const QString log = dir + QStringLiteral("/bench-%1.jsonl").arg(n);
    QFile::remove(log);
    unattended::EventLog events;
    QString error;
    if (!events.openLog(log, &error))
        std::fprintf(stderr, "%s\n", qPrintable(error));
    std::vector<unattended::DeviceInfo> devices(static_cast<std::size_t>(n));
    VirtualHidBus bus;
    for (int i = 0; i < n; ++i) {
        devices[i].path = "bench-" + std::to_string(i);
        devices[i].serial = "B" + std::to_string(i);
        devices[i].writable = true;
        if (!g_processes) {
            auto model = std::make_shared<DeviceModel>();
            model->setExpectedDspLength(std::size_t(kImageBytes / 4));
            devices[i].path = bus.plug(VirtualHidBus::deviceSpec(model, {}, devices[i].serial));
        }
    }
    unattended::StationOptions s;
    s.platform = &bus;
    unattended::loadSessionImage(image, &s.session);
    s.session.timeoutMs = 600000;
    if (g_processes)
        s.program = QStringLiteral(FIRMWARE_UPDATER_SIM);
    s.arguments = [image](const unattended::DeviceInfo& d) {
        return QStringList{
            "--json", "--image", image, "--timeout", "600", "--serial", QString::fromStdString(d.serial)};
    };
    s.out = nullptr;
    s.err = nullptr;
    s.events = &events;
    unattended::Station station(s);

    const double cpuBefore = cpuSeconds();
    QElapsedTimer wall;
    wall.start();
    station.flashAll(devices);
    Figures f;
    f.devices = n;
    f.wall = wall.elapsed() / 1000.0;
    f.cpuPerDevice = (cpuSeconds() - cpuBefore) / n;
    rusage u{};
    getrusage(g_processes ? RUSAGE_CHILDREN : RUSAGE_SELF, &u);
    f.maxRssKiB = u.ru_maxrss;

    QFile records(log);
    std::vector<double> rates;
    if (records.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : records.readAll().split('\n')) {
            const QJsonObject o = QJsonDocument::fromJson(line).object();
            if (o.value("event").toString() != QLatin1String("result"))
                continue;
            const double transfer = o.value("transfer_s").toDouble();
            if (o.value("status").toInt(-1) == 0 && transfer > 0) {
                ++f.succeeded;
                rates.push_back(kImageBytes / transfer);
            }
        }
    }
    if (!rates.empty()) {
        double sum = 0;
        for (double r : rates)
            sum += r;
        f.meanRate = sum / double(rates.size());
        f.minRate = *std::min_element(rates.begin(), rates.end());
    }
    f.aggregate = double(f.succeeded) * kImageBytes / f.wall;
    return f;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QList<int> counts;
    for (const QString& a : app.arguments().mid(1)) {
        bool number = false;
        const int n = a.toInt(&number);
        if (a == QLatin1String("--processes")) {
            g_processes = true;
        } else if (number && n >= 1 && n <= 256) {
            counts << n;
        } else {
            const bool help = a == QLatin1String("-h") || a == QLatin1String("--help");
            std::fprintf(
                help ? stdout : stderr,
                "%sUsage: bench_station [--processes] [N...]\n"
                "Flashes a 64 KiB image into N virtual devices at once (default runs: 1 2 4 8 16 "
                "32; N from 1 to 256)\nand prints each run's transfer rates and CPU per device.\n"
                "  --processes  one firmware-updater-sim child per device instead of a session in "
                "this process\n",
                help ? "" : qPrintable(QStringLiteral("bench_station: unknown argument \"%1\"\n").arg(a)));
            return help ? 0 : 64;
        }
    }
    if (counts.isEmpty())
        counts = {1, 2, 4, 8, 16, 32};

    QTemporaryDir dir;
    const QString image = dir.filePath("bench.fw");
    QFile out(image);
    const int dsp = kImageBytes / 4;
    if (!out.open(QIODevice::WriteOnly) ||
        out.write(toQByteArray(fwimage::pack(fwimage::sampleBytes(dsp, 1),
                                             fwimage::sampleBytes(kImageBytes - dsp, 2), 5001))) < 0)
        return 1;
    out.close();

    std::printf("64 KiB image, %s; bound 4000 B/s per device\n",
                g_processes ? "one firmware-updater-sim child per device"
                            : "one session per device in one process");
    std::printf("%4s %6s %12s %10s %10s %12s %13s %11s %9s %11s\n", "N", "ok", "mean B/s", "of bound",
                "vs N=1", "min of bound", "aggregate B/s", "CPU/device", "of a core", "max RSS");
    double single = 0;
    for (int n : counts) {
        const Figures f = run(n, image, dir.path());
        if (single == 0 && f.meanRate > 0)
            single = f.meanRate;
        std::printf("%4d %3d/%-3d %12.0f %9.1f%% %9.1f%% %11.1f%% %13.0f %10.2fs %8.1f%% %7.1f MiB\n", n,
                    f.succeeded, n, f.meanRate, 100 * f.meanRate / kBoundBytesPerSecond,
                    single > 0 ? 100 * f.meanRate / single : 0, 100 * f.minRate / kBoundBytesPerSecond,
                    f.aggregate, f.cpuPerDevice, 100 * f.cpuPerDevice / f.wall, f.maxRssKiB / 1024.0);
        std::fflush(stdout);
    }
    return 0;
}

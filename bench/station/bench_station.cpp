// Flashes a 64 KiB image into N = 1, 2, 4, 8, 16, 32 virtual devices at
// once, the way `firmware-updater-cli --all` does it: one station, one
// session per device in this process (one shared 2 ms tick, a reader thread
// per device), the devices on an in-process virtual bus. Prints per run:
// each device's transfer rate as a share of the protocol's bound (4000 B/s)
// and relative to the single device, the aggregate rate of the batch, and
// the CPU per device (the share of it spent in the kernel) and the context
// switches per device and second (getrusage's voluntary and involuntary
// ones: a thread's sleep in a futex, a read or the event loop's poll counts
// once, so they stand for the wake-ups and contended locks). The CPU is the
// whole process's, so it counts the virtual devices' work too: the
// station's own share is lower. Links what
// firmware-updater-cli links (no QtWidgets), so its peak resident memory
// (max RSS, the process's own, or the largest child's) is the cli's with N
// devices, the virtual devices' buffers included.
//
// Usage: bench_station [--processes] [--hung] [N...]   (default 1 2 4 8 16 32)
//   --processes: one firmware-updater-sim child per device instead (the
//                station's child mode), CPU of the children.
//   --hung:      after each run of N >= 2, the same run with one of the N
//                devices taking 4.9 s in every feature write (just under the
//                kernel's 5 s limit): the others' rates show whether a
//                device hanging in a write holds the station up.
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
#include <chrono>
#include <cstdio>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace {

constexpr double kBoundBytesPerSecond = 4000.0;
constexpr int kImageBytes = 64 * 1024;

bool g_processes = false;
constexpr int kHangMs = 4900;

// The bus, with every feature write of one device taking kHangMs first.
class HangingWrites : public HidPlatform {
public:
    HangingWrites(VirtualHidBus& bus, std::string hungPath)
        : bus_(bus)
        , hungPath_(std::move(hungPath))
    {}
    std::vector<std::string> enumerate() override { return bus_.enumerate(); }
    HidHandle openProbe(const std::string& p) override { return bus_.openProbe(p); }
    bool getAttributes(HidHandle h, HidAttributes* a) override { return bus_.getAttributes(h, a); }
    HidHandle openRead(const std::string& p) override { return bus_.openRead(p); }
    HidHandle openWrite(const std::string& p) override
    {
        const HidHandle h = bus_.openWrite(p);
        if (p == hungPath_) {
            std::lock_guard<std::mutex> lock(mutex_);
            hung_.insert(h);
        }
        return h;
    }
    bool getCaps(HidHandle h, HidCaps* c) override { return bus_.getCaps(h, c); }
    bool getSerialNumber(HidHandle h, std::string* s) override { return bus_.getSerialNumber(h, s); }
    bool setFeature(HidHandle h, const std::uint8_t* d, std::size_t n) override
    {
        // The version query, the start frame and the DSP handshake go
        // through: the device hangs in its transfer, while the others send.
        bool hangs = false;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            hangs = hung_.count(h) > 0 && ++writes_ > 3;
        }
        if (hangs)
            std::this_thread::sleep_for(std::chrono::milliseconds(kHangMs));
        return bus_.setFeature(h, d, n);
    }
    int readInput(HidHandle h, std::uint8_t* b, std::size_t n) override { return bus_.readInput(h, b, n); }
    void close(HidHandle h) override { bus_.close(h); }
    bool registerNotices(void* w, NoticeSink sink) override
    {
        return bus_.registerNotices(w, std::move(sink));
    }

private:
    VirtualHidBus& bus_;
    std::string hungPath_;
    std::mutex mutex_;
    std::set<HidHandle> hung_;
    int writes_ = 0; // to the hung device
};

struct Usage {
    double user = 0;
    double system = 0;
    long switches = 0; // voluntary and involuntary context switches
};

Usage usage()
{
    rusage u{};
    getrusage(g_processes ? RUSAGE_CHILDREN : RUSAGE_SELF, &u);
    return {double(u.ru_utime.tv_sec) + double(u.ru_utime.tv_usec) / 1e6,
            double(u.ru_stime.tv_sec) + double(u.ru_stime.tv_usec) / 1e6, u.ru_nvcsw + u.ru_nivcsw};
}

struct Figures {
    int devices = 0;
    int succeeded = 0;
    double meanRate = 0; // image bytes per second of transfer, mean over devices
    double minRate = 0;
    double aggregate = 0;    // all image bytes / wall time of the batch
    double cpuPerDevice = 0; // seconds of CPU per device
    double systemShare = 0;  // of that CPU, in the kernel
    double switchesPerDeviceSecond = 0;
    double wall = 0;
    long maxRssKiB = 0; // peak resident memory so far
};

// With `hung`, the first device hangs in every write of its transfer; it
// ends in its stage's time-out while the others go on.
Figures run(int n, const QString& image, const QString& dir, bool hung = false)
{
    const QString log = dir + QStringLiteral("/bench-%1.jsonl").arg(n);
    QFile::remove(log);
    cli::EventLog events;
    QString error;
    if (!events.openLog(log, &error))
        std::fprintf(stderr, "%s\n", qPrintable(error));
    std::vector<cli::DeviceInfo> devices(static_cast<std::size_t>(n));
    VirtualHidBus bus;
    for (int i = 0; i < n; ++i) {
        devices[i].path = "bench-" + std::to_string(i);
        devices[i].serial = "B" + std::to_string(i);
        devices[i].writable = true;
        if (!g_processes) {
            auto model = std::make_shared<DeviceModel>();
            model->setExpectedDspLength(std::size_t(kImageBytes / 4));
            devices[i].path = bus.plug(VirtualHidBus::deviceInterface(model, {}, devices[i].serial));
        }
    }
    HangingWrites hanging(bus, devices[0].path);
    cli::StationOptions s;
    s.platform = hung ? static_cast<HidPlatform*>(&hanging) : &bus;
    cli::loadSessionImage(image, &s.session);
    s.session.timeoutMs = 600000;
    if (g_processes)
        s.program = QStringLiteral(FIRMWARE_UPDATER_SIM);
    s.arguments = [image](const cli::DeviceInfo& d) {
        return QStringList{
            "--json", "--image", image, "--timeout", "600", "--serial", QString::fromStdString(d.serial)};
    };
    s.out = nullptr;
    s.err = nullptr;
    s.events = &events;
    cli::Station station(s);

    const Usage before = usage();
    QElapsedTimer wall;
    wall.start();
    station.flashAll(devices);
    const double wallSeconds = wall.elapsed() / 1000.0;
    const Usage after = usage();
    // A write the hung device is still in returns within kHangMs: its
    // thread touches the bus until then.
    if (hung)
        std::this_thread::sleep_for(std::chrono::milliseconds(kHangMs + 200));
    Figures f;
    f.devices = n;
    f.wall = wallSeconds;
    const double cpu = after.user + after.system - before.user - before.system;
    f.cpuPerDevice = cpu / n;
    f.systemShare = cpu > 0 ? (after.system - before.system) / cpu : 0;
    f.switchesPerDeviceSecond = double(after.switches - before.switches) / n / wallSeconds;
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
    bool hungRows = false;
    for (const QString& a : app.arguments().mid(1)) {
        bool number = false;
        const int n = a.toInt(&number);
        if (a == QLatin1String("--processes")) {
            g_processes = true;
        } else if (a == QLatin1String("--hung")) {
            hungRows = true;
        } else if (number && n >= 1 && n <= 256) {
            counts << n;
        } else {
            const bool help = a == QLatin1String("-h") || a == QLatin1String("--help");
            std::fprintf(
                help ? stdout : stderr,
                "%sUsage: bench_station [--processes] [--hung] [N...]\n"
                "Flashes a 64 KiB image into N virtual devices at once (default runs: 1 2 4 8 16 "
                "32; N from 1 to 256)\nand prints each run's transfer rates, CPU and context switches\nper "
                "device.\n"
                "  --processes  one firmware-updater-sim child per device instead of a session in "
                "this process\n"
                "  --hung       also each N >= 2 with one device taking 4.9 s in every write\n",
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
    std::printf("%4s %6s %12s %10s %10s %12s %13s %11s %9s %7s %11s %11s\n", "N", "ok", "mean B/s",
                "of bound", "vs N=1", "min of bound", "aggregate B/s", "CPU/device", "of a core", "kernel",
                "switches/s", "max RSS");
    double single = 0;
    auto print = [&](const Figures& f, const char* label) {
        std::printf("%4d %3d/%-3d %12.0f %9.1f%% %9.1f%% %11.1f%% %13.0f %10.2fs %8.1f%% %6.0f%% %11.0f "
                    "%7.1f MiB%s\n",
                    f.devices, f.succeeded, f.devices, f.meanRate, 100 * f.meanRate / kBoundBytesPerSecond,
                    single > 0 ? 100 * f.meanRate / single : 0, 100 * f.minRate / kBoundBytesPerSecond,
                    f.aggregate, f.cpuPerDevice, 100 * f.cpuPerDevice / f.wall, 100 * f.systemShare,
                    f.switchesPerDeviceSecond, f.maxRssKiB / 1024.0, label);
        std::fflush(stdout);
    };
    for (int n : counts) {
        const Figures f = run(n, image, dir.path());
        if (single == 0 && f.meanRate > 0)
            single = f.meanRate;
        print(f, "");
        if (hungRows && n >= 2 && !g_processes)
            print(run(n, image, dir.path(), true), "  one device hung 4.9 s per write");
    }
    return 0;
}

// Flashes 64 KiB and 256 KiB images into the virtual device, which answers
// at once, through the main window on its real 2 ms timers, and prints how
// close the transfer comes to the protocol's bound: one 8-byte frame per
// 2 ms tick, 4000 image bytes per second; with the CPU it took (the share
// in the kernel) and the process's context switches per second (voluntary
// and involuntary, from getrusage: the wake-ups).
//
// Usage: bench_upgrade [KIB...]   (default 64 256; each from 1 to 1024)
#include "app/mainwindow.h"
#include "app/ui_mainwindow.h"
#include "core/filedialog.h"
#include "core/messagebox.h"
#include "core/processexit.h"
#include "core/services.h"
#include "image/firmwareimage.h"
#include "qtbridge/bytes.h"
#include "usb/backends/virtual/virtualbus.h"
#include "usb/linkstate.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>

#include <sys/resource.h>

#include <cstdio>

namespace {

constexpr double kBoundBytesPerSecond = 4000.0;

struct Usage {
    double user = 0;
    double system = 0;
    long switches = 0;
};

Usage usage()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return {double(u.ru_utime.tv_sec) + double(u.ru_utime.tv_usec) / 1e6,
            double(u.ru_stime.tv_sec) + double(u.ru_stime.tv_usec) / 1e6, u.ru_nvcsw + u.ru_nivcsw};
}

// Returns false when the upgrade did not complete.
bool flash(int imageKiB, const QString& dir)
{
    resetLinkState();
    VirtualHidBus bus;
    ScopedServices services;
    services.hid(&bus);
    auto device = std::make_shared<DeviceModel>();
    const int dspSize = imageKiB * 1024 / 4;
    const int armSize = imageKiB * 1024 - dspSize;
    device->setExpectedDspLength(std::size_t(dspSize));
    bus.plug(VirtualHidBus::deviceInterface(device));

    const QByteArray file =
        toQByteArray(fwimage::pack(fwimage::sampleBytes(dspSize, 1), fwimage::sampleBytes(armSize, 2), 5001));
    const QString path = dir + QStringLiteral("/bench.fw");
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly) || out.write(file) != file.size())
        return false;
    out.close();

    bool completed = false;
    QEventLoop loop;
    services.files([&](const OpenFileRequest&) { return path; })
        .boxes([&](const BoxRequest& box) {
            completed = box.form == BoxRequest::Form::Completion;
            if (!completed)
                std::printf("  notice: %s\n", qPrintable(box.text));
            return int(QMessageBox::Ok);
        })
        .exit([&](int) { loop.quit(); });

    MainWindow window;
    // The version query goes out one second after start-up.
    QTimer::singleShot(1200, &loop, &QEventLoop::quit);
    loop.exec();

    QElapsedTimer wall;
    const Usage before = usage();
    wall.start();
    window.ui->TBFlush->click();
    window.ui->toolButton_2->click();
    QTimer::singleShot(imageKiB * 1024 / 2, &loop, &QEventLoop::quit); // 2000 B/s at worst
    loop.exec();
    const double seconds = double(wall.nsecsElapsed()) / 1e9;
    const Usage after = usage();
    const double cpu = after.user + after.system - before.user - before.system;
    const double system = after.system - before.system;
    window.armTimer->stop();
    window.dspTimer->stop();

    const double bytes = dspSize + armSize;
    const bool exact = device->dspImage().size() == std::size_t(dspSize) &&
                       device->armImage().size() == std::size_t(armSize);
    std::printf("%4d KiB  %s  wall %7.2f s  %7.0f B/s  %5.1f %% of bound  cpu %5.2f s (%4.1f %% of a core, "
                "%2.0f %% kernel)  %5.0f switches/s\n",
                imageKiB, completed && exact ? "complete  " : "INCOMPLETE", seconds, bytes / seconds,
                100.0 * bytes / seconds / kBoundBytesPerSecond, cpu, 100.0 * cpu / seconds,
                cpu > 0 ? 100.0 * system / cpu : 0, double(after.switches - before.switches) / seconds);
    std::fflush(stdout);
    return completed && exact;
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QList<int> sizes;
    for (const QString& a : app.arguments().mid(1)) {
        bool number = false;
        const int kib = a.toInt(&number);
        if (!number || kib < 1 || kib > 1024) {
            std::fprintf(stderr,
                         "Usage: bench_upgrade [KIB...]  (image sizes from 1 to 1024 KiB; default 64 256)\n");
            return 64;
        }
        sizes << kib;
    }
    if (sizes.isEmpty())
        sizes = {64, 256};
    QTemporaryDir dir;
    std::printf("upgrade throughput, virtual device answering at once (bound %.0f B/s)\n",
                kBoundBytesPerSecond);
    bool ok = true;
    for (int kib : sizes)
        ok = flash(kib, dir.path()) && ok;
    return ok ? 0 : 1;
}

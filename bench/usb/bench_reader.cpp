// The reader thread's cost and speed on the virtual bus: CPU used while the
// device is idle, while it is pulled out (before the removal notice is
// handled) and while no device is open; and the time from a device reply to
// the window receiving its event. Prints figures; asserts nothing.
#include "app/mainwindow.h"
#include "core/services.h"
#include "usb/backends/virtual/virtualbus.h"
#include "usb/linkstate.h"
#include "usb/usbevent.h"
#include "usb/usbthread.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QThread>

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace {
double processCpuMs()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000.0 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000.0;
}

// CPU of the whole process while the GUI thread sleeps: the reader's share.
void cpuWhileSleeping(const char* what, int ms)
{
    const double before = processCpuMs();
    const int readsBefore = currentReader ? currentReader->readsDone.load() : 0;
    QThread::msleep(static_cast<unsigned long>(ms));
    const double used = processCpuMs() - before;
    const int reads = (currentReader ? currentReader->readsDone.load() : 0) - readsBefore;
    std::printf("%-44s %7.2f ms CPU in %d ms (%.3f%%), %d reads\n", what, used, ms, 100.0 * used / ms, reads);
}

class Stopwatch : public QObject {
public:
    QEventLoop loop;
    std::chrono::steady_clock::time_point received;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == USBEventType) {
            received = std::chrono::steady_clock::now();
            loop.quit();
        }
        return false;
    }
};

void latency(MainWindow& window, int rounds)
{
    Stopwatch watch;
    window.installEventFilter(&watch);
    std::vector<double> micros;
    std::uint8_t query[11] = {0x80, 0x03, 0x01};
    for (int i = 0; i < rounds; ++i) {
        const auto sent = std::chrono::steady_clock::now();
        window.SendDataToUsb(query);
        watch.loop.exec();
        micros.push_back(std::chrono::duration<double, std::micro>(watch.received - sent).count());
    }
    window.removeEventFilter(&watch);
    std::sort(micros.begin(), micros.end());
    std::printf("%-44s median %.1f us, p99 %.1f us, max %.1f us (%d rounds)\n",
                "version query -> reply event in the window", micros[micros.size() / 2],
                micros[micros.size() * 99 / 100], micros.back(), rounds);
}
} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    VirtualHidBus bus;
    ScopedServices services;
    services.hid(&bus);
    auto device = std::make_shared<DeviceModel>();
    const std::string path = bus.plug(VirtualHidBus::deviceInterface(device));

    MainWindow window;
    app.processEvents();
    latency(window, 2000);
    cpuWhileSleeping("reader, device open and idle", 1000);

    bus.unplug(path); // the removal notice waits in the queue meanwhile
    cpuWhileSleeping("reader, device pulled out, notice pending", 1000);

    app.processEvents(); // the removal: reader stopped and released
    cpuWhileSleeping("no reader, device absent", 500);
    return 0;
}

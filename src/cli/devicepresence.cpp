#include "cli/devicepresence.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

namespace cli {

Presence lookForDevice(HidPlatform& platform, std::uint16_t vendorId, std::uint16_t productId,
                       const Selection& selection)
{
    Presence p;
    for (DeviceInfo& d : listDevices(platform, vendorId, productId)) {
        if (selection.matches(d))
            p.devices.push_back(std::move(d));
    }
    if (selection.any() && severalDevices(p.devices)) {
        p.ambiguous = true;
        return p;
    }
    // The first that opens for writing; else the first that did not.
    for (const DeviceInfo& d : p.devices) {
        if (d.writable) {
            p.path = d.path;
            p.writable = true;
            return p;
        }
    }
    if (!p.devices.empty()) {
        p.path = p.devices.front().path;
        p.error = p.devices.front().error;
    }
    return p;
}

Presence waitForDevice(HidPlatform& platform, std::uint16_t vendorId, std::uint16_t productId, double seconds,
                       int recheckMs, const std::function<void()>& waiting, const Selection& selection,
                       const std::function<bool()>& stop)
{
    Presence p = lookForDevice(platform, vendorId, productId, selection);
    if (p.writable || p.ambiguous || seconds <= 0)
        return p;
    if (waiting)
        waiting();
    QElapsedTimer elapsed;
    elapsed.start();
    QEventLoop loop;
    QTimer recheck;
    QObject::connect(&recheck, &QTimer::timeout, &loop, [&] {
        p = lookForDevice(platform, vendorId, productId, selection);
        if (p.writable || p.ambiguous || elapsed.elapsed() >= qint64(seconds * 1000) || (stop && stop()))
            loop.quit();
    });
    recheck.start(recheckMs);
    loop.exec();
    return p;
}

} // namespace cli

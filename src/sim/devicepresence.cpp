#include "sim/devicepresence.h"

#include "usb/discovery.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <cstdio>

namespace unattended {

namespace {

bool pathCarriesIds(const std::string& path, std::uint16_t vendorId, std::uint16_t productId)
{
    std::string vendor;
    std::string product;
    char want[2][8];
    std::snprintf(want[0], sizeof want[0], "%04X", vendorId);
    std::snprintf(want[1], sizeof want[1], "%04X", productId);
    return idsFromDevicePath(path, &vendor, &product) && vendor == want[0] && product == want[1];
}

} // namespace

Presence lookForDevice(HidPlatform& platform, std::uint16_t vendorId, std::uint16_t productId)
{
    Presence unopenable;
    for (const std::string& path : platform.enumerate()) {
        const HidHandle probe = platform.openProbe(path);
        if (probe == kInvalidHidHandle) {
            if (unopenable.path.empty() && pathCarriesIds(path, vendorId, productId))
                unopenable = {path, false, platform.lastError()};
            continue;
        }
        HidAttributes a;
        const bool ok = platform.getAttributes(probe, &a);
        platform.close(probe);
        if (!ok || a.vendorId != vendorId || a.productId != productId)
            continue;
        const HidHandle w = platform.openWrite(path);
        if (w != kInvalidHidHandle) {
            platform.close(w);
            return {path, true, {}};
        }
        if (unopenable.path.empty())
            unopenable = {path, false, platform.lastError()};
    }
    return unopenable;
}

Presence waitForDevice(HidPlatform& platform, std::uint16_t vendorId, std::uint16_t productId, double seconds,
                       int recheckMs, void (*waiting)())
{
    Presence p = lookForDevice(platform, vendorId, productId);
    if (p.writable || seconds <= 0)
        return p;
    if (waiting)
        waiting();
    QElapsedTimer elapsed;
    elapsed.start();
    QEventLoop loop;
    QTimer recheck;
    QObject::connect(&recheck, &QTimer::timeout, &loop, [&] {
        p = lookForDevice(platform, vendorId, productId);
        if (p.writable || elapsed.elapsed() >= qint64(seconds * 1000))
            loop.quit();
    });
    recheck.start(recheckMs);
    loop.exec();
    return p;
}

} // namespace unattended

#include "usb/discovery.h"

#include <cstdio>
#include <set>

namespace {

bool idAfter(const std::string& path, const char* tag, std::string* out)
{
    const std::size_t at = path.find(tag);
    if (at == std::string::npos || path.size() < at + 8)
        return false;
    *out = path.substr(at + 4, 4);
    return true;
}

bool pathCarriesIds(const std::string& path, int vendorId, int productId)
{
    std::string vendor;
    std::string product;
    char want[2][8];
    std::snprintf(want[0], sizeof want[0], "%04X", unsigned(vendorId));
    std::snprintf(want[1], sizeof want[1], "%04X", unsigned(productId));
    return idsFromDevicePath(path, &vendor, &product) && vendor == want[0] && product == want[1];
}

} // namespace

bool idsFromDevicePath(const std::string& path, std::string* vendorText, std::string* productText)
{
    return idAfter(path, "VID", vendorText) && idAfter(path, "PID", productText);
}

namespace discovery {

void walk(HidPlatform& platform, int vendorId, int productId, const Look& look,
          const std::function<bool(const DeviceInfo&)>& found)
{
    if (vendorId < 0 || vendorId > 0xFFFF || productId < 0 || productId > 0xFFFF)
        return;
    for (const std::string& path : platform.enumerate()) {
        DeviceInfo info;
        info.path = path;
        const HidHandle probe = platform.openProbe(path);
        if (probe == kInvalidHidHandle) {
            // Known by the ids in its path only; who it is stays unknown.
            if (!look.unopened || !pathCarriesIds(path, vendorId, productId))
                continue;
            info.error = platform.lastError();
        } else {
            HidAttributes a;
            const bool ids =
                platform.getAttributes(probe, &a) && a.vendorId == vendorId && a.productId == productId;
            if (ids && look.serial)
                platform.getSerialNumber(probe, &info.serial);
            if (ids && look.location)
                platform.getLocation(probe, &info.location);
            platform.close(probe);
            if (!ids)
                continue;
            if (look.writable) {
                const HidHandle w = platform.openWrite(path);
                info.writable = w != kInvalidHidHandle;
                if (info.writable)
                    platform.close(w);
                else
                    info.error = platform.lastError();
            }
        }
        if (!found(info))
            return;
    }
}

std::vector<DeviceInfo> listDevices(HidPlatform& platform, int vendorId, int productId)
{
    std::vector<DeviceInfo> devices;
    walk(platform, vendorId, productId, Look{true, true, true, true}, [&devices](const DeviceInfo& d) {
        devices.push_back(d);
        return true;
    });
    return devices;
}

bool firstDevice(HidPlatform& platform, int vendorId, int productId, std::string* path)
{
    bool found = false;
    walk(platform, vendorId, productId, Look{}, [&found, path](const DeviceInfo& d) {
        found = true;
        *path = d.path;
        return false;
    });
    return found;
}

std::string shownPath(const std::string& path)
{
    const std::size_t ids = path.find("?VID_");
    return ids == std::string::npos ? path : path.substr(0, ids);
}

bool severalDevices(const std::vector<DeviceInfo>& devices)
{
    std::set<std::string> seen;
    for (const DeviceInfo& d : devices)
        seen.insert(d.serial.empty() ? "path:" + d.path : "serial:" + d.serial);
    return seen.size() > 1;
}

} // namespace discovery

// Every attached device of the model, with who it is (serial number, place
// on the bus) and its firmware number, for a station that drives several
// devices at once: the cli's --list, the choice of one device by path or
// serial, and the devices --all and --watch flash.
#pragma once

#include "usb/hidplatform.h"

#include <cstdint>
#include <string>
#include <vector>

namespace unattended {

struct DeviceInfo {
    std::string path;
    std::string serial;    // empty: the device reports none
    std::string location;  // the backend's place on the bus; may be empty
    bool writable = false; // it opened for writing
    std::string error;     // the backend's words when it did not open
    int firmware = -1;     // from the version reply; -1: not asked or no reply
};

// The interfaces whose attributes carry the ids, in enumeration order, and
// those nobody may open whose path carries the ids. Every handle opened to
// look is closed again.
std::vector<DeviceInfo> listDevices(HidPlatform& platform, std::uint16_t vendorId, std::uint16_t productId);

// Asks every writable device for its firmware number with the version
// query, all at once, and waits at most `timeoutMs` for the replies; a
// device that stays silent keeps firmware -1. Reports other than the version
// reply are skipped.
void queryFirmwareNumbers(HidPlatform& platform, std::vector<DeviceInfo>* devices, int timeoutMs);

// A path as people and records see it: the platform's own. The Linux
// backend's paths carry the ids after a '?' for the window's discovery
// (/dev/hidraw0?VID_0483&PID_0525); shown, that is /dev/hidraw0.
std::string shownPath(const std::string& path);

// Which device a run is told to use: a path (as listed or as shown), a
// serial number, or neither.
struct Selection {
    std::string path;
    std::string serial;
    bool any() const { return path.empty() && serial.empty(); }
    bool matches(const DeviceInfo& device) const;
};

// Whether `devices` are more than one device: interfaces that report the
// same non-empty serial number belong to one device.
bool severalDevices(const std::vector<DeviceInfo>& devices);

} // namespace unattended

// Every attached device of the model, with who it is (serial number, place
// on the bus) and its firmware number, for a station that drives several
// devices at once: the cli's --list, the choice of one device by path or
// serial, and the devices --all and --watch flash.
#pragma once

#include "usb/hidplatform.h"

#include <cstdint>
#include <string>
#include <vector>

namespace cli {

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
// query, all at once, each through a link of its own as a session opens it
// (session/link.h), and waits at most `timeoutMs` for the replies in a local
// event loop; a device that stays silent keeps firmware -1. Reports other
// than the version reply are skipped.
void queryFirmwareNumbers(HidPlatform& platform, std::vector<DeviceInfo>* devices, int timeoutMs);

// The path as the system names the device (/dev/hidraw0 on Linux, the
// interface path on Windows): the Linux backend appends the ids to its own
// key ("/dev/hidraw0?VID_0483&PID_0525") for the window's discovery, which
// is no path of the system and is never shown.
std::string shownPath(const std::string& path);

// Text from a device (serial, location, path) fit for a terminal
// (core/terminaltext.h). JSON records keep the exact value.
std::string printable(const std::string& text);

// Which device a run is told to use: a path (as shown or as the backend's
// key), a serial number (as --list --json shows it), or neither.
struct Selection {
    std::string path;
    std::string serial;
    bool any() const { return path.empty() && serial.empty(); }
    bool matches(const DeviceInfo& device) const;
};

// Whether `devices` are more than one device: interfaces that report the
// same non-empty serial number belong to one device.
bool severalDevices(const std::vector<DeviceInfo>& devices);

} // namespace cli

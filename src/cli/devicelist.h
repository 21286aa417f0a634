// The cli's side of the device list: the walk that finds the devices is
// discovery's (usb/discovery.h), shared with the window; here the firmware
// numbers asked of them all at once, the choice of one device by path or
// serial, and device text fit for a terminal.
#pragma once

#include "usb/discovery.h"

#include <cstdint>
#include <string>
#include <vector>

namespace cli {

// The device list and its paths, as the cli names them.
using discovery::DeviceInfo;
using discovery::listDevices;
using discovery::severalDevices;
using discovery::shownPath;

// Asks every writable device for its firmware number with the version
// query, all at once, each through a link of its own as a session opens it
// (session/link.h), and waits at most `timeoutMs` for the replies in a local
// event loop; a device that stays silent keeps firmware -1. Reports other
// than the version reply are skipped.
void queryFirmwareNumbers(HidPlatform& platform, std::vector<DeviceInfo>* devices, int timeoutMs);

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

} // namespace cli

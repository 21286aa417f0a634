// Device discovery, written once for every road: the walk over the HID
// platform's interfaces that picks those carrying the product's ids (the
// window's opening, the cli's device list, the cli's wait for a restarted
// device), and the plain decisions about device paths. Free of Qt: the
// Windows guest's checks compile it with the backend alone.
#pragma once

#include "usb/hidplatform.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// The vendor and product id texts of a device path: the 4 characters that
// start 4 characters after the first "VID" and after the first "PID"
// (case-sensitive), as in ...VID_0483&PID_0525... False when either is
// missing or the path ends before its 4 characters.
bool idsFromDevicePath(const std::string& path, std::string* vendorText, std::string* productText);

namespace discovery {

// One interface of the model as a walk saw it.
struct DeviceInfo {
    std::string path;
    std::string serial;    // empty: the device reports none, or it was not asked
    std::string location;  // the backend's place on the bus; may be empty
    bool writable = false; // it opened for writing
    std::string error;     // the backend's words when it did not open
    int firmware = -1;     // from the version reply; -1: not asked or no reply
};

// What a walk learns of an interface beyond its ids. Each costs opens or
// reads on the device, so a caller asks only what it uses.
struct Look {
    bool serial = false;   // the serial number, read through the probe handle
    bool location = false; // its place on the bus, read through the probe handle
    bool writable = false; // opened for writing once and closed again (`writable`, or `error`)
    bool unopened = false; // also those the probe cannot open whose path carries the ids (`error`)
};

// Walks the platform's interfaces in enumeration order and hands `found`
// each whose attributes carry the ids, described as `look` asks. Every
// handle opened to look is closed before `found` sees the interface; the walk
// ends when `found` returns false. Ids outside 0..0xFFFF match nothing.
void walk(HidPlatform& platform, int vendorId, int productId, const Look& look,
          const std::function<bool(const DeviceInfo&)>& found);

// Every interface with the ids and everything a walk can learn of it: serial
// number, location, whether it opens for writing, and those nobody may open
// whose path carries the ids. Who such an unopened one is stays unknown.
std::vector<DeviceInfo> listDevices(HidPlatform& platform, int vendorId, int productId);

// Finds the first interface whose attributes carry the ids with the probe
// alone (no write opening, nothing read but the attributes) and stores its
// path; false when there is none.
bool firstDevice(HidPlatform& platform, int vendorId, int productId, std::string* path);

// The path as the system names the device (/dev/hidraw0 on Linux, the
// interface path on Windows): the Linux backend appends the ids to its own
// key ("/dev/hidraw0?VID_0483&PID_0525") so that a notice's path carries
// them, which is no path of the system and is never shown.
std::string shownPath(const std::string& path);

// Whether `devices` are more than one device: interfaces that report the
// same non-empty serial number belong to one device.
bool severalDevices(const std::vector<DeviceInfo>& devices);

} // namespace discovery

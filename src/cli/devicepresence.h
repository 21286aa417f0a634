// Whether the updater's device is there and can be opened, asked of the HID
// backend before the window is built: lets an unattended run wait a bounded
// time for the device, and tell a device it may not open (a permission
// problem) from a missing one.
#pragma once

#include "cli/devicelist.h"
#include "usb/hidplatform.h"

#include <cstdint>
#include <functional>
#include <string>

namespace cli {

struct Presence {
    std::string path;      // empty: no interface with the ids
    bool writable = false; // it opened for writing
    std::string error;     // the backend's words when it did not open
    // Several devices match and none was chosen: path stays empty and
    // `devices` lists them.
    bool ambiguous = false;
    std::vector<DeviceInfo> devices; // every device with the ids the selection admits
};

// The first interface whose attributes carry the ids and that opens for
// writing; else the first one with the ids that did not open (a node that
// cannot be opened at all is recognised by the ids in its path); else none.
// With a selection, only the devices it admits count; without one, more than
// one device (severalDevices) is ambiguous.
Presence lookForDevice(HidPlatform& platform, std::uint16_t vendorId, std::uint16_t productId,
                       const Selection& selection = {});

// lookForDevice until the device is there and writable or `seconds` have
// passed, checking again every `recheckMs` in a local event loop (so notices
// and timers keep running). With udev, a new node's permissions are set a
// moment after it appears, which is why an unopenable device is waited for
// as well. An ambiguous look ends the wait at once, and so does `stop`
// returning true (checked at each look). Calls `waiting` once when it
// starts to wait.
Presence waitForDevice(HidPlatform& platform, std::uint16_t vendorId, std::uint16_t productId, double seconds,
                       int recheckMs = 250, const std::function<void()>& waiting = {},
                       const Selection& selection = {}, const std::function<bool()>& stop = {});

} // namespace cli

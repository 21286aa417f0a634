// Whether the updater's device is there and can be opened, asked of the HID
// backend before the window is built: lets an unattended run wait a bounded
// time for the device, and tell a device it may not open (a permission
// problem) from a missing one.
#pragma once

#include "usb/hidplatform.h"

#include <cstdint>
#include <string>

namespace unattended {

struct Presence {
    std::string path;      // empty: no interface with the ids
    bool writable = false; // it opened for writing
    std::string error;     // the backend's words when it did not open
};

// The first interface whose attributes carry the ids and that opens for
// writing; else the first one with the ids that did not open (a node that
// cannot be opened at all is recognised by the ids in its path); else none.
Presence lookForDevice(HidPlatform& platform, std::uint16_t vendorId, std::uint16_t productId);

// lookForDevice until the device is there and writable or `seconds` have
// passed, checking again every `recheckMs` in a local event loop (so notices
// and timers keep running). With udev, a new node's permissions are set a
// moment after it appears, which is why an unopenable device is waited for
// as well. Calls `waiting` once when it starts to wait.
Presence waitForDevice(HidPlatform& platform, std::uint16_t vendorId, std::uint16_t productId, double seconds,
                       int recheckMs = 250, void (*waiting)() = nullptr);

} // namespace unattended

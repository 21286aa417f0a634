// The platform seam of the HID link: the few operations the updater needs
// from the operating system's HID stack. One backend per platform (Linux:
// libudev + hidraw; Windows: SetupAPI + hid.dll) and an in-process virtual
// bus for tests and the simulator implement it. The header is free of Qt so
// that every backend, the Windows one included, compiles on its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

using HidHandle = std::intptr_t;
constexpr HidHandle kInvalidHidHandle = -1; // the INVALID_HANDLE_VALUE of the link

struct HidAttributes {
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
};

// The capabilities the link uses (the HIDP_CAPS record of Windows).
struct HidCaps {
    std::uint16_t inputReportByteLength = 0;
    std::uint16_t outputReportByteLength = 0;
    std::uint16_t featureReportByteLength = 0;
};

enum class HidNoticeKind { Arrival, Removal };

class HidPlatform {
public:
    virtual ~HidPlatform() = default;

    // Paths of the HID interfaces present now, in enumeration order. Paths
    // carry the ids four characters after "VID" and "PID" (VID_0483&PID_0525).
    virtual std::vector<std::string> enumerate() = 0;

    // Opens a path without read or write access, only to read its attributes.
    virtual HidHandle openProbe(const std::string& path) = 0;
    virtual bool getAttributes(HidHandle handle, HidAttributes* out) = 0;

    // Opens a path for reading input reports / for writing feature reports.
    virtual HidHandle openRead(const std::string& path) = 0;
    virtual HidHandle openWrite(const std::string& path) = 0;

    virtual bool getCaps(HidHandle handle, HidCaps* out) = 0;

    // Who an open interface is, for telling several devices of one model
    // apart: the serial number the device reports (USB iSerialNumber, the
    // HID "uniq"; empty when it reports none) and its place on the bus (the
    // HID "phys", such as usb-0000:00:14.0-1/input0). Any open handle will
    // do, a probe handle too. False when the backend cannot tell.
    virtual bool getSerialNumber(HidHandle handle, std::string* out)
    {
        (void)handle;
        (void)out;
        return false;
    }
    virtual bool getLocation(HidHandle handle, std::string* out)
    {
        (void)handle;
        (void)out;
        return false;
    }

    // Writes one feature report of exactly `length` bytes, report id first.
    virtual bool setFeature(HidHandle handle, const std::uint8_t* data, std::size_t length) = 0;

    // Reads one input report, blocking until one arrives. Returns the number
    // of bytes stored (report id first), or -1 when the read failed. Closing
    // the handle from another thread ends a blocked read at once with -1.
    virtual int readInput(HidHandle handle, std::uint8_t* buffer, std::size_t capacity) = 0;

    virtual void close(HidHandle handle) = 0;

    // Device-interface notices. `nativeWindow` is the window's native handle
    // (HWND on Windows; unused elsewhere). Notices are delivered on the
    // thread that registered, through `sink`. Returns false on failure.
    using NoticeSink = std::function<void(HidNoticeKind, const std::string& path)>;
    virtual bool registerNotices(void* nativeWindow, NoticeSink sink) = 0;

    // Translates a native window message into a notice (Windows: a
    // WM_DEVICECHANGE message); false for every other message.
    virtual bool translateNativeMessage(void* message, HidNoticeKind* kind, std::string* path)
    {
        (void)message;
        (void)kind;
        (void)path;
        return false;
    }

    // A text naming the call that failed last, for diagnostics.
    virtual std::string lastError() const { return {}; }
};

// The backend in use, as installed with ScopedServices::hid
// (core/services.h). The executables install one at start-up; tests install
// the virtual bus. Not owned.
HidPlatform* hidPlatform();

// The platform's own backend (defined by the backend file CMake chooses).
HidPlatform* nativeHidPlatform();

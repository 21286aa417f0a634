// Device notices on Linux: the kernel uevent datagram, the uevent text of a
// HID device (HID_ID), the HID device name in a sysfs path, the notice path
// built from them, and the discovery code's reading of VID/PID from it.
//
// Input: one uevent datagram, which also serves as the text of the other
// parsers.
#include "fuzzcheck.h"
#include "usb/backends/linux/hid_linux_parse.h"
#include "usb/discovery.h"

#include <cstdint>
#include <cstdio>
#include <string>

namespace {

std::string hex4(std::uint16_t v)
{
    char text[8];
    std::snprintf(text, sizeof text, "%04X", v);
    return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const char* chars = reinterpret_cast<const char*>(data);
    const std::string text(chars, size);

    hidlinux::Uevent event;
    const bool isUevent = hidlinux::parseKernelUevent(chars, size, &event);
    if (isUevent)
        FUZZ_CHECK(!event.action.empty() && text.find('@') != std::string::npos);

    HidAttributes fromText;
    if (hidlinux::parseHidId(text, &fromText))
        FUZZ_CHECK(text.find("HID_ID=") != std::string::npos);

    // The backend's notice: the device node and the ids from the HID device
    // name in DEVPATH, in the path form the window reads the ids back from.
    HidAttributes ids;
    const std::string devpath = isUevent ? event.devpath : text;
    if (hidlinux::idsFromHidDevpath(devpath, &ids)) {
        const std::string devnode = "/dev/" + (isUevent ? event.devname : std::string("hidraw0"));
        const std::string path = hidlinux::noticePath(devnode, ids);
        // Kernel device names carry no "?", "VID" or "PID"; for those the
        // path gives back the node and exactly these ids.
        if (devnode.find_first_of("?") == std::string::npos && devnode.find("VID") == std::string::npos &&
            devnode.find("PID") == std::string::npos) {
            FUZZ_CHECK(hidlinux::deviceNode(path) == devnode);
            std::string vendor, product;
            FUZZ_CHECK(idsFromDevicePath(path, &vendor, &product));
            FUZZ_CHECK(vendor == hex4(ids.vendorId) && product == hex4(ids.productId));
        }
    }

    // The window's reading of any notice path.
    std::string vendor, product;
    if (idsFromDevicePath(text, &vendor, &product)) {
        const std::size_t v = text.find("VID");
        const std::size_t p = text.find("PID");
        FUZZ_CHECK(vendor == text.substr(v + 4, 4) && product == text.substr(p + 4, 4));
    } else {
        const std::size_t v = text.find("VID");
        const std::size_t p = text.find("PID");
        FUZZ_CHECK(v == std::string::npos || p == std::string::npos || text.size() < v + 8 ||
                   text.size() < p + 8);
    }
    return 0;
}

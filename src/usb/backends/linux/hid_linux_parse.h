// Plain parsing for the Linux HID backend: HID report descriptors, uevent
// texts and sysfs, and the device path form handed to the discovery code.
// No system calls except file reads, so all of it is tested with fakes.
#pragma once

#include "usb/hidplatform.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

namespace hidlinux {

// Bit totals of one report, per main item kind.
struct ReportBits {
    std::size_t input = 0;
    std::size_t output = 0;
    std::size_t feature = 0;
};

struct DescriptorInfo {
    bool complete = false;             // every item lay inside the descriptor
    bool usesReportIds = false;        // a Report ID item was seen
    std::map<int, ReportBits> reports; // by report id (0 when none is used)
};

// Walks the short and long items of a report descriptor and sums, per
// report id, Report Size x Report Count of every Input, Output and Feature
// item. Push/Pop of the global state is honoured. Never reads past `length`;
// a truncated item ends the walk with complete = false.
DescriptorInfo parseReportDescriptor(const std::uint8_t* data, std::size_t length);

// Report lengths as Windows counts them: the data bytes plus the report id
// byte. For `reportId` when the descriptor has that report, else the
// longest report of the kind (0 when there is none).
std::size_t featureLength(const DescriptorInfo& info, int reportId);
std::size_t inputLength(const DescriptorInfo& info, int reportId);
std::size_t outputLength(const DescriptorInfo& info, int reportId);

// Vendor and product id from a uevent text's HID_ID=0003:00000483:00000525 line.
bool parseHidId(const std::string& ueventText, HidAttributes* out);
// The same, read from <hidrawSysPath>/device/uevent.
bool hidIdsFromSysfs(const std::string& hidrawSysPath, HidAttributes* out);
// The same, from the name of the HID device in a sysfs path:
// /devices/.../0003:0483:0525.0004/hidraw/hidraw3.
bool idsFromHidDevpath(const std::string& devpath, HidAttributes* out);

// One kernel uevent datagram: "action@devpath\0KEY=VALUE\0...".
struct Uevent {
    std::string action;
    std::string devpath;
    std::string subsystem;
    std::string devname;
};
bool parseKernelUevent(const char* data, std::size_t length, Uevent* out);

// "/dev/hidraw3?VID_0483&PID_0525": the device node with the ids where the
// notice parser looks for them; deviceNode() strips them again.
std::string noticePath(const std::string& devnode, const HidAttributes& ids);
std::string deviceNode(const std::string& path);

} // namespace hidlinux

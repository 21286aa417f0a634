#include "usb/backends/linux/hid_linux_parse.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

namespace hidlinux {

namespace {
// Item types and tags of the short items the walk cares about.
constexpr int kMain = 0;
constexpr int kGlobal = 1;
constexpr int kTagInput = 0x8;
constexpr int kTagOutput = 0x9;
constexpr int kTagFeature = 0xB;
constexpr int kTagReportSize = 0x7;
constexpr int kTagReportId = 0x8;
constexpr int kTagReportCount = 0x9;
constexpr int kTagPush = 0xA;
constexpr int kTagPop = 0xB;
constexpr std::uint8_t kLongItem = 0xFE;

struct Globals {
    std::uint32_t reportSize = 0;
    std::uint32_t reportCount = 0;
    int reportId = 0;
};

std::uint32_t unsignedData(const std::uint8_t* p, std::size_t size)
{
    std::uint32_t v = 0;
    for (std::size_t i = 0; i < size; ++i)
        v |= std::uint32_t(p[i]) << (8 * i);
    return v;
}

std::size_t bytesOf(const DescriptorInfo& info, int reportId, std::size_t ReportBits::*kind)
{
    auto bytes = [](std::size_t bits) { return bits == 0 ? 0 : (bits + 7) / 8 + 1; };
    auto it = info.reports.find(reportId);
    if (it != info.reports.end())
        return bytes(it->second.*kind);
    std::size_t longest = 0;
    for (const auto& [id, bits] : info.reports)
        longest = std::max(longest, bytes(bits.*kind));
    return longest;
}

bool hex(const std::string& text, std::uint32_t* out)
{
    if (text.empty() || text.size() > 8 ||
        !std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isxdigit(c) != 0; }))
        return false;
    *out = static_cast<std::uint32_t>(std::stoul(text, nullptr, 16));
    return true;
}
} // namespace

DescriptorInfo parseReportDescriptor(const std::uint8_t* data, std::size_t length)
{
    DescriptorInfo info;
    Globals globals;
    std::vector<Globals> stack;
    std::size_t i = 0;
    while (i < length) {
        const std::uint8_t prefix = data[i];
        if (prefix == kLongItem) {
            // Long item: prefix, data size, tag, then the data. None is used.
            if (i + 2 >= length || i + 3 + data[i + 1] > length)
                return info;
            i += 3 + data[i + 1];
            continue;
        }
        static const std::size_t kSizes[4] = {0, 1, 2, 4};
        const std::size_t size = kSizes[prefix & 0x3];
        const int type = (prefix >> 2) & 0x3;
        const int tag = prefix >> 4;
        if (i + 1 + size > length)
            return info;
        const std::uint32_t value = unsignedData(data + i + 1, size);
        i += 1 + size;

        if (type == kGlobal) {
            switch (tag) {
            case kTagReportSize:
                globals.reportSize = value;
                break;
            case kTagReportCount:
                globals.reportCount = value;
                break;
            case kTagReportId:
                globals.reportId = int(value & 0xFF);
                info.usesReportIds = true;
                break;
            case kTagPush:
                stack.push_back(globals);
                break;
            case kTagPop:
                if (!stack.empty()) {
                    globals = stack.back();
                    stack.pop_back();
                }
                break;
            default:
                break;
            }
        } else if (type == kMain && (tag == kTagInput || tag == kTagOutput || tag == kTagFeature)) {
            const std::size_t bits = std::size_t(globals.reportSize) * globals.reportCount;
            ReportBits& r = info.reports[globals.reportId];
            if (tag == kTagInput)
                r.input += bits;
            else if (tag == kTagOutput)
                r.output += bits;
            else
                r.feature += bits;
        }
    }
    info.complete = true;
    return info;
}

std::size_t featureLength(const DescriptorInfo& info, int reportId)
{
    return bytesOf(info, reportId, &ReportBits::feature);
}

std::size_t inputLength(const DescriptorInfo& info, int reportId)
{
    return bytesOf(info, reportId, &ReportBits::input);
}

std::size_t outputLength(const DescriptorInfo& info, int reportId)
{
    return bytesOf(info, reportId, &ReportBits::output);
}

bool parseHidId(const std::string& ueventText, HidAttributes* out)
{
    std::istringstream lines(ueventText);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind("HID_ID=", 0) != 0)
            continue;
        // bus:vendor:product, each in hexadecimal
        const std::string value = line.substr(7);
        const std::size_t a = value.find(':');
        const std::size_t b = a == std::string::npos ? a : value.find(':', a + 1);
        std::uint32_t bus, vendor, product;
        if (b == std::string::npos || !hex(value.substr(0, a), &bus) ||
            !hex(value.substr(a + 1, b - a - 1), &vendor) || !hex(value.substr(b + 1), &product) ||
            vendor > 0xFFFF || product > 0xFFFF)
            return false;
        out->vendorId = std::uint16_t(vendor);
        out->productId = std::uint16_t(product);
        return true;
    }
    return false;
}

bool hidIdsFromSysfs(const std::string& hidrawSysPath, HidAttributes* out)
{
    std::ifstream file(hidrawSysPath + "/device/uevent");
    if (!file)
        return false;
    std::ostringstream text;
    text << file.rdbuf();
    return parseHidId(text.str(), out);
}

bool idsFromHidDevpath(const std::string& devpath, HidAttributes* out)
{
    // The HID device's name is bus:vendor:product.instance, "0003:0483:0525.0004".
    std::istringstream parts(devpath);
    std::string part;
    while (std::getline(parts, part, '/')) {
        if (part.size() != 19 || part[4] != ':' || part[9] != ':' || part[14] != '.')
            continue;
        std::uint32_t bus, vendor, product, instance;
        if (hex(part.substr(0, 4), &bus) && hex(part.substr(5, 4), &vendor) &&
            hex(part.substr(10, 4), &product) && hex(part.substr(15, 4), &instance)) {
            out->vendorId = std::uint16_t(vendor);
            out->productId = std::uint16_t(product);
            return true;
        }
    }
    return false;
}

bool parseKernelUevent(const char* data, std::size_t length, Uevent* out)
{
    *out = Uevent{};
    std::size_t i = 0;
    bool first = true;
    while (i < length) {
        const char* end = static_cast<const char*>(std::memchr(data + i, '\0', length - i));
        const std::size_t n = end ? std::size_t(end - (data + i)) : length - i;
        const std::string field(data + i, n);
        i += n + 1;
        if (first) {
            first = false;
            const std::size_t at = field.find('@');
            if (at == std::string::npos)
                return false; // not a kernel uevent (a udev daemon message, say)
            continue;
        }
        const std::size_t eq = field.find('=');
        if (eq == std::string::npos)
            continue;
        const std::string key = field.substr(0, eq);
        const std::string value = field.substr(eq + 1);
        if (key == "ACTION")
            out->action = value;
        else if (key == "DEVPATH")
            out->devpath = value;
        else if (key == "SUBSYSTEM")
            out->subsystem = value;
        else if (key == "DEVNAME")
            out->devname = value;
    }
    return !first && !out->action.empty();
}

std::string noticePath(const std::string& devnode, const HidAttributes& ids)
{
    char tail[32];
    std::snprintf(tail, sizeof tail, "?VID_%04X&PID_%04X", ids.vendorId, ids.productId);
    return devnode + tail;
}

std::string deviceNode(const std::string& path)
{
    return path.substr(0, path.find('?'));
}

} // namespace hidlinux

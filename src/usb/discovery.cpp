#include "usb/discovery.h"

namespace {

bool idAfter(const std::string& path, const char* tag, std::string* out)
{
    const std::size_t at = path.find(tag);
    if (at == std::string::npos || path.size() < at + 8)
        return false;
    *out = path.substr(at + 4, 4);
    return true;
}
} // namespace

bool idsFromDevicePath(const std::string& path, std::string* vendorText, std::string* productText)
{
    return idAfter(path, "VID", vendorText) && idAfter(path, "PID", productText);
}

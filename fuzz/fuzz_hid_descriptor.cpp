// The HID report-descriptor walk of the Linux backend, which turns the
// device's descriptor into the report lengths the link writes and reads.
// The descriptor is handed over in the fuzzer's own buffer, so a read past
// its end is caught.
#include "fuzzcheck.h"
#include "usb/backends/linux/hid_linux_parse.h"

#include <algorithm>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const hidlinux::DescriptorInfo info = hidlinux::parseReportDescriptor(data, size);
    if (!info.usesReportIds)
        FUZZ_CHECK(info.reports.size() <= 1 && (info.reports.empty() || info.reports.count(0) == 1));

    auto bytes = [](std::size_t bits) -> std::size_t { return bits == 0 ? 0 : (bits + 7) / 8 + 1; };
    const int ids[] = {0, 0x80, size > 0 ? data[0] : 1};
    for (int id : ids) {
        std::size_t longest[3] = {0, 0, 0};
        for (const auto& entry : info.reports) {
            longest[0] = std::max(longest[0], bytes(entry.second.feature));
            longest[1] = std::max(longest[1], bytes(entry.second.input));
            longest[2] = std::max(longest[2], bytes(entry.second.output));
        }
        const auto it = info.reports.find(id);
        const bool has = it != info.reports.end();
        FUZZ_CHECK(hidlinux::featureLength(info, id) == (has ? bytes(it->second.feature) : longest[0]));
        FUZZ_CHECK(hidlinux::inputLength(info, id) == (has ? bytes(it->second.input) : longest[1]));
        FUZZ_CHECK(hidlinux::outputLength(info, id) == (has ? bytes(it->second.output) : longest[2]));
    }
    // A descriptor cut short is reported incomplete, never read past.
    if (size > 0 && info.complete) {
        const hidlinux::DescriptorInfo shorter = hidlinux::parseReportDescriptor(data, size - 1);
        (void)shorter;
    }
    return 0;
}

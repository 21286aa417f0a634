#include "usb/backends/virtual/uhid/uhidoptions.h"

#include "usb/backends/virtual/faulttable.h"

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <map>

namespace {

bool toInt(const std::string& text, long min, long max, long* out)
{
    if (text.empty())
        return false;
    char* end = nullptr;
    const long v = std::strtol(text.c_str(), &end, 0);
    if (*end != '\0' || v < min || v > max)
        return false;
    *out = v;
    return true;
}

// Options that take a number: name -> (range, what to set).
struct NumberOption {
    long min;
    long max;
    std::function<void(UhidOptions&, long)> set;
};

const std::map<std::string, NumberOption>& numberOptions()
{
    using O = UhidOptions;
    static const std::map<std::string, NumberOption> table = {
        {"--firmware", {0, 0xFFFF, [](O& o, long v) { o.firmware = static_cast<std::uint16_t>(v); }}},
        {"--dsp-length",
         {0, 1L << 30, [](O& o, long v) { o.expectedDspLength = static_cast<std::size_t>(v); }}},
        {"--replug-after-ms", {0, 600000, [](O& o, long v) { o.replugAfterMs = static_cast<int>(v); }}},
        {"--input-bytes", {1, 63, [](O& o, long v) { o.inputBytes = static_cast<int>(v); }}},
        {"--feature-bytes", {1, 63, [](O& o, long v) { o.featureBytes = static_cast<int>(v); }}},
        {"--next-firmware",
         {0, 0xFFFF, [](O& o, long v) { o.nextFirmware = static_cast<std::uint16_t>(v); }}},
    };
    return table;
}

const std::map<std::string, std::function<void(UhidOptions&)>>& flagOptions()
{
    using O = UhidOptions;
    static const std::map<std::string, std::function<void(UhidOptions&)>> table = {
        {"--verbose", [](O& o) { o.verbose = true; }},
    };
    return table;
}

} // namespace

bool parseDeviceIds(const std::string& text, UhidDeviceIds* out)
{
    const auto colon = text.find(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 >= text.size())
        return false;
    long vid = 0;
    long pid = 0;
    if (!toInt("0x" + text.substr(0, colon), 0, 0xFFFF, &vid) ||
        !toInt("0x" + text.substr(colon + 1), 0, 0xFFFF, &pid))
        return false;
    out->vendorId = static_cast<std::uint16_t>(vid);
    out->productId = static_cast<std::uint16_t>(pid);
    return true;
}

UhidParseResult parseUhidOptions(const std::vector<std::string>& args, UhidOptions* out)
{
    UhidParseResult r;
    UhidOptions o;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "-h" || a == "--help") {
            r.help = true;
            return r;
        }
        if (auto f = flagOptions().find(a); f != flagOptions().end()) {
            f->second(o);
            continue;
        }
        // The device faults, from the table the simulator reads too.
        const FaultOption* fault =
            a.size() > 2 && a.compare(0, 2, "--") == 0 ? findFaultOption(a.substr(2)) : nullptr;
        if (fault && !fault->value) {
            std::string error;
            applyFault(*fault, {}, &o.faults, &error);
            continue;
        }
        if (fault && i + 1 < args.size()) {
            if (!applyFault(*fault, args[++i], &o.faults, &r.error)) {
                r.error = "--" + r.error;
                return r;
            }
            continue;
        }
        if (i + 1 >= args.size()) {
            r.error = a + ": unknown option or missing value";
            return r;
        }
        const std::string& value = args[++i];
        if (a == "--ids" || a == "--other") {
            UhidDeviceIds ids;
            if (!parseDeviceIds(value, &ids)) {
                r.error = a + ": expected VID:PID in hexadecimal, got \"" + value + "\"";
                return r;
            }
            if (a == "--ids")
                o.ids = ids;
            else
                o.others.push_back(ids);
        } else if (a == "--dump-dir") {
            o.dumpDir = value;
        } else if (a == "--serial") {
            // The kernel keeps 64 bytes of it, terminator included.
            if (value.size() > 63 || value.find_first_of("\n\r") != std::string::npos) {
                r.error = a + ": at most 63 characters on one line";
                return r;
            }
            o.serial = value;
        } else if (auto n = numberOptions().find(a); n != numberOptions().end()) {
            long v = 0;
            if (!toInt(value, n->second.min, n->second.max, &v)) {
                r.error = a + ": bad number \"" + value + "\"";
                return r;
            }
            n->second.set(o, v);
        } else {
            r.error = a + ": unknown option";
            return r;
        }
    }
    // The kernel drops input reports shorter than the descriptor declares,
    // so a device that sends short reports declares them that short.
    const bool inputBytesGiven = std::find(args.begin(), args.end(), "--input-bytes") != args.end();
    if (!inputBytesGiven && o.faults.inputReportLength < DeviceModel::kReportLength)
        o.inputBytes = std::max(1, static_cast<int>(o.faults.inputReportLength) - 1);
    if (o.inputBytes + 1 > static_cast<int>(DeviceModel::kReportLength)) {
        r.error = "--input-bytes: an input report holds at most 19 bytes after the id";
        return r;
    }
    *out = o;
    r.ok = true;
    return r;
}

std::string uhidUsage()
{
    return "Usage: virtual-hid-uhid [options]\n"
           "Presents the virtual updater device to the kernel through /dev/uhid, so that it\n"
           "appears as /dev/hidrawN and answers the update protocol.\n"
           "\n"
           "Device:\n"
           "  --ids VID:PID             ids of the device (default 0483:0525)\n"
           "  --firmware N              firmware number in the version reply (default 5000)\n"
           "  --next-firmware N         firmware number after a restart (--reboot-ms; default: unchanged)\n"
           "  --serial TEXT             serial number the device reports (default: none)\n"
           "  --dsp-length BYTES        DSP image length the device expects (default: unknown)\n"
           "  --input-bytes N           declared input report bytes after the id (default 19)\n"
           "  --feature-bytes N         declared feature report bytes after the id (default 10)\n"
           "  --other VID:PID           a further HID device, created first, that never answers\n"
           "                            (repeatable)\n"
           "  --dump-dir DIR            write the received images to DIR/dsp.bin and DIR/arm.bin\n"
           "                            after each end frame, at an unplug and at exit\n"
           "  --replug-after-ms MS      come back MS milliseconds after an unplug (once)\n"
           "  --verbose                 print one line per frame\n"
           "\n"
           "Faults:\n" +
           faultUsage() +
           "  With --input-report-length the descriptor declares the reports that short too,\n"
           "  unless --input-bytes is given.\n"
           "\n"
           "Commands on standard input, one per line: unplug, plug, dump (the images), quit.\n"
           "Lines on standard output: \"created VID:PID\", \"destroyed VID:PID\", \"images dumped\".\n"
           "SIGTERM or SIGINT: dump the images, remove the devices and exit 0.\n";
}

std::vector<std::uint8_t> vendorReportDescriptor(std::uint8_t reportId, int inputBytes, int featureBytes)
{
    const auto input = static_cast<std::uint8_t>(inputBytes);
    const auto feature = static_cast<std::uint8_t>(featureBytes);
    // clang-format off
    return {
        0x06, 0x00, 0xFF, // Usage Page (vendor defined 0xFF00)
        0x09, 0x01,       // Usage (1)
        0xA1, 0x01,       // Collection (Application)
        0x85, reportId,   //   Report ID
        0x15, 0x00,       //   Logical Minimum (0)
        0x26, 0xFF, 0x00, //   Logical Maximum (255)
        0x75, 0x08,       //   Report Size (8 bits)
        0x95, input,      //   Report Count
        0x09, 0x01,       //   Usage (1)
        0x81, 0x02,       //   Input (Data, Variable, Absolute)
        0x95, feature,    //   Report Count
        0x09, 0x01,       //   Usage (1)
        0xB1, 0x02,       //   Feature (Data, Variable, Absolute)
        0xC0,             // End Collection
    };
    // clang-format on
}

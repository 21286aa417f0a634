#include "usb/backends/virtual/faulttable.h"

#include <algorithm>
#include <cstdlib>

namespace {

using F = DeviceModel::Faults;
constexpr long kCount = 1L << 30; // the largest frame or write count
constexpr long kMs = 600000;      // the longest delay, ten minutes

} // namespace

const std::vector<FaultOption>& deviceFaultOptions()
{
    static const std::vector<FaultOption> table = {
        {"unplug-after-frames", "N", 0, kCount, "leave the bus after the Nth frame",
         [](F& f, long v) { f.unplugAfterFrames = int(v); }},
        {"reply-delay-ms", "MS", 0, kMs, "send every reply MS milliseconds late",
         [](F& f, long v) { f.replyDelayMs = int(v); }},
        {"drop-start-ack", nullptr, 0, 1, "never answer the start frame",
         [](F& f, long v) { f.dropStartAck = v != 0; }},
        {"drop-dsp-ack", "N", 0, kCount,
         "never send the Nth window acknowledgement of the DSP stage (1: the handshake's)",
         [](F& f, long v) { f.dropDspAck = int(v); }},
        {"drop-arm-ack", "N", 0, kCount, "the same for the ARM stage",
         [](F& f, long v) { f.dropArmAck = int(v); }},
        {"drop-dsp-end-ack", nullptr, 0, 1, "never answer the DSP end frame",
         [](F& f, long v) { f.dropDspEndAck = v != 0; }},
        {"drop-completion", nullptr, 0, 1, "never answer the ARM end frame",
         [](F& f, long v) { f.dropCompletion = v != 0; }},
        {"refuse-write", "N", 0, kCount, "refuse the Nth feature write",
         [](F& f, long v) { f.refuseWrite = int(v); }},
        {"corrupt-write", "N", 0, kCount,
         "take and acknowledge the Nth feature write, but store its data inverted",
         [](F& f, long v) { f.corruptWrite = int(v); }},
        {"refuse-all-writes", nullptr, 0, 1, "refuse every feature write",
         [](F& f, long v) { f.refuseAllWrites = v != 0; }},
        {"foreign-report-id", "ID", 0, 255, "send a report with this id before each reply",
         [](F& f, long v) { f.foreignReportId = std::uint8_t(v); }},
        {"unknown-code", "CODE", 0, 255, "send a report with this unknown code before each reply",
         [](F& f, long v) { f.unknownCode = std::uint8_t(v); }},
        {"burst-before", "N", 0, 1000, "send N extra reports back to back before each reply",
         [](F& f, long v) { f.burstBefore = int(v); }},
        {"input-report-length", "N", 1, 20, "length of each report sent, id included (1..20)",
         [](F& f, long v) { f.inputReportLength = std::size_t(v); }},
        {"arm-ack-second-form", nullptr, 0, 1, "acknowledge ARM windows with 0x0F 0x54",
         [](F& f, long v) { f.armAckSecondForm = v != 0; }},
        {"reboot-ms", "MS", 0, kMs,
         "after the completion, restart: leave, and come back MS ms later running the new firmware (0: stay)",
         [](F& f, long v) { f.rebootMs = int(v); }},
        {"no-return", nullptr, 0, 1, "after the completion, leave the bus and never come back",
         [](F& f, long v) { f.noReturn = v != 0; }},
        {"reboot-old-version", nullptr, 0, 1, "come back from the restart with the firmware number it had",
         [](F& f, long v) { f.rebootOldVersion = v != 0; }},
    };
    return table;
}

const FaultOption* findFaultOption(const std::string& name)
{
    for (const FaultOption& o : deviceFaultOptions()) {
        if (name == o.name)
            return &o;
    }
    return nullptr;
}

bool applyFault(const FaultOption& option, const std::string& value, DeviceModel::Faults* faults,
                std::string* error)
{
    long v = 1;
    if (option.value) {
        char* end = nullptr;
        v = value.empty() ? 0 : std::strtol(value.c_str(), &end, 0);
        if (value.empty() || *end != '\0' || v < option.min || v > option.max) {
            *error = std::string(option.name) + ": needs a number from " + std::to_string(option.min) +
                     " to " + std::to_string(option.max) + ", got \"" + value + "\"";
            return false;
        }
    } else if (!value.empty()) {
        *error = std::string(option.name) + ": takes no value";
        return false;
    }
    option.set(*faults, v);
    return true;
}

bool applyFaultText(const std::string& text, DeviceModel::Faults* faults, std::string* error)
{
    const auto equals = text.find('=');
    const std::string name = text.substr(0, equals);
    const FaultOption* option = findFaultOption(name);
    if (!option) {
        *error = "no device fault \"" + name + "\"";
        return false;
    }
    if (option->value && equals == std::string::npos) {
        *error = name + ": needs a value (" + name + "=" + option->value + ")";
        return false;
    }
    return applyFault(*option, equals == std::string::npos ? std::string() : text.substr(equals + 1), faults,
                      error);
}

std::string faultUsage()
{
    std::string text;
    for (const FaultOption& o : deviceFaultOptions()) {
        std::string left = std::string("  --") + o.name + (o.value ? std::string(" ") + o.value : "");
        left.resize(std::max<std::size_t>(left.size() + 1, 28), ' ');
        text += left + o.help + "\n";
    }
    return text;
}

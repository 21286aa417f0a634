// The device faults as options: one table read by every program that
// presents the virtual device (firmware-updater-sim, virtual-hid-uhid), so
// each fault has one name everywhere and every program offers all of them.
// Plain C++ without Qt, like the model.
#pragma once

#include "usb/backends/virtual/devicemodel.h"

#include <string>
#include <vector>

struct FaultOption {
    const char* name;  // the option without its dashes
    const char* value; // the value's placeholder ("N", "MS"); null: a switch
    long min;          // the value's range
    long max;
    const char* help;
    void (*set)(DeviceModel::Faults&, long); // a switch gets 1
};

// Every fault the model has, in the order the usages list them.
const std::vector<FaultOption>& deviceFaultOptions();

// The fault named `name` (without dashes); null when there is none.
const FaultOption* findFaultOption(const std::string& name);

// Sets one fault from its option: `name` and, for a fault that takes one,
// its `value` (decimal or 0x hexadecimal, within the range). False with the
// reason in `error`, `faults` untouched.
bool applyFault(const FaultOption& option, const std::string& value, DeviceModel::Faults* faults,
                std::string* error);

// "NAME" or "NAME=VALUE" (the simulator's --fault K:NAME=VALUE) onto `faults`.
bool applyFaultText(const std::string& text, DeviceModel::Faults* faults, std::string* error);

// The table as lines of a usage text: "  --NAME VALUE   help".
std::string faultUsage();

// Command line of virtual-hid-uhid, the virtual device presented to the
// kernel through /dev/uhid. Kept apart from the program so it can be tested
// on a machine without uhid.
#pragma once

#include "protocol/protocol.h"
#include "usb/backends/virtual/devicemodel.h"

#include <cstdint>
#include <string>
#include <vector>

struct UhidDeviceIds {
    std::uint16_t vendorId = protocol::kVendorId;
    std::uint16_t productId = protocol::kProductId;
};

struct UhidOptions {
    UhidDeviceIds ids;                 // the device that runs the protocol
    std::uint16_t firmware = 5000;     // its firmware number
    std::uint16_t nextFirmware = 0;    // its number after a restart (0: unchanged)
    std::string serial;                // the serial number it reports (HID uniq; empty: none)
    std::size_t expectedDspLength = 0; // DSP image length told to the model
    DeviceModel::Faults faults;        // fault controls of the model
    int replugAfterMs = -1;            // after an unplug: re-create (-1: never)
    std::vector<UhidDeviceIds> others; // further devices, created first, never answer
    int inputBytes = 19;               // declared input report, without the id
    int featureBytes = 10;             // declared feature report, without the id
    std::string dumpDir;               // where dsp.bin and arm.bin are written
    bool verbose = false;              // one line per frame on stdout
};

struct UhidParseResult {
    bool ok = false;
    bool help = false;
    std::string error; // when !ok and !help
};

UhidParseResult parseUhidOptions(const std::vector<std::string>& args, UhidOptions* out);
std::string uhidUsage();

// "0483:0525" (hexadecimal) -> ids.
bool parseDeviceIds(const std::string& text, UhidDeviceIds* out);

// A vendor-page report descriptor with one report id carrying `inputBytes`
// input bytes and `featureBytes` feature bytes (the id not counted).
std::vector<std::uint8_t> vendorReportDescriptor(std::uint8_t reportId, int inputBytes, int featureBytes);

// One set of checks of a HID backend against the updater's device, run
// against every backend through a provider that plugs the virtual device:
// the in-process virtual bus (CTest, tst_conformance.cpp), hidraw over uhid
// in the Linux guest (guest_linux.cpp) and the Windows backend under Wine in
// the Windows guest (guest_windows.cpp). The whole upgrade runs the
// product's own engine (src/upgrade). Standard C++ only, so the Windows
// program builds without Qt.
//
// Each check prints "GUEST-TEST <name> PASS" or "GUEST-TEST <name> FAIL: why";
// Runner::summary prints "N passed, M failed". Every wait is bounded.
#pragma once

#include "protocol/protocol.h"
#include "usb/hidplatform.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace conformance {

struct Failure {
    std::string message;
};
// Ends the running check with `why` unless `ok`.
void require(bool ok, const std::string& why);

// The device a check plugs, and its faults.
struct DeviceSetup {
    std::uint16_t firmware = 5000;
    std::vector<std::uint32_t> others; // vendor << 16 | product of foreign interfaces plugged first
    int featureBytes = 0;              // the declared feature report, id not counted (0: 10)
    // The declared input report, id not counted (0: 19, or one less than
    // inputReportLength when that is given).
    int inputBytes = 0;
    int refuseWrite = 0;       // the Nth feature write is refused
    int burstBefore = 0;       // reports 80 7E <n> queued before each reply
    int inputReportLength = 0; // length of the reports it sends (0: the declared)
    int unplugAfterFrames = 0; // leaves the bus after the Nth frame
    std::size_t dspLength = 0; // the DSP image length it is told
};

// The command line of virtual-hid-uhid for `setup`, dumping its images into
// `dumpDir` when it ends.
std::vector<std::string> uhidArguments(const DeviceSetup& setup, const std::string& dumpDir);

// How a backend's device is plugged and pulled.
class Provider {
public:
    virtual ~Provider() = default;
    virtual HidPlatform& hid() = 0;
    // Plugs the device of `setup` beside its others; false and why on failure.
    virtual bool plug(const DeviceSetup& setup, std::string* why) = 0;
    // The device leaves the bus; it comes back in the same place.
    virtual bool unplug() = 0;
    virtual bool replug() = 0;
    // Removes every interface plugged; true when the device ended cleanly.
    // `dsp` and `arm` receive the images it took in.
    virtual bool remove(protocol::Bytes* dsp = nullptr, protocol::Bytes* arm = nullptr) = 0;
    // Delivers the backend's notices for about `ms` milliseconds.
    virtual void pump(int ms) = 0;
    virtual bool registerNotices(HidPlatform::NoticeSink sink) = 0;
    // On the reading thread, right after a read failed because the device
    // left: empty when the backend reported a removal, else what it did.
    virtual std::string removalError() { return {}; }
    // How long the enumeration may take to follow a plug or an unplug.
    virtual int listWaitMs() const { return 5000; }
};

// Runs named checks, prints their results and the closing line.
class Runner {
public:
    explicit Runner(std::string only = {})
        : only_(std::move(only))
    {}
    void test(const std::string& name, const std::function<void()>& check);
    // "N passed, M failed"; the exit status: 0 when something ran and nothing failed.
    int summary() const;

private:
    std::string only_; // runs the checks whose names start with it
    int passed_ = 0;
    int failed_ = 0;
};

// The backend-conformance checks through `provider`, their names prefixed.
void run(Provider& provider, Runner& runner, const std::string& prefix);

// Runs the provider's notices until `done` holds or `ms` pass; true when done.
bool waitUntil(Provider& p, const std::function<bool()>& done, int ms = 5000);
// The file's bytes, at most 1 MiB; empty when it cannot be read.
protocol::Bytes readFile(const std::string& path);

// "vvvv:pppp" (lower case) from the ids a device path carries; empty if none.
std::string idsInPath(const std::string& path);
// Present interfaces whose paths carry 0483:0525.
std::vector<std::string> ourDevices(HidPlatform& hid);

} // namespace conformance

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

#include <functional>
#include <string>
#include <vector>

namespace conformance {

// Ends the running check with `why` (a std::runtime_error) unless `ok`.
void require(bool ok, const std::string& why);

// The device a check plugs, and its faults, as virtual-hid-uhid's options
// ("--firmware", "4321", "--refuse-write", "3", ...).
using Args = std::vector<std::string>;

// How a backend's device is plugged and pulled.
class Provider {
public:
    virtual ~Provider() = default;
    virtual HidPlatform& hid() = 0;
    // Plugs the device of `args` beside its others; false and why on failure.
    virtual bool plug(const Args& args, std::string* why) = 0;
    // The device leaves the bus; it comes back in the same place.
    virtual bool unplug() = 0;
    virtual bool replug() = 0;
    // Removes every interface plugged; true when the device ended cleanly.
    // `dsp` and `arm` receive the images it took in.
    virtual bool remove(protocol::Bytes* dsp = nullptr, protocol::Bytes* arm = nullptr) = 0;
    // Delivers the backend's notices for about `ms` milliseconds.
    virtual void pump(int ms) = 0;
    virtual bool registerNotices(HidPlatform::NoticeSink sink)
    {
        return hid().registerNotices(nullptr, sink);
    }
    // On the reading thread, right after a read failed because the device
    // left: empty when the backend reported a removal, else what it did.
    virtual std::string removalError() { return {}; }
    // How long the enumeration may take to follow a plug or an unplug.
    virtual int listWaitMs() const { return 5000; }
};

// virtual-hid-uhid as the device, driven by the line commands of
// scripts/guest/device-control.py (start ARGS, send LINE, wait N MS PREFIX,
// stop); it dumps its images into `dumpDir`, read back here as `readDir`.
class UhidProvider : public Provider {
public:
    UhidProvider(std::string dumpDir, std::string readDir)
        : dumpDir_(std::move(dumpDir))
        , readDir_(std::move(readDir))
    {}
    bool plug(const Args& args, std::string* why) override;
    bool unplug() override;
    bool replug() override;
    bool remove(protocol::Bytes* dsp, protocol::Bytes* arm) override;

protected:
    // One command; the answer line, "ok ..." or "fail ...".
    virtual std::string ask(const std::string& line) = 0;
    // The device under test leaves first, and alone, before the program
    // stops: Wine's HID bus has been seen to stop taking plugs for good
    // after several devices left at once.
    bool unplugBeforeStop_ = false;

private:
    std::string dumpDir_, readDir_;
    int plugs_ = 0; // "created 0483:0525" lines of the running device program
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

// The bytes of a file the device program wrote; empty when it cannot be read.
protocol::Bytes readFile(const std::string& path);
// Present interfaces whose paths carry 0483:0525.
std::vector<std::string> ourDevices(HidPlatform& hid);

} // namespace conformance

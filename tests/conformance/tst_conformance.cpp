// The backend-conformance checks (conformance.h) against the in-process
// virtual bus, as a CTest test; the device's options are read as
// virtual-hid-uhid reads them. Then that program's command line, checked
// here where it cannot run (it needs /dev/uhid); the report descriptor it
// declares is read back by the kernel and by Wine in the guests' checks of
// the report lengths.
#include "conformance.h"

#include "usb/backends/virtual/faulttable.h"
#include "usb/backends/virtual/uhid/uhidoptions.h"
#include "usb/backends/virtual/virtualbus.h"

#include <QCoreApplication>
#include <QThread>

#include <iterator>
#include <sstream>
#include <tuple>

namespace {

using conformance::require;

class VirtualProvider : public conformance::Provider {
public:
    HidPlatform& hid() override { return bus_; }

    bool plug(const conformance::Args& args, std::string* why) override
    {
        UhidOptions o;
        const UhidParseResult parsed = parseUhidOptions(args, &o);
        *why = parsed.error;
        if (!parsed.ok)
            return false;
        for (const UhidDeviceIds& other : o.others) {
            VirtualHidInterface iface;
            iface.vendorId = other.vendorId;
            iface.productId = other.productId;
            paths_.push_back(bus_.plug(iface));
        }
        device_ = std::make_shared<DeviceModel>();
        device_->setFirmwareNumber(o.firmware);
        device_->setExpectedDspLength(o.expectedDspLength);
        device_->faults() = o.faults;
        spec_ = VirtualHidBus::deviceInterface(device_);
        spec_.featureLength = std::uint16_t(o.featureBytes + 1); // as the descriptor declares them
        spec_.inputLength = std::uint16_t(o.inputBytes + 1);
        paths_.push_back(spec_.path = bus_.plug(spec_));
        return true;
    }
    bool unplug() override { return bus_.unplug(spec_.path); }
    bool replug() override { return bus_.plug(spec_) == spec_.path; }
    bool remove(protocol::Bytes* dsp, protocol::Bytes* arm) override
    {
        for (const std::string& path : paths_)
            bus_.unplug(path);
        paths_.clear();
        if (dsp)
            *dsp = device_->dspImage();
        if (arm)
            *arm = device_->armImage();
        return true;
    }
    void pump(int ms) override
    {
        QCoreApplication::processEvents(QEventLoop::AllEvents, ms);
        QThread::msleep(2);
    }

private:
    VirtualHidBus bus_;
    std::shared_ptr<DeviceModel> device_;
    VirtualHidInterface spec_;
    std::vector<std::string> paths_;
};

// "--a 1 --b" as arguments.
conformance::Args words(const char* text)
{
    std::istringstream in(text);
    return {std::istream_iterator<std::string>(in), std::istream_iterator<std::string>()};
}

void uhidOptions()
{
    // The options the checks above give their devices are not repeated here.
    UhidOptions o;
    for (const char* args :
         {"--reboot-ms -1", "--unplug-after-frames", "--frobnicate 1", "--firmware 12x", "--firmware 65536",
          "--ids 04830525", "--ids 10483:0525", "--input-report-length 0", "--input-bytes 20"}) {
        const UhidParseResult r = parseUhidOptions(words(args), &o);
        require(!r.ok && !r.help && !r.error.empty(), std::string(args) + " was taken");
    }
    UhidParseResult r = parseUhidOptions(
        words("--ids 1234:abCD --replug-after-ms 300 --reply-delay-ms 7 --drop-start-ack --drop-dsp-ack 3 "
              "--refuse-write 0x10 --arm-ack-second-form --reboot-ms 800 --no-return --reboot-old-version "
              "--next-firmware 5001 --dump-dir /x"),
        &o);
    const DeviceModel::Faults& f = o.faults;
    require(r.ok && o.ids.vendorId == 0x1234 && o.ids.productId == 0xabcd && o.replugAfterMs == 300 &&
                f.replyDelayMs == 7 && f.dropStartAck && f.dropDspAck == 3 && f.refuseWrite == 16 &&
                f.armAckSecondForm && f.rebootMs == 800 && f.noReturn && f.rebootOldVersion &&
                o.nextFirmware == 5001 && o.dumpDir == "/x",
            "options not taken as given: " + r.error);
    // Short reports are declared as short as they are sent, unless
    // --input-bytes says otherwise.
    for (const auto& [args, length, declared] : {std::tuple{"--input-report-length 12", 12u, 11},
                                                 {"--input-report-length 1", 1u, 1},
                                                 {"--input-report-length 8 --input-bytes 15", 8u, 15}}) {
        r = parseUhidOptions(words(args), &o);
        require(r.ok && o.faults.inputReportLength == length && o.inputBytes == declared,
                std::string(args) + ": input report " + std::to_string(o.inputBytes));
    }
    require(parseUhidOptions({"--help"}, &o).help, "--help");
    for (const FaultOption& fault : deviceFaultOptions()) // every fault is offered
        require(uhidUsage().find(std::string("--") + fault.name + ' ') != std::string::npos, fault.name);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    VirtualProvider provider;
    conformance::Runner runner(argc > 1 ? argv[1] : "");
    conformance::run(provider, runner, "virtual-");
    runner.test("uhid-options", uhidOptions);
    return runner.summary();
}

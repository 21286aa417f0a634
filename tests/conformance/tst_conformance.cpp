// The backend-conformance checks (conformance.h) against the in-process
// virtual bus, as a CTest test; the device's options are read as
// virtual-hid-uhid reads them.
#include "conformance.h"

#include "usb/backends/virtual/uhid/uhidoptions.h"
#include "usb/backends/virtual/virtualbus.h"

#include <QCoreApplication>
#include <QThread>

namespace {

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
            VirtualInterfaceSpec spec;
            spec.vendorId = other.vendorId;
            spec.productId = other.productId;
            paths_.push_back(bus_.plug(spec));
        }
        device_ = std::make_shared<DeviceModel>();
        device_->setFirmwareNumber(o.firmware);
        device_->setExpectedDspLength(o.expectedDspLength);
        device_->faults() = o.faults;
        spec_ = VirtualHidBus::deviceSpec(device_);
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
    VirtualInterfaceSpec spec_;
    std::vector<std::string> paths_;
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    VirtualProvider provider;
    conformance::Runner runner(argc > 1 ? argv[1] : "");
    conformance::run(provider, runner, "virtual-");
    return runner.summary();
}

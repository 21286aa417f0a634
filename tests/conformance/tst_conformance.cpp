// The backend-conformance checks (conformance.h) against the in-process
// virtual bus, as a CTest test.
#include "conformance.h"

#include "usb/backends/virtual/virtualbus.h"

#include <QCoreApplication>
#include <QThread>

namespace {

class VirtualProvider : public conformance::Provider {
public:
    HidPlatform& hid() override { return bus_; }

    bool plug(const conformance::DeviceSetup& s, std::string*) override
    {
        for (std::uint32_t other : s.others) {
            VirtualInterfaceSpec spec;
            spec.vendorId = std::uint16_t(other >> 16);
            spec.productId = std::uint16_t(other);
            paths_.push_back(bus_.plug(spec));
        }
        device_ = std::make_shared<DeviceModel>();
        device_->setFirmwareNumber(s.firmware);
        device_->setExpectedDspLength(s.dspLength);
        DeviceModel::Faults& f = device_->faults();
        f.refuseWrite = s.refuseWrite;
        f.burstBefore = s.burstBefore;
        f.unplugAfterFrames = s.unplugAfterFrames;
        if (s.inputReportLength > 0)
            f.inputReportLength = std::size_t(s.inputReportLength);
        spec_ = VirtualHidBus::deviceSpec(device_);
        // The lengths the descriptor declares, as virtual-hid-uhid declares them.
        if (s.featureBytes > 0)
            spec_.featureLength = std::uint16_t(s.featureBytes + 1);
        if (s.inputBytes > 0 || s.inputReportLength > 0)
            spec_.inputLength = std::uint16_t(s.inputBytes > 0 ? s.inputBytes + 1 : s.inputReportLength);
        spec_.path = bus_.plug(spec_);
        paths_.push_back(spec_.path);
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
    bool registerNotices(HidPlatform::NoticeSink sink) override
    {
        return bus_.registerNotices(nullptr, sink);
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

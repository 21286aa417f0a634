#include "usb/backends/virtual/uhid/uhiddevice.h"

#include <linux/uhid.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

UhidDevice::UhidDevice(UhidDeviceIds ids, std::vector<std::uint8_t> descriptor, DeviceModel* model,
                       std::string serial)
    : ids_(ids)
    , serial_(std::move(serial))
    , descriptor_(std::move(descriptor))
    , model_(model)
{}

UhidDevice::~UhidDevice()
{
    destroy();
}

std::string UhidDevice::idText() const
{
    char text[16];
    std::snprintf(text, sizeof text, "%04x:%04x", ids_.vendorId, ids_.productId);
    return text;
}

bool UhidDevice::write(const void* event, std::size_t size)
{
    const ssize_t n = ::write(fd_, event, size);
    if (n != static_cast<ssize_t>(size)) {
        std::fprintf(stderr, "virtual-hid-uhid: %s: write to /dev/uhid: %s\n", idText().c_str(),
                     n < 0 ? std::strerror(errno) : "short write");
        return false;
    }
    return true;
}

bool UhidDevice::create(std::string* error)
{
    if (fd_ >= 0)
        return true;
    fd_ = ::open("/dev/uhid", O_RDWR | O_CLOEXEC);
    if (fd_ < 0) {
        *error = std::string("open /dev/uhid: ") + std::strerror(errno);
        return false;
    }
    uhid_event ev{};
    ev.type = UHID_CREATE2;
    auto& c = ev.u.create2;
    std::snprintf(reinterpret_cast<char*>(c.name), sizeof c.name, "virtual updater device %s",
                  idText().c_str());
    // Devices with serials get places of their own on the bus, as on a hub.
    std::snprintf(reinterpret_cast<char*>(c.phys), sizeof c.phys, "uhid/%s%s%s", idText().c_str(),
                  serial_.empty() ? "" : "/", serial_.c_str());
    std::snprintf(reinterpret_cast<char*>(c.uniq), sizeof c.uniq, "%s", serial_.c_str());
    c.rd_size = static_cast<std::uint16_t>(descriptor_.size());
    c.bus = 0x03; // BUS_USB
    c.vendor = ids_.vendorId;
    c.product = ids_.productId;
    c.version = 1;
    std::copy(descriptor_.begin(), descriptor_.end(), c.rd_data);
    if (!write(&ev, sizeof ev)) {
        *error = "UHID_CREATE2 failed";
        ::close(fd_);
        fd_ = -1;
        return false;
    }
    return true;
}

void UhidDevice::destroy()
{
    if (fd_ < 0)
        return;
    uhid_event ev{};
    ev.type = UHID_DESTROY;
    write(&ev, sizeof ev);
    ::close(fd_);
    fd_ = -1;
    pending_.clear();
}

void UhidDevice::sendInput(const std::vector<std::uint8_t>& report)
{
    uhid_event ev{};
    ev.type = UHID_INPUT2;
    ev.u.input2.size = static_cast<std::uint16_t>(std::min<std::size_t>(report.size(), UHID_DATA_MAX));
    std::copy(report.begin(), report.begin() + ev.u.input2.size, ev.u.input2.data);
    write(&ev, sizeof ev);
}

void UhidDevice::replySetReport(std::uint32_t id, std::uint16_t err)
{
    uhid_event ev{};
    ev.type = UHID_SET_REPORT_REPLY;
    ev.u.set_report_reply.id = id;
    ev.u.set_report_reply.err = err;
    write(&ev, sizeof ev);
}

UhidDevice::EventResult UhidDevice::handleEvent()
{
    EventResult result;
    uhid_event ev{};
    const ssize_t n = ::read(fd_, &ev, sizeof ev);
    if (n < 0) {
        if (errno != EAGAIN && errno != EINTR)
            result.failed = true;
        return result;
    }
    switch (ev.type) {
    case UHID_SET_REPORT: {
        const auto& req = ev.u.set_report;
        const std::size_t size = std::min<std::size_t>(req.size, UHID_DATA_MAX);
        if (req.rtype != UHID_FEATURE_REPORT) {
            replySetReport(req.id, EIO);
            break;
        }
        result.frame = true;
        result.frameBytes.assign(req.data, req.data + size);
        if (!model_) {
            replySetReport(req.id, 0);
            break;
        }
        DeviceModel::Output out = model_->feature(req.data, size);
        replySetReport(req.id, out.accepted ? 0 : EIO);
        const int delay = model_->faults().replyDelayMs;
        for (auto& report : out.reports) {
            if (delay > 0 || !pending_.empty())
                pending_.push_back({Clock::now() + std::chrono::milliseconds(delay), std::move(report)});
            else
                sendInput(report);
        }
        result.unplug = out.unplug;
        result.reboot = out.reboot;
        break;
    }
    case UHID_GET_REPORT: {
        // The device has no readable feature reports.
        uhid_event reply{};
        reply.type = UHID_GET_REPORT_REPLY;
        reply.u.get_report_reply.id = ev.u.get_report.id;
        reply.u.get_report_reply.err = EIO;
        write(&reply, sizeof reply);
        break;
    }
    default:
        // UHID_START, UHID_STOP, UHID_OPEN, UHID_CLOSE, UHID_OUTPUT: nothing to do.
        break;
    }
    return result;
}

std::optional<UhidDevice::Clock::time_point> UhidDevice::nextDue() const
{
    if (pending_.empty())
        return std::nullopt;
    return pending_.front().due;
}

void UhidDevice::sendDue(Clock::time_point now)
{
    while (!pending_.empty() && pending_.front().due <= now) {
        sendInput(pending_.front().report);
        pending_.pop_front();
    }
}

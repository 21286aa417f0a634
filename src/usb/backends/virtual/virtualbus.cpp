#include "usb/backends/virtual/virtualbus.h"

#include <QMetaObject>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstring>

VirtualHidBus::VirtualHidBus(QObject* parent)
    : QObject(parent)
{}

VirtualHidBus::~VirtualHidBus()
{
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& [h, handle] : handles_)
        handle->closed = true;
    for (auto& [id, each] : handles_)
        each->wake.notify_all();
    for (Registration& r : registrations_) {
        if (!r.context || r.context == this)
            continue;
        if (r.context->thread() == QThread::currentThread())
            delete r.context.data();
        else
            r.context->deleteLater();
    }
}

std::string VirtualHidBus::makePath(std::uint16_t vendorId, std::uint16_t productId, int serial)
{
    char text[128];
    std::snprintf(text, sizeof text,
                  "\\\\?\\hid#VID_%04X&PID_%04X#7&%08x&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}",
                  vendorId, productId, static_cast<unsigned>(serial));
    return text;
}

VirtualHidInterface VirtualHidBus::deviceInterface(std::shared_ptr<DeviceModel> device, std::string path,
                                                   std::string serial)
{
    VirtualHidInterface desc;
    desc.path = std::move(path);
    desc.serial = std::move(serial);
    desc.device = std::move(device);
    return desc;
}

std::string VirtualHidBus::plug(VirtualHidInterface desc)
{
    return add(std::move(desc), true);
}

std::string VirtualHidBus::add(VirtualHidInterface desc, bool fresh)
{
    std::string path;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (desc.path.empty())
            desc.path = makePath(desc.vendorId, desc.productId, ++serial_);
        if (desc.location.empty())
            desc.location = "virtual-" + std::to_string(nextInterfaceId_);
        path = desc.path;
        if (findLocked(path))
            return path; // already on the bus
        if (desc.device && fresh)
            desc.device->reset();
        interfaces_.push_back(Interface{std::move(desc), nextInterfaceId_++});
    }
    postNotice(HidNoticeKind::Arrival, path);
    return path;
}

void VirtualHidBus::reboot(const std::shared_ptr<DeviceModel>& device)
{
    // The device leaves once the host had the time to read the completion,
    // and comes back on the same paths, as a device that restarts does.
    const int replyMs = std::max(0, device->faults().replyDelayMs);
    QTimer::singleShot(replyMs + DeviceModel::kRebootLeaveMs, this, [this, device] {
        std::vector<VirtualHidInterface> leaving;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            for (const Interface& i : interfaces_)
                if (i.desc.device == device)
                    leaving.push_back(i.desc);
            for (const VirtualHidInterface& d : leaving)
                unplugLocked(d.path);
        }
        for (const VirtualHidInterface& d : leaving)
            postNotice(HidNoticeKind::Removal, d.path);
        if (device->faults().noReturn || leaving.empty())
            return;
        QTimer::singleShot(device->faults().rebootMs, this, [this, device, leaving] {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                device->reboot();
            }
            for (const VirtualHidInterface& d : leaving)
                add(d, false);
        });
    });
}

void VirtualHidBus::unplugLocked(const std::string& path)
{
    auto it = std::find_if(interfaces_.begin(), interfaces_.end(),
                           [&](const Interface& i) { return i.desc.path == path; });
    if (it == interfaces_.end())
        return;
    for (auto& [h, handle] : handles_) {
        if (handle->interfaceId == it->id) {
            handle->gone = true;
            handle->queue.clear();
        }
    }
    interfaces_.erase(it);
    for (auto& [id, each] : handles_)
        each->wake.notify_all();
}

bool VirtualHidBus::unplug(const std::string& path)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!findLocked(path))
            return false;
        unplugLocked(path);
    }
    postNotice(HidNoticeKind::Removal, path);
    return true;
}

void VirtualHidBus::queueLocked(const std::string& path, std::uint64_t interfaceId,
                                const std::vector<DeviceModel::Report>& reports, int delayMs)
{
    (void)path;
    // Most frames have no reply: the reader is left asleep.
    if (reports.empty())
        return;
    const Clock::time_point at = Clock::now() + std::chrono::milliseconds(std::max(0, delayMs));
    for (auto& [h, handle] : handles_) {
        if (handle->interfaceId != interfaceId || handle->access != Access::Read || handle->closed ||
            handle->gone)
            continue;
        for (const DeviceModel::Report& r : reports)
            handle->queue.push_back(Queued{at, r});
        // Only this handle's reader wakes: with many devices on the bus,
        // waking every reader for each reply would cost each one a wake-up.
        handle->wake.notify_all();
    }
}

bool VirtualHidBus::inject(const std::string& path, const std::vector<DeviceModel::Report>& reports,
                           int delayMs)
{
    std::lock_guard<std::mutex> lock(mutex_);
    const Interface* i = findLocked(path);
    if (!i)
        return false;
    queueLocked(path, i->id, reports, delayMs);
    return true;
}

void VirtualHidBus::postNotice(HidNoticeKind kind, const std::string& path)
{
    std::vector<Registration> targets;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        targets = registrations_;
    }
    for (const Registration& r : targets) {
        if (!r.context)
            continue;
        NoticeSink sink = r.sink;
        QMetaObject::invokeMethod(
            r.context.data(), [sink, kind, path] { sink(kind, path); }, Qt::QueuedConnection);
    }
}

bool VirtualHidBus::isPlugged(const std::string& path) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return findLocked(path) != nullptr;
}

std::vector<std::string> VirtualHidBus::plugged() const
{
    return const_cast<VirtualHidBus*>(this)->enumerate();
}

int VirtualHidBus::openHandleCount() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(handles_.size());
}

int VirtualHidBus::blockedReads() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return blockedReads_;
}

int VirtualHidBus::featureWrites() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return featureWrites_;
}

void VirtualHidBus::setRegistrationFails(bool fails)
{
    std::lock_guard<std::mutex> lock(mutex_);
    registrationFails_ = fails;
}

VirtualHidBus::Interface* VirtualHidBus::findLocked(const std::string& path)
{
    for (Interface& i : interfaces_)
        if (i.desc.path == path)
            return &i;
    return nullptr;
}

const VirtualHidBus::Interface* VirtualHidBus::findLocked(const std::string& path) const
{
    return const_cast<VirtualHidBus*>(this)->findLocked(path);
}

std::shared_ptr<VirtualHidBus::Handle> VirtualHidBus::handleLocked(HidHandle h) const
{
    auto it = handles_.find(h);
    return it == handles_.end() ? nullptr : it->second;
}

void VirtualHidBus::setErrorLocked(std::string text) const
{
    lastError_ = std::move(text);
}

std::vector<std::string> VirtualHidBus::enumerate()
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> paths;
    for (const Interface& i : interfaces_)
        paths.push_back(i.desc.path);
    return paths;
}

HidHandle VirtualHidBus::open(const std::string& path, Access access)
{
    std::lock_guard<std::mutex> lock(mutex_);
    const Interface* i = findLocked(path);
    if (!i) {
        setErrorLocked("open: no such device: " + path);
        return kInvalidHidHandle;
    }
    if ((access == Access::Probe && i->desc.probeFails) ||
        (access == Access::Read && i->desc.readOpenFails) ||
        (access == Access::Write && i->desc.writeOpenFails)) {
        setErrorLocked("open: access denied: " + path);
        return kInvalidHidHandle;
    }
    auto handle = std::make_shared<Handle>();
    handle->path = path;
    handle->interfaceId = i->id;
    handle->desc = i->desc;
    handle->access = access;
    const HidHandle h = nextHandle_++;
    handles_[h] = handle;
    return h;
}

HidHandle VirtualHidBus::openProbe(const std::string& path)
{
    return open(path, Access::Probe);
}

HidHandle VirtualHidBus::openRead(const std::string& path)
{
    return open(path, Access::Read);
}

HidHandle VirtualHidBus::openWrite(const std::string& path)
{
    return open(path, Access::Write);
}

bool VirtualHidBus::getAttributes(HidHandle h, HidAttributes* out)
{
    std::lock_guard<std::mutex> lock(mutex_);
    auto handle = handleLocked(h);
    if (!handle || handle->gone) {
        setErrorLocked("getAttributes: invalid handle");
        return false;
    }
    out->vendorId = handle->desc.vendorId;
    out->productId = handle->desc.productId;
    return true;
}

bool VirtualHidBus::getCaps(HidHandle h, HidCaps* out)
{
    std::lock_guard<std::mutex> lock(mutex_);
    auto handle = handleLocked(h);
    if (!handle || handle->gone) {
        setErrorLocked("getCaps: invalid handle");
        return false;
    }
    out->featureReportByteLength = handle->desc.featureLength;
    out->inputReportByteLength = handle->desc.inputLength;
    out->outputReportByteLength = 0;
    return true;
}

bool VirtualHidBus::getSerialNumber(HidHandle h, std::string* out)
{
    std::lock_guard<std::mutex> lock(mutex_);
    auto handle = handleLocked(h);
    if (!handle || handle->gone) {
        setErrorLocked("getSerialNumber: invalid handle");
        return false;
    }
    *out = handle->desc.serial;
    return true;
}

bool VirtualHidBus::getLocation(HidHandle h, std::string* out)
{
    std::lock_guard<std::mutex> lock(mutex_);
    auto handle = handleLocked(h);
    if (!handle || handle->gone) {
        setErrorLocked("getLocation: invalid handle");
        return false;
    }
    *out = handle->desc.location;
    return true;
}

bool VirtualHidBus::setFeature(HidHandle h, const std::uint8_t* data, std::size_t length)
{
    std::vector<std::string> leaving;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto handle = handleLocked(h);
        if (!handle || handle->gone || handle->access != Access::Write) {
            setErrorLocked("setFeature: invalid handle");
            return false;
        }
        ++featureWrites_;
        if (length != handle->desc.featureLength) {
            setErrorLocked("setFeature: length " + std::to_string(length) +
                           " is not the feature report length");
            return false;
        }
        const std::shared_ptr<DeviceModel>& device = handle->desc.device;
        if (!device)
            return true;
        DeviceModel::Output out = device->feature(data, length);
        if (!out.accepted) {
            setErrorLocked("setFeature: refused by the device");
            return false;
        }
        queueLocked(handle->path, handle->interfaceId, out.reports, device->faults().replyDelayMs);
        if (out.reboot) {
            // From the bus's own thread: a feature write may come from any.
            QMetaObject::invokeMethod(
                this, [this, device] { reboot(device); }, Qt::QueuedConnection);
        }
        if (out.unplug) {
            // The whole device leaves: every interface backed by this model.
            for (const Interface& i : interfaces_)
                if (i.desc.device == device)
                    leaving.push_back(i.desc.path);
            for (const std::string& p : leaving)
                unplugLocked(p);
        }
    }
    for (const std::string& p : leaving)
        postNotice(HidNoticeKind::Removal, p);
    return true;
}

int VirtualHidBus::readInput(HidHandle h, std::uint8_t* buffer, std::size_t capacity)
{
    std::unique_lock<std::mutex> lock(mutex_);
    auto handle = handleLocked(h);
    if (!handle || handle->access != Access::Read) {
        setErrorLocked("readInput: invalid handle");
        return -1;
    }
    for (;;) {
        if (handle->closed || handle->gone) {
            setErrorLocked("readInput: device closed or removed");
            return -1;
        }
        const Clock::time_point now = Clock::now();
        if (!handle->queue.empty() && handle->queue.front().deliverAt <= now) {
            DeviceModel::Report report = std::move(handle->queue.front().report);
            handle->queue.pop_front();
            const std::size_t n = std::min(report.size(), capacity);
            std::memcpy(buffer, report.data(), n);
            return static_cast<int>(n);
        }
        ++blockedReads_;
        if (handle->queue.empty())
            handle->wake.wait(lock);
        else
            handle->wake.wait_until(lock, handle->queue.front().deliverAt);
        --blockedReads_;
    }
}

void VirtualHidBus::close(HidHandle h)
{
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = handles_.find(h);
    if (it == handles_.end()) {
        setErrorLocked("close: invalid handle");
        return;
    }
    it->second->closed = true;
    it->second->queue.clear();
    it->second->wake.notify_all();
    handles_.erase(it);
}

bool VirtualHidBus::registerNotices(void* nativeWindow, NoticeSink sink)
{
    (void)nativeWindow;
    std::lock_guard<std::mutex> lock(mutex_);
    if (registrationFails_) {
        setErrorLocked("registerNotices: refused");
        return false;
    }
    // Notices run on the registering thread: a context object living there.
    QObject* context = QThread::currentThread() == thread() ? static_cast<QObject*>(this) : new QObject;
    registrations_.push_back(Registration{context, std::move(sink)});
    return true;
}

bool VirtualHidBus::translateNativeMessage(void* message, HidNoticeKind* kind, std::string* path)
{
    auto* m = static_cast<const NativeMessage*>(message);
    if (!m || m->magic != kNativeMagic)
        return false;
    *kind = m->kind;
    *path = m->path;
    return true;
}

std::string VirtualHidBus::lastError() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return lastError_;
}

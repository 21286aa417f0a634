// The Linux HID backend: hidraw device nodes found through libudev, ids and
// capabilities through the hidraw ioctls, feature reports written with
// HIDIOCSFEATURE, input reports read with poll() so that closing a handle
// from another thread ends a blocked read at once. Hot-plug notices come from
// the udev monitor, or straight from the kernel's uevent socket when no udev
// daemon runs (containers, minimal systems), through a QSocketNotifier on
// the registering thread.
//
// Handles come from a HandleTable: a read in progress keeps its descriptors
// alive after a concurrent close, so a descriptor number can never be reused
// under it.
#include "protocol/protocol.h"
#include "usb/backends/linux/hid_linux_parse.h"
#include "usb/handletable.h"
#include "usb/hidplatform.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <libudev.h>
#include <linux/hidraw.h>
#include <linux/netlink.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <vector>

namespace {

constexpr int kDeviceReportId = protocol::kReportId;

struct Device {
    int fd = -1;
    int wake = -1; // eventfd written by close() to end a blocked poll
    ~Device()
    {
        if (fd >= 0)
            ::close(fd);
        if (wake >= 0)
            ::close(wake);
    }
};

class LinuxHidPlatform : public HidPlatform {
public:
    LinuxHidPlatform()
        : udev_(udev_new())
    {}

    std::vector<std::string> enumerate() override
    {
        std::vector<std::string> paths;
        if (!udev_) {
            setError("udev_new failed");
            return paths;
        }
        udev_enumerate* e = udev_enumerate_new(udev_);
        udev_enumerate_add_match_subsystem(e, "hidraw");
        udev_enumerate_scan_devices(e);
        udev_list_entry* entry;
        udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(e))
        {
            const char* syspath = udev_list_entry_get_name(entry);
            udev_device* dev = udev_device_new_from_syspath(udev_, syspath);
            if (!dev)
                continue;
            const char* node = udev_device_get_devnode(dev);
            HidAttributes ids;
            if (node &&
                (hidlinux::hidIdsFromSysfs(syspath, &ids) || hidlinux::idsFromHidDevpath(syspath, &ids)))
                paths.push_back(hidlinux::noticePath(node, ids));
            udev_device_unref(dev);
        }
        udev_enumerate_unref(e);
        return paths;
    }

    HidHandle openProbe(const std::string& path) override
    {
        return open(path, O_RDONLY | O_NONBLOCK, O_WRONLY | O_NONBLOCK, false);
    }

    HidHandle openRead(const std::string& path) override
    {
        return open(path, O_RDONLY | O_NONBLOCK, -1, true);
    }

    HidHandle openWrite(const std::string& path) override { return open(path, O_RDWR, O_WRONLY, false); }

    bool getAttributes(HidHandle handle, HidAttributes* out) override
    {
        auto dev = find(handle);
        hidraw_devinfo info{};
        if (!dev || ::ioctl(dev->fd, HIDIOCGRAWINFO, &info) < 0)
            return fail("HIDIOCGRAWINFO");
        out->vendorId = static_cast<std::uint16_t>(info.vendor);
        out->productId = static_cast<std::uint16_t>(info.product);
        return true;
    }

    bool getCaps(HidHandle handle, HidCaps* out) override
    {
        auto dev = find(handle);
        int size = 0;
        if (!dev || ::ioctl(dev->fd, HIDIOCGRDESCSIZE, &size) < 0)
            return fail("HIDIOCGRDESCSIZE");
        auto descriptor = std::make_unique<hidraw_report_descriptor>();
        descriptor->size = static_cast<__u32>(std::min(std::max(size, 0), HID_MAX_DESCRIPTOR_SIZE));
        if (::ioctl(dev->fd, HIDIOCGRDESC, descriptor.get()) < 0)
            return fail("HIDIOCGRDESC");
        const hidlinux::DescriptorInfo info = hidlinux::parseReportDescriptor(
            descriptor->value, std::min<std::size_t>(descriptor->size, HID_MAX_DESCRIPTOR_SIZE));
        out->featureReportByteLength =
            static_cast<std::uint16_t>(hidlinux::featureLength(info, kDeviceReportId));
        out->inputReportByteLength = static_cast<std::uint16_t>(hidlinux::inputLength(info, kDeviceReportId));
        out->outputReportByteLength =
            static_cast<std::uint16_t>(hidlinux::outputLength(info, kDeviceReportId));
        return true;
    }

    bool getSerialNumber(HidHandle handle, std::string* out) override
    {
        return rawString(handle, HIDIOCGRAWUNIQ(kStringBytes), "HIDIOCGRAWUNIQ", out);
    }

    bool getLocation(HidHandle handle, std::string* out) override
    {
        return rawString(handle, HIDIOCGRAWPHYS(kStringBytes), "HIDIOCGRAWPHYS", out);
    }

    bool setFeature(HidHandle handle, const std::uint8_t* data, std::size_t length) override
    {
        auto dev = find(handle);
        if (!dev)
            return fail("HIDIOCSFEATURE: invalid handle");
        std::vector<std::uint8_t> report(data, data + length); // the ioctl takes a writable buffer
        if (::ioctl(dev->fd, HIDIOCSFEATURE(length), report.data()) < 0)
            return fail("HIDIOCSFEATURE");
        return true;
    }

    int readInput(HidHandle handle, std::uint8_t* buffer, std::size_t capacity) override
    {
        std::shared_ptr<Device> dev = find(handle);
        if (!dev || dev->wake < 0) {
            fail("read: invalid handle");
            return -1;
        }
        for (;;) {
            pollfd fds[2] = {{dev->fd, POLLIN, 0}, {dev->wake, POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0) {
                if (errno == EINTR)
                    continue;
                fail("poll");
                return -1;
            }
            if (fds[1].revents != 0) {
                fail("read: handle closed");
                return -1;
            }
            if (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) {
                fail("read: device removed");
                return -1;
            }
            const ssize_t n = ::read(dev->fd, buffer, capacity);
            if (n >= 0)
                return static_cast<int>(n);
            if (errno != EAGAIN && errno != EINTR) {
                fail("read");
                return -1;
            }
        }
    }

    void close(HidHandle handle) override
    {
        std::shared_ptr<Device> dev = handles_.take(handle);
        if (dev && dev->wake >= 0) {
            const std::uint64_t one = 1;
            (void)!::write(dev->wake, &one, sizeof one);
        }
        // The descriptors close when the last user (a blocked read) lets go.
    }

    bool registerNotices(void*, NoticeSink sink) override
    {
        sinks_.push_back(std::move(sink));
        if (notifier_)
            return true;
        int fd = -1;
        if (::access("/run/udev/control", F_OK) == 0 && udev_) {
            monitor_ = udev_monitor_new_from_netlink(udev_, "udev");
            if (monitor_ &&
                udev_monitor_filter_add_match_subsystem_devtype(monitor_, "hidraw", nullptr) >= 0 &&
                udev_monitor_enable_receiving(monitor_) >= 0)
                fd = udev_monitor_get_fd(monitor_);
        }
        if (fd < 0)
            fd = rawUeventSocket();
        if (fd < 0)
            return fail("device notices: no udev monitor and no uevent socket");
        notifier_ = new QSocketNotifier(fd, QSocketNotifier::Read, QCoreApplication::instance());
        QObject::connect(notifier_, &QSocketNotifier::activated, [this] { drainNotices(); });
        return true;
    }

    std::string lastError() const override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return lastError_;
    }

private:
    static constexpr unsigned kStringBytes = 256;

    // The kernel copies at most the buffer's size and does not promise a
    // terminating zero when the text fills it: keep one byte of our own.
    bool rawString(HidHandle handle, unsigned long request, const char* call, std::string* out)
    {
        auto dev = find(handle);
        char text[kStringBytes + 1] = {};
        if (!dev || ::ioctl(dev->fd, request, text) < 0)
            return fail(call);
        *out = std::string(text, ::strnlen(text, kStringBytes));
        return true;
    }

    HidHandle open(const std::string& path, int flags, int fallbackFlags, bool withWake)
    {
        const std::string node = hidlinux::deviceNode(path);
        int fd = ::open(node.c_str(), flags | O_CLOEXEC);
        if (fd < 0 && fallbackFlags >= 0)
            fd = ::open(node.c_str(), fallbackFlags | O_CLOEXEC);
        if (fd < 0) {
            fail("open " + node);
            return kInvalidHidHandle;
        }
        auto dev = std::make_shared<Device>();
        dev->fd = fd;
        if (withWake) {
            dev->wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
            if (dev->wake < 0) {
                fail("eventfd");
                return kInvalidHidHandle;
            }
        }
        return handles_.add(std::move(dev));
    }

    std::shared_ptr<Device> find(HidHandle handle) const { return handles_.find(handle); }

    bool fail(const std::string& call)
    {
        const int error = errno;
        std::lock_guard<std::mutex> lock(mutex_);
        lastError_ = call + ": " + std::strerror(error);
        return false;
    }
    void setError(const std::string& text)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        lastError_ = text;
    }

    static int rawUeventSocket()
    {
        const int fd =
            ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_KOBJECT_UEVENT);
        if (fd < 0)
            return -1;
        sockaddr_nl address{};
        address.nl_family = AF_NETLINK;
        address.nl_groups = 1; // the kernel's own uevents
        if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) < 0) {
            ::close(fd);
            return -1;
        }
        return fd;
    }

    void deliver(const std::string& action, const std::string& devnode, const std::string& devpath)
    {
        HidAttributes ids;
        if (devnode.empty() || !hidlinux::idsFromHidDevpath(devpath, &ids))
            return;
        HidNoticeKind kind;
        if (action == "add")
            kind = HidNoticeKind::Arrival;
        else if (action == "remove")
            kind = HidNoticeKind::Removal;
        else
            return;
        const std::string path = hidlinux::noticePath(devnode, ids);
        for (const NoticeSink& sink : sinks_)
            sink(kind, path);
    }

    void drainNotices()
    {
        if (monitor_) {
            while (udev_device* dev = udev_monitor_receive_device(monitor_)) {
                const char* action = udev_device_get_action(dev);
                const char* node = udev_device_get_devnode(dev);
                const char* devpath = udev_device_get_devpath(dev);
                deliver(action ? action : "", node ? node : "", devpath ? devpath : "");
                udev_device_unref(dev);
            }
            return;
        }
        char buffer[8192];
        for (;;) {
            const ssize_t n = ::recv(notifier_->socket(), buffer, sizeof buffer, 0);
            if (n <= 0)
                return;
            hidlinux::Uevent event;
            if (!hidlinux::parseKernelUevent(buffer, static_cast<std::size_t>(n), &event) ||
                event.subsystem != "hidraw")
                continue;
            deliver(event.action, event.devname.empty() ? "" : "/dev/" + event.devname, event.devpath);
        }
    }

    udev* udev_ = nullptr;
    udev_monitor* monitor_ = nullptr;
    QSocketNotifier* notifier_ = nullptr;
    std::vector<NoticeSink> sinks_;
    HandleTable<Device> handles_;
    mutable std::mutex mutex_; // guards lastError_
    std::string lastError_;
};

} // namespace

HidPlatform* nativeHidPlatform()
{
    // Lives for the whole process, like the link state that uses it.
    static LinuxHidPlatform* platform = new LinuxHidPlatform;
    return platform;
}

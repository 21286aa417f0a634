// An in-process HID bus implementing the platform seam, for the tests and the
// simulator. Interfaces are plugged and unplugged at will; each is backed by
// a DeviceModel (several interfaces may share one, like the interfaces of a
// composite device) or by none (a foreign HID device that never answers).
//
// Usage:
//   VirtualHidBus bus;                       // create on the GUI thread
//   ScopedServices services;
//   services.hid(&bus);                     // until `services` goes
//   auto dev = std::make_shared<DeviceModel>();
//   std::string path = bus.plug(VirtualHidBus::deviceInterface(dev));
//   ... construct MainWindow: it finds the device ...
//   bus.unplug(path);                        // removal notice, reads fail
//   bus.plug(VirtualHidBus::deviceInterface(dev, path));  // same path again
//   bus.inject(path, {report, report});      // input reports from outside
//   dev->faults().replyDelayMs = 50;         // replies come 50 ms late
//   dev->faults().rebootMs = 800;            // restarts after the completion
//
// Notices are delivered on the thread that called registerNotices, through
// its event loop (a queued call), as the platform's would be. The bus is
// thread-safe: reads block on their handle's condition variable, and close() or unplug()
// from another thread ends a blocked read at once with -1. Handles are
// never reused. Touch a DeviceModel's faults and logs from the thread that
// writes feature reports (the GUI thread), or while no write is in flight.
#pragma once

#include "protocol/protocol.h"
#include "usb/backends/virtual/devicemodel.h"
#include "usb/hidplatform.h"

#include <QObject>
#include <QPointer>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

struct VirtualHidInterface {
    std::string path; // empty: the bus makes one from the ids
    std::uint16_t vendorId = protocol::kVendorId;
    std::uint16_t productId = protocol::kProductId;
    std::uint16_t featureLength = protocol::kFeatureReportSize; // declared feature report length
    std::uint16_t inputLength = protocol::kInputReportSize;     // declared input report length
    std::string serial;                                         // the serial number it reports (empty: none)
    std::string location;    // its place on the bus; empty: the bus names one
    bool probeFails = false; // openProbe fails on this interface
    bool readOpenFails = false;
    bool writeOpenFails = false;
    std::shared_ptr<DeviceModel> device; // null: never answers, accepts writes
};

class VirtualHidBus : public QObject, public HidPlatform {
    Q_OBJECT
public:
    using Clock = std::chrono::steady_clock;

    explicit VirtualHidBus(QObject* parent = nullptr);
    ~VirtualHidBus() override;

    // A description of the updater's device (ids 0483/0525) backed by `device`.
    static VirtualHidInterface deviceInterface(std::shared_ptr<DeviceModel> device, std::string path = {},
                                               std::string serial = {});
    // A path in the Windows form: \\?\hid#VID_xxxx&PID_xxxx#<serial>#{guid}.
    static std::string makePath(std::uint16_t vendorId, std::uint16_t productId, int serial);

    // Adds the interface to the bus (at the end of the enumeration order)
    // and posts an arrival notice. Returns its path.
    std::string plug(VirtualHidInterface desc);
    // Removes the interface, fails its open handles and posts a removal
    // notice. False when no such interface is plugged.
    bool unplug(const std::string& path);
    // Queues input reports on every read handle open on the interface, all
    // at once, to be delivered after `delayMs`.
    bool inject(const std::string& path, const std::vector<DeviceModel::Report>& reports, int delayMs = 0);
    // Posts a notice without changing the bus (spurious or foreign notices).
    void postNotice(HidNoticeKind kind, const std::string& path);

    bool isPlugged(const std::string& path) const;
    std::vector<std::string> plugged() const;
    int openHandleCount() const; // handles not yet closed
    int blockedReads() const;    // reads waiting right now
    // Counts of the calls made through the seam, for tests.
    int featureWrites() const;
    void setRegistrationFails(bool fails);

    // A native message the bus's translateNativeMessage understands, so the
    // window's native-event path can be exercised without Windows.
    struct NativeMessage {
        std::uint32_t magic = kNativeMagic;
        HidNoticeKind kind = HidNoticeKind::Arrival;
        std::string path;
    };
    static constexpr std::uint32_t kNativeMagic = 0x56484944; // "VHID"

    // HidPlatform
    std::vector<std::string> enumerate() override;
    HidHandle openProbe(const std::string& path) override;
    bool getAttributes(HidHandle handle, HidAttributes* out) override;
    HidHandle openRead(const std::string& path) override;
    HidHandle openWrite(const std::string& path) override;
    bool getCaps(HidHandle handle, HidCaps* out) override;
    bool getSerialNumber(HidHandle handle, std::string* out) override;
    bool getLocation(HidHandle handle, std::string* out) override;
    bool setFeature(HidHandle handle, const std::uint8_t* data, std::size_t length) override;
    int readInput(HidHandle handle, std::uint8_t* buffer, std::size_t capacity) override;
    void close(HidHandle handle) override;
    bool registerNotices(void* nativeWindow, NoticeSink sink) override;
    bool translateNativeMessage(void* message, HidNoticeKind* kind, std::string* path) override;
    std::string lastError() const override;

private:
    struct Interface {
        VirtualHidInterface desc;
        std::uint64_t id = 0; // distinguishes a replugged interface
    };
    struct Queued {
        Clock::time_point deliverAt;
        DeviceModel::Report report;
    };
    enum class Access { Probe, Read, Write };
    struct Handle {
        std::string path;
        std::uint64_t interfaceId = 0;
        VirtualHidInterface desc;
        Access access = Access::Probe;
        bool closed = false;
        bool gone = false; // its interface was unplugged
        std::deque<Queued> queue;
        std::condition_variable wake; // its reader, under mutex_
    };
    struct Registration {
        QPointer<QObject> context;
        NoticeSink sink;
    };

    std::string add(VirtualHidInterface desc, bool fresh);
    void reboot(const std::shared_ptr<DeviceModel>& device);
    HidHandle open(const std::string& path, Access access);
    Interface* findLocked(const std::string& path);
    const Interface* findLocked(const std::string& path) const;
    std::shared_ptr<Handle> handleLocked(HidHandle h) const;
    void queueLocked(const std::string& path, std::uint64_t interfaceId,
                     const std::vector<DeviceModel::Report>& reports, int delayMs);
    void unplugLocked(const std::string& path);
    void setErrorLocked(std::string text) const;

    mutable std::mutex mutex_;
    std::vector<Interface> interfaces_;
    std::map<HidHandle, std::shared_ptr<Handle>> handles_;
    std::vector<Registration> registrations_;
    HidHandle nextHandle_ = 0x100;
    std::uint64_t nextInterfaceId_ = 1;
    int serial_ = 0;
    int featureWrites_ = 0;
    int blockedReads_ = 0;
    bool registrationFails_ = false;
    mutable std::string lastError_;
};

// One virtual HID device on the kernel's uhid interface: the transport that
// puts a DeviceModel behind a real /dev/hidrawN. Feature reports the host
// writes arrive as UHID_SET_REPORT and go to the model; the model's replies
// go back as UHID_INPUT2 input reports, at once or after the model's reply
// delay. A device without a model accepts every write and never answers.
#pragma once

#include "usb/backends/virtual/devicemodel.h"
#include "usb/backends/virtual/uhid/uhidoptions.h"

#include <chrono>
#include <deque>
#include <optional>
#include <string>
#include <vector>

class UhidDevice {
public:
    using Clock = std::chrono::steady_clock;

    // `serial` becomes the device's HID uniq (hidraw: HIDIOCGRAWUNIQ).
    UhidDevice(UhidDeviceIds ids, std::vector<std::uint8_t> descriptor, DeviceModel* model,
               std::string serial = {});
    ~UhidDevice();
    UhidDevice(const UhidDevice&) = delete;
    UhidDevice& operator=(const UhidDevice&) = delete;

    // Opens /dev/uhid and creates the device (plug). False with a message on failure.
    bool create(std::string* error);
    // Removes the device from the bus and closes the uhid file (unplug).
    // Replies still waiting are dropped.
    void destroy();
    bool present() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    std::string idText() const;

    struct EventResult {
        bool frame = false;  // a feature report reached the model
        bool unplug = false; // the model left the bus: call destroy()
        bool reboot = false; // the model restarts once its replies are out (DeviceModel::Output)
        bool failed = false; // reading the uhid file failed
        std::vector<std::uint8_t> frameBytes;
    };
    // Reads and handles one event from the uhid file (call when it is readable).
    EventResult handleEvent();

    // The moment the next delayed reply is due, if any.
    std::optional<Clock::time_point> nextDue() const;
    // Sends the delayed replies that are due by `now`.
    void sendDue(Clock::time_point now);

private:
    bool write(const void* event, std::size_t size);
    void sendInput(const std::vector<std::uint8_t>& report);
    void replySetReport(std::uint32_t id, std::uint16_t err);

    UhidDeviceIds ids_;
    std::string serial_;
    std::vector<std::uint8_t> descriptor_;
    DeviceModel* model_;
    int fd_ = -1;
    struct Pending {
        Clock::time_point due;
        std::vector<std::uint8_t> report;
    };
    std::deque<Pending> pending_;
};

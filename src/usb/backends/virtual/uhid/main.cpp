// virtual-hid-uhid: the virtual updater device on a real kernel HID stack.
// The same DeviceModel the in-process bus uses, presented through /dev/uhid,
// so the updater's Linux backend finds it as /dev/hidrawN. Used by the guest
// tests; runs wherever the uhid module is loaded (root needed for /dev/uhid).
#include "usb/backends/virtual/devicemodel.h"
#include "usb/backends/virtual/uhid/uhiddevice.h"
#include "usb/backends/virtual/uhid/uhidoptions.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <optional>
#include <poll.h>
#include <string>
#include <sys/signalfd.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = UhidDevice::Clock;

bool writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes)
{
    const std::string tmp = path + ".tmp";
    {
        std::ofstream f(tmp, std::ios::binary | std::ios::trunc);
        f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        if (!f)
            return false;
    }
    return std::rename(tmp.c_str(), path.c_str()) == 0;
}

void dumpImages(const UhidOptions& options, const DeviceModel& model)
{
    if (options.dumpDir.empty())
        return;
    if (!writeFile(options.dumpDir + "/dsp.bin", model.dspImage()) ||
        !writeFile(options.dumpDir + "/arm.bin", model.armImage())) {
        std::fprintf(stderr, "virtual-hid-uhid: cannot write the images to %s\n", options.dumpDir.c_str());
        return;
    }
    std::printf("images dumped dsp=%zu arm=%zu\n", model.dspImage().size(), model.armImage().size());
}

class Program {
public:
    explicit Program(const UhidOptions& options)
        : options_(options)
    {
        model_.setFirmwareNumber(options.firmware);
        model_.setExpectedDspLength(options.expectedDspLength);
        model_.setNextFirmwareNumber(options.nextFirmware);
        model_.faults() = options.faults;
        const auto descriptor =
            vendorReportDescriptor(DeviceModel::kReportId, options.inputBytes, options.featureBytes);
        for (const auto& ids : options.others)
            others_.push_back(std::make_unique<UhidDevice>(ids, descriptor, nullptr));
        device_ = std::make_unique<UhidDevice>(options.ids, descriptor, &model_, options.serial);
    }

    int run()
    {
        sigset_t mask;
        sigemptyset(&mask);
        sigaddset(&mask, SIGTERM);
        sigaddset(&mask, SIGINT);
        sigprocmask(SIG_BLOCK, &mask, nullptr);
        const int sigFd = signalfd(-1, &mask, SFD_CLOEXEC);
        if (sigFd < 0) {
            std::perror("virtual-hid-uhid: signalfd");
            return 1;
        }
        for (auto& other : others_) {
            if (!plug(*other))
                return 1;
        }
        if (!plug(*device_))
            return 1;

        bool stdinOpen = true;
        std::string input;
        for (;;) {
            std::vector<pollfd> fds;
            fds.push_back({sigFd, POLLIN, 0});
            fds.push_back({stdinOpen ? STDIN_FILENO : -1, POLLIN, 0});
            fds.push_back({device_->fd(), POLLIN, 0});
            for (auto& other : others_)
                fds.push_back({other->fd(), POLLIN, 0});

            const int timeout = pollTimeout();
            if (poll(fds.data(), fds.size(), timeout) < 0) {
                if (errno == EINTR)
                    continue;
                std::perror("virtual-hid-uhid: poll");
                return 1;
            }
            const auto now = Clock::now();
            if (fds[0].revents & POLLIN)
                break; // SIGTERM or SIGINT
            if (fds[1].revents & (POLLIN | POLLHUP)) {
                char buf[256];
                const ssize_t n = read(STDIN_FILENO, buf, sizeof buf);
                if (n <= 0) {
                    stdinOpen = false;
                } else {
                    input.append(buf, static_cast<std::size_t>(n));
                    if (!commands(input))
                        break;
                }
            }
            if (fds[2].revents)
                deviceEvent(fds[2].revents);
            for (std::size_t i = 0; i < others_.size(); ++i) {
                if (fds[3 + i].revents & POLLIN)
                    others_[i]->handleEvent();
            }
            if (device_->present())
                device_->sendDue(now);
            if (rebootLeaveAt_ && now >= *rebootLeaveAt_) {
                // The restart after a completion: away, and back on its own.
                rebootLeaveAt_.reset();
                const int replug = options_.replugAfterMs;
                options_.replugAfterMs = -1;
                unplug();
                options_.replugAfterMs = replug;
                if (!model_.faults().noReturn)
                    rebootBackAt_ = Clock::now() + std::chrono::milliseconds(model_.faults().rebootMs);
            }
            if (rebootBackAt_ && now >= *rebootBackAt_) {
                rebootBackAt_.reset();
                if (!device_->present()) { // not plugged back by a command meanwhile
                    model_.reboot();
                    plug(*device_);
                }
            }
            if (replugAt_ && now >= *replugAt_) {
                replugAt_.reset();
                model_.faults().unplugAfterFrames = 0; // one unplug per run
                model_.reset();
                dspEnded_ = false;
                plug(*device_);
            }
        }
        dumpImages(options_, model_);
        device_->destroy();
        for (auto& other : others_)
            other->destroy();
        return 0;
    }

private:
    bool plug(UhidDevice& device)
    {
        std::string error;
        if (!device.create(&error)) {
            std::fprintf(stderr, "virtual-hid-uhid: %s\n", error.c_str());
            return false;
        }
        std::printf("created %s\n", device.idText().c_str());
        return true;
    }

    void unplug()
    {
        if (!device_->present())
            return;
        dumpImages(options_, model_);
        device_->destroy();
        std::printf("destroyed %s\n", device_->idText().c_str());
        if (options_.replugAfterMs >= 0)
            replugAt_ = Clock::now() + std::chrono::milliseconds(options_.replugAfterMs);
    }

    void deviceEvent(short revents)
    {
        if (!(revents & POLLIN))
            return;
        const UhidDevice::EventResult r = device_->handleEvent();
        if (r.failed) {
            std::fprintf(stderr, "virtual-hid-uhid: reading /dev/uhid failed\n");
            device_->destroy();
            return;
        }
        if (!r.frame)
            return;
        if (options_.verbose) {
            std::printf("frame");
            for (auto b : r.frameBytes)
                std::printf(" %02x", b);
            std::printf("\n");
        }
        const auto kind = DeviceModel::classify(r.frameBytes.data(), r.frameBytes.size());
        if (r.reboot) {
            // Leaves once the completion's reply is out and read.
            rebootLeaveAt_ = Clock::now() + std::chrono::milliseconds(model_.faults().replyDelayMs +
                                                                      DeviceModel::kRebootLeaveMs);
        }
        if (r.unplug) {
            unplug();
        } else if (kind == DeviceModel::FrameKind::ArmEnd || model_.dspEnded() != dspEnded_) {
            // A stage is complete: let a watcher see its image.
            dspEnded_ = model_.dspEnded();
            dumpImages(options_, model_);
        }
    }

    // Handles the complete lines of `input`; false on "quit".
    bool commands(std::string& input)
    {
        for (auto nl = input.find('\n'); nl != std::string::npos; nl = input.find('\n')) {
            std::string line = input.substr(0, nl);
            input.erase(0, nl + 1);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            if (line == "quit")
                return false;
            if (line == "unplug") {
                unplug();
            } else if (line == "plug") {
                if (!device_->present()) {
                    replugAt_.reset();
                    rebootLeaveAt_.reset();
                    rebootBackAt_.reset();
                    model_.reset();
                    dspEnded_ = false;
                    plug(*device_);
                }
            } else if (line == "dump") {
                dumpImages(options_, model_);
            } else if (!line.empty()) {
                std::fprintf(stderr, "virtual-hid-uhid: unknown command \"%s\"\n", line.c_str());
            }
        }
        return true;
    }

    // Milliseconds until the next timed action, or -1 for none.
    int pollTimeout() const
    {
        std::optional<Clock::time_point> next = replugAt_;
        for (const auto& at : {rebootLeaveAt_, rebootBackAt_}) {
            if (at && (!next || *at < *next))
                next = at;
        }
        if (device_->present()) {
            if (auto due = device_->nextDue(); due && (!next || *due < *next))
                next = due;
        }
        if (!next)
            return -1;
        const auto ms = std::chrono::ceil<std::chrono::milliseconds>(*next - Clock::now()).count();
        return static_cast<int>(std::max<long long>(0, ms));
    }

    UhidOptions options_;
    DeviceModel model_;
    std::unique_ptr<UhidDevice> device_;
    std::vector<std::unique_ptr<UhidDevice>> others_;
    std::optional<Clock::time_point> replugAt_;
    std::optional<Clock::time_point> rebootLeaveAt_; // a restart after the completion
    std::optional<Clock::time_point> rebootBackAt_;
    bool dspEnded_ = false;
};

} // namespace

int main(int argc, char** argv)
{
    setvbuf(stdout, nullptr, _IOLBF, 0);
    UhidOptions options;
    const UhidParseResult parsed =
        parseUhidOptions(std::vector<std::string>(argv + 1, argv + argc), &options);
    if (parsed.help) {
        std::fputs(uhidUsage().c_str(), stdout);
        return 0;
    }
    if (!parsed.ok) {
        std::fprintf(stderr, "virtual-hid-uhid: %s\n%s", parsed.error.c_str(), uhidUsage().c_str());
        return 2;
    }
    return Program(options).run();
}

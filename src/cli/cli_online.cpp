#include "cli/cli_online.h"

#include "cli/exitstatus.h"
#include "cli/station.h"

#include <QApplication>
#include <QJsonObject>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace onlineroad {

using namespace unattended;

namespace {

// How long past its limit a run that keeps the event loop busy (a
// download blocks it) is given before the process ends it from outside.
constexpr auto kBlockedGrace = std::chrono::seconds(3);

// Ends the process when the event loop cannot: past the time limit, or
// when a second Ctrl-C is not acted on in time. Writes the device's result
// record first; the event loop's thread is blocked meanwhile.
class Watchdog {
public:
    Watchdog(int timeoutMs, const DeviceInfo& device, EventLog* events)
        : device_(device)
        , events_(events)
    {
        const auto start = std::chrono::steady_clock::now();
        thread_ = std::thread([this, timeoutMs, start] {
            std::unique_lock<std::mutex> lock(mutex_);
            std::chrono::steady_clock::time_point secondSignal{};
            for (;;) {
                if (wake_.wait_for(lock, std::chrono::milliseconds(100), [this] { return done_; }))
                    return;
                const auto now = std::chrono::steady_clock::now();
                if (interruptSignals() >= 2 && secondSignal == std::chrono::steady_clock::time_point{})
                    secondSignal = now;
                if (timeoutMs > 0 && now - start > std::chrono::milliseconds(timeoutMs) + kBlockedGrace)
                    end(Timeout, now - start);
                if (secondSignal != std::chrono::steady_clock::time_point{} &&
                    now - secondSignal > kBlockedGrace)
                    end(Interrupted, now - start);
            }
        });
    }
    ~Watchdog()
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            done_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }

private:
    [[noreturn]] void end(int status, std::chrono::steady_clock::duration elapsed)
    {
        std::fprintf(stderr, "firmware-updater-cli: %s; the run is ended while a download holds it\n",
                     qPrintable(statusMeaning(status)));
        ResultFacts facts;
        facts.status = status;
        facts.seconds = std::chrono::duration<double>(elapsed).count();
        if (events_) {
            events_->setContext(QJsonObject{{"path", QString::fromStdString(shownPath(device_.path))},
                                            {"serial", QString::fromStdString(device_.serial)}});
            events_->write(resultRecord(facts));
        }
        std::printf("%s\n", qPrintable(resultLine(device_, status, facts.seconds)));
        std::fflush(stdout);
        std::_Exit(status);
    }

    DeviceInfo device_;
    EventLog* events_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool done_ = false;
    std::thread thread_;
};

} // namespace

std::unique_ptr<QCoreApplication> makeApplication(int& argc, char* argv[])
{
    // No display is needed: the window is never shown on a screen.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    return std::make_unique<QApplication>(argc, argv);
}

int flashOne(HidPlatform& platform, std::uint16_t vendorId, std::uint16_t productId,
             const StationCommand& command, const Options& options, EventLog* events)
{
    DeviceInfo device;
    if (const int status = chooseDevice(platform, vendorId, productId, command, events, &device); status >= 0)
        return status;
    Options run = options;
    // The window's text is diagnostics; standard output keeps the result.
    run.out = stderr;
    Driver* driver = nullptr;
    int interrupts = 0;
    // A station's child leaves Ctrl-C to the station, and ends on its SIGTERM.
    if (!command.child)
        onInterruptSignal([&] {
            if (++interrupts == 1)
                std::fprintf(stderr,
                             "stopping: the running device finishes first (Ctrl-C again to stop it)\n");
            else if (driver)
                driver->stop(Interrupted);
        });
    const Watchdog watchdog(options.timeoutMs, device, events->enabled() ? events : nullptr);
    const auto start = std::chrono::steady_clock::now();
    const int status = flashDevice(device, run, events->enabled() ? events : nullptr,
                                   command.child || !command.selection.any(), [&](Driver* d) { driver = d; });
    if (!command.child)
        onInterruptSignal({});
    if (!command.json)
        std::printf("%s\n",
                    qPrintable(resultLine(
                        device, status,
                        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count())));
    std::fflush(stdout);
    return status;
}

} // namespace onlineroad

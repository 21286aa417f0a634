#include "usb/linkstate.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

LinkHandles processLink;
HidHandle& hReadHandle = processLink.hReadHandle;
HidHandle& hWriteHandle = processLink.hWriteHandle;
HidCaps& hidCaps = processLink.hidCaps;
USBThread*& currentReader = processLink.currentReader;
bool& sendInProgress = processLink.sendInProgress;

std::atomic<HidHandle> readerHandle{kInvalidHidHandle};
std::atomic<bool> readerEnabled{false};

namespace {
std::mutex& linkMutex()
{
    static std::mutex m;
    return m;
}

std::condition_variable& linkChanged()
{
    static std::condition_variable c;
    return c;
}
} // namespace

void wakeReaders()
{
    // Taking the lock orders this wake-up after a waiter's check of its
    // condition, so a waiter cannot check, miss the change and then sleep.
    std::lock_guard<std::mutex> lock(linkMutex());
    linkChanged().notify_all();
}

bool waitForLinkChange(const std::function<bool()>& ready, int timeoutMs)
{
    std::unique_lock<std::mutex> lock(linkMutex());
    if (timeoutMs < 0) {
        linkChanged().wait(lock, ready);
        return true;
    }
    return linkChanged().wait_for(lock, std::chrono::milliseconds(timeoutMs), ready);
}

void resetLinkState()
{
    processLink = LinkHandles{};
    readerHandle.store(kInvalidHidHandle);
    readerEnabled.store(false);
    wakeReaders();
}

// The handles of a native HID backend: numbers of our own, counted up and
// never reused, each holding an open device by shared pointer. A read in
// progress holds its own reference, so a close() from another thread can
// drop the number at once while the device's system handles stay valid
// until that read has returned. Qt-free; used by the Linux and Windows
// backends.
#pragma once

#include "usb/hidplatform.h"

#include <map>
#include <memory>

// A plain lock that also exists where the C++ library has no std::mutex
// (MinGW with Win32 threads).
#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
class HidLock {
public:
    void lock() { AcquireSRWLockExclusive(&lock_); }
    void unlock() { ReleaseSRWLockExclusive(&lock_); }

private:
    SRWLOCK lock_ = SRWLOCK_INIT;
};
#else
#include <mutex>
using HidLock = std::mutex;
#endif

class HidLockGuard {
public:
    explicit HidLockGuard(HidLock& lock)
        : lock_(lock)
    {
        lock_.lock();
    }
    ~HidLockGuard() { lock_.unlock(); }
    HidLockGuard(const HidLockGuard&) = delete;
    HidLockGuard& operator=(const HidLockGuard&) = delete;

private:
    HidLock& lock_;
};

template <typename Device> class HandleTable {
public:
    HidHandle add(std::shared_ptr<Device> device)
    {
        HidLockGuard guard(lock_);
        const HidHandle h = next_++;
        devices_[h] = std::move(device);
        return h;
    }

    std::shared_ptr<Device> find(HidHandle h) const
    {
        HidLockGuard guard(lock_);
        auto it = devices_.find(h);
        return it == devices_.end() ? nullptr : it->second;
    }

    // Removes the number; null when it was not open.
    std::shared_ptr<Device> take(HidHandle h)
    {
        HidLockGuard guard(lock_);
        auto it = devices_.find(h);
        if (it == devices_.end())
            return nullptr;
        std::shared_ptr<Device> device = std::move(it->second);
        devices_.erase(it);
        return device;
    }

private:
    mutable HidLock lock_;
    std::map<HidHandle, std::shared_ptr<Device>> devices_;
    HidHandle next_ = 1;
};

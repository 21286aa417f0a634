// Process-wide state of the device link. It lives for the whole process and
// is shared by the main window (GUI thread) and the reader thread.
#pragma once

#include "usb/hidplatform.h"

#include <atomic>
#include <functional>

class USBThread;

// One device's link: its handles, capabilities, the reader reading it and
// the send latch. A session holds one (session/link.h); the window's
// session uses the process-wide one below, whose members are the names the
// window and its tests know. Written and read on the owner's thread only.
struct LinkHandles {
    HidHandle hReadHandle = kInvalidHidHandle;  // device opened for reading input reports
    HidHandle hWriteHandle = kInvalidHidHandle; // device opened for writing feature reports
    HidCaps hidCaps;                            // capabilities of the open device
    USBThread* currentReader = nullptr;         // the reader in use, or null
    bool sendInProgress = false;                // the send latch
};

// The process-wide link (the window's), and its members by name.
extern LinkHandles processLink;
extern HidHandle& hReadHandle;
extern HidHandle& hWriteHandle;
extern HidCaps& hidCaps;
extern USBThread*& currentReader;
extern bool& sendInProgress;

// Shared with the reader thread: single atomic values, no lock.
extern std::atomic<HidHandle> readerHandle; // the reader's copy of hReadHandle
extern std::atomic<bool> readerEnabled;     // reads may be issued

// Wakes a reader that waits for readerEnabled/readerHandle/its run flag to
// change. Call after writing any of them.
void wakeReaders();

// Blocks the calling thread until `ready()` holds. `ready` is checked under
// the lock wakeReaders() takes, so a change made before wakeReaders() is
// never missed. With timeoutMs >= 0 it gives up after that long. Returns
// the last value of `ready()`.
bool waitForLinkChange(const std::function<bool()>& ready, int timeoutMs = -1);

// Puts the whole link state back to its start-up values (tests only).
void resetLinkState();

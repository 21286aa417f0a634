#include "usb/linkstate.h"

HidHandle hReadHandle = kInvalidHidHandle;
HidHandle hWriteHandle = kInvalidHidHandle;
HidCaps hidCaps;
USBThread* currentReader = nullptr;
bool sendInProgress = false;

std::atomic<HidHandle> readerHandle{kInvalidHidHandle};
std::atomic<bool> readerEnabled{false};

void resetLinkState()
{
    hReadHandle = kInvalidHidHandle;
    hWriteHandle = kInvalidHidHandle;
    hidCaps = HidCaps{};
    currentReader = nullptr;
    sendInProgress = false;
    readerHandle.store(kInvalidHidHandle);
    readerEnabled.store(false);
    wakeReaders();
}

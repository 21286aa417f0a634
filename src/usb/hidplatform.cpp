#include "usb/hidplatform.h"

#include <atomic>

namespace {
std::atomic<HidPlatform*> g_platform{nullptr};
}

HidPlatform* hidPlatform()
{
    return g_platform.load();
}

void setHidPlatform(HidPlatform* platform)
{
    g_platform.store(platform);
}

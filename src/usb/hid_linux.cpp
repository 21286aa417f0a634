#include "usb/hidplatform.h"
HidPlatform* nativeHidPlatform() { return nullptr; }

#include "usb/hidplatform.h"

#include "core/services.h"

HidPlatform* hidPlatform()
{
    return services::hid();
}

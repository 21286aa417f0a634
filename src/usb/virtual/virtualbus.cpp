#include "usb/hidplatform.h"

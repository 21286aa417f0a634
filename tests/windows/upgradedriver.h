// A whole upgrade through the HID seam without Qt or a window, for the
// Windows guest: the frames and the pacing the updater uses (windows of 25
// data frames opened by the device's acknowledgements, one frame per 2 ms
// tick, a stage given up after 2500 ticks without sending), so a run through
// the Windows backend writes the same bytes in the same order.
//
// The frame bytes are written out here rather than taken from
// src/upgrade/frames.h, which builds its data frames from a QByteArray.
#pragma once

#include "usb/hidplatform.h"

#include <cstdint>
#include <vector>

namespace upgradedriver {

// The updater's numbered errors a run can end in (0: completed).
enum Result {
    Completed = 0,
    StartTimeout = 1, // the start command was never acknowledged
    DspTimeout = 2,   // the DSP stage sent nothing for 2500 ticks
    EndTimeout = 4,   // a stage's end frame was never answered
    ArmTimeout = 5,   // the ARM stage sent nothing for 2500 ticks
};

struct Run {
    Result result = Completed;
    int framesWritten = 0; // feature writes that succeeded
    int writesFailed = 0;
    int readFailures = 0; // reads that ended with -1 (device gone)
};

// Sends `dsp` and `arm` (multiples of 8 bytes) through the opened handles:
// version query, start, DSP handshake, DSP data, DSP end, ARM handshake, ARM
// data, ARM end. Reads replies on a thread of its own; `read` is closed
// before it returns.
Run upgrade(HidPlatform& hid, HidHandle read, HidHandle write, const std::vector<std::uint8_t>& dsp,
            const std::vector<std::uint8_t>& arm);

} // namespace upgradedriver

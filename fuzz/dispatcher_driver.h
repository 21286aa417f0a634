// Drives the main window's upgrade engine the way the device and the timers
// do, from one fuzz input, and checks every frame the virtual device records
// against what the upgrade's state allows. Shared by the fuzz target and the
// regression test that replays its findings.
//
// An input is read as:
//   byte 0: bits 0-2 the state to reach first by a real run of the upgrade
//           (0 idle, 1 awaiting start, 2 DSP stage, 3 ARM stage,
//           4 finishing, after the completion box was declined);
//           bit 3 Chinese notices; bit 4 accept the completion box
//   byte 1, 2: DSP and ARM image length in blocks of 8 (1 to 64 each)
//   byte 3, 4: device fault installed after that (kind, count)
//   then operations: input reports (known replies, raw bytes, odd events),
//   ticks of the three timers, singly or in long runs, clicks on the start
//   button, files of any content picked with the file button. While a message
//   box is open, the next operation runs inside it, as the box's event loop
//   would run it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace dispatcherfuzz {

// Once per process: the offscreen application and the box and exit hooks.
void setUp(const char* program);

// One input on a fresh bus, device and window. Aborts with a message when
// the window sends a frame its state does not allow.
void run(const std::uint8_t* data, std::size_t size);

} // namespace dispatcherfuzz

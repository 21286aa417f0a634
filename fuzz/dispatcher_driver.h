// Drives the upgrade engine (upgrade/engine.h) the way the device, the
// timers and the window's buttons do, from one fuzz input, and checks every
// frame it sends against what the upgrade's state allows. No window: the
// timers, the buttons and the device link are played by the driver. Shared
// by the fuzz target and the regression test that replays its findings.
//
// An input is read as:
//   byte 0: bits 0-2 the state to reach first by a real run of the upgrade
//           (0 idle, 1 awaiting start, 2 DSP stage, 3 ARM stage,
//           4 finishing, after the completion box was declined);
//           bit 4 accept the completion box
//   byte 1, 2: DSP and ARM image length in blocks of 8 (1 to 64 each)
//   byte 3, 4: kind 1 or 2: from the count-th send after that on, writes
//           fail, reach no device and each shows a box
//   then operations: input reports (known replies, raw bytes, odd events),
//   ticks of the three timers, singly or in long runs, clicks on the start
//   button, files of any content picked with the file button. While a message
//   box is open, the next operation runs inside it, as the box's event loop
//   would run it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace dispatcherfuzz {

// Once per process: the application object.
void setUp(const char* program);

// One input on a fresh engine. Aborts with a message when the engine sends
// a frame its state does not allow.
void run(const std::uint8_t* data, std::size_t size);

} // namespace dispatcherfuzz

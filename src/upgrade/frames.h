// The upgrade protocol's bytes, declared once: the command frames the host
// writes (11-byte feature reports, report id 0x80 first, unused bytes zero)
// and the decoding of the device's replies (20-byte input reports).
// Standard C++ only.
#pragma once

#include "protocol/protocol.h"

#include <array>
#include <cstdint>

namespace frames {

using protocol::ByteView;

constexpr int kFrameSize = int(protocol::kFeatureReportSize);
constexpr std::uint8_t kReportId = protocol::kReportId;
constexpr int kDataBytes = 8; // image bytes per data frame, in bytes 2..9

// Pacing of the transfer: the device acknowledges every window of 25 data
// frames; a stage gives up after 2500 ticks of its 2 ms timer without
// sending, the start command after 10 ticks of 1 s without an answer.
constexpr int kWindowFrames = 25;
constexpr int kAckTimeoutTicks = 2500;
constexpr int kStartTimeoutTicks = 10;

using Frame = std::array<std::uint8_t, kFrameSize>;

// Command codes (byte 1) and their fixed arguments.
constexpr std::uint8_t kVersionQuery = 0x03;
constexpr std::uint8_t kControl = 0x0C; // start and DSP handshake; also a reply code
constexpr std::uint8_t kDspData = 0x0D; // DSP data and DSP end
constexpr std::uint8_t kArmData = 0x0E;
constexpr std::uint8_t kArmControl = 0x0F; // ARM handshake and ARM end; also a reply code

// Reply codes (byte 1) and sub-codes (byte 2).
constexpr std::uint8_t kVersionReply = 0x0A;
constexpr std::uint8_t kDspAckSub = 0x56;
constexpr std::uint8_t kArmAckSub = 0x54;
constexpr std::uint8_t kStartAckSub = 0x55;
constexpr std::uint8_t kFinishSub = 0x59;

Frame versionQuery(); // 80 03 01
Frame start();        // 80 0C 54 02
Frame dspHandshake(); // 80 0C 23 01
Frame dspEnd();       // 80 0D 21 03
Frame armHandshake(); // 80 0F 25 01
Frame armEnd();       // 80 0F 01 03

// A data frame carrying up to `count` (at most 8) bytes of `image` from
// `offset` on. Bytes that would lie outside `image` are left zero, so no
// header value can make a frame read past the image.
Frame dspData(ByteView image, std::int64_t offset, int count = kDataBytes);
Frame armData(ByteView image, std::int64_t offset, int count = kDataBytes);

enum class Reply {
    Ignored,
    Version,    // 0A: firmware number in bytes 6 (low) and 7 (high)
    StartAck,   // 0C 55
    DspAck,     // 0C 56
    ArmAck,     // 0C 54 or 0F 54
    Completion, // 0C 59
};

// What an input report (report id first) means to the upgrade. A report too
// short to hold what its code needs is ignored.
Reply decodeReply(ByteView report);

// The firmware number of a version reply; 0 when the report is too short.
std::uint16_t replyVersion(ByteView report);

} // namespace frames

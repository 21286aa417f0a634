// The firmware image file: a 16-byte big-endian header followed by the DSP
// image and the ARM image. Everything here is plain data handling that never
// touches the device or the window, so the window's slots, the packing tool
// and the tests share one reading of the format. Standard C++ only.
#pragma once

#include "protocol/protocol.h"

#include <cstdint>

namespace fwimage {

using protocol::Bytes;
using protocol::ByteView;

constexpr int kHeaderSize = 16;
constexpr int kBlockSize = 8;

struct Header {
    std::uint32_t dspLength = 0;
    std::uint32_t version = 0;
    std::uint32_t armLength = 0;
};

// Reads the header of `file`. False (and `out` untouched) when the file is
// shorter than the 16-byte header.
bool parseHeader(ByteView file, Header* out);

// 16 + dspLength + armLength equals the file size, summed in 32-bit
// unsigned arithmetic as the device's own tools do.
bool isWellFormed(const Header& header, std::int64_t fileSize);

enum class Check {
    Ok,
    TooShort,       // no complete header
    SizeMismatch,   // the header's lengths do not add up to the file size
    LengthTooLarge, // a length larger than the file (the 32-bit sum wrapped)
    EmptyImage,     // the DSP or the ARM image is empty
    PartialBlock,   // a length is not a whole number of 8-byte blocks
};

// Everything the transfer needs of a file before a single frame is built
// from it: a complete header, lengths that add up, two non-empty images made
// of whole 8-byte blocks.
Check checkImage(ByteView file);
const char* checkName(Check check);

// The device-family rule: 1 when the file suits the device, -1 when it does
// not, -2 when the device's version belongs to no family known for
// `productId`.
int familyRule(int productId, std::uint16_t deviceVersion, std::int32_t fileVersion);

// Name filter of the open-file dialog for `productId`.
const char* fileFilter(int productId);

// Builds an image file from its two images.
Bytes pack(ByteView dsp, ByteView arm, std::uint32_t version);

// `size` deterministic pseudo-random bytes; the same seed gives the same bytes.
Bytes sampleBytes(std::size_t size, std::uint32_t seed);

// The DSP and ARM images of a well-formed file (empty when it is not).
Bytes dspImage(ByteView file);
Bytes armImage(ByteView file);

} // namespace fwimage

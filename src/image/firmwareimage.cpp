#include "image/firmwareimage.h"

#include <algorithm>

namespace fwimage {

namespace {

std::uint32_t bigEndianAt(ByteView data, std::size_t offset)
{
    const std::uint8_t* p = data.data() + offset;
    return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) |
           std::uint32_t(p[3]);
}

void appendBigEndian(Bytes* out, std::uint32_t value)
{
    out->insert(out->end(), {std::uint8_t(value >> 24), std::uint8_t(value >> 16), std::uint8_t(value >> 8),
                             std::uint8_t(value)});
}

bool inRange(std::int64_t value, std::int64_t low, std::int64_t high)
{
    return value >= low && value <= high;
}

// Index of the 200-version family of the wheel bases that holds `version`,
// or -1 when none does.
int wheelFamily(std::int64_t version)
{
    if (!inRange(version, 3200, 3999))
        return -1;
    return int((version - 3200) / 200);
}

} // namespace

bool parseHeader(ByteView file, Header* out)
{
    if (file.size() < kHeaderSize)
        return false;
    out->dspLength = bigEndianAt(file, 0);
    out->version = bigEndianAt(file, 4);
    out->armLength = bigEndianAt(file, 8);
    return true;
}

bool isWellFormed(const Header& header, std::int64_t fileSize)
{
    const std::uint32_t total = std::uint32_t(kHeaderSize) + header.dspLength + header.armLength;
    return std::int64_t(total) == fileSize;
}

Check checkImage(ByteView file)
{
    Header h;
    if (!parseHeader(file, &h))
        return Check::TooShort;
    if (!isWellFormed(h, std::int64_t(file.size())))
        return Check::SizeMismatch;
    // A huge length can wrap the 32-bit sum back onto the file size; such a
    // header would point the transfer far outside the file.
    if (h.dspLength > std::uint32_t(file.size()) || h.armLength > std::uint32_t(file.size()))
        return Check::LengthTooLarge;
    // Each stage ends with its last whole block: an empty image has no last
    // block, and a partial one would be sent with bytes of the next image or
    // from beyond the file.
    if (h.dspLength == 0 || h.armLength == 0)
        return Check::EmptyImage;
    if (h.dspLength % kBlockSize != 0 || h.armLength % kBlockSize != 0)
        return Check::PartialBlock;
    return Check::Ok;
}

const char* checkName(Check check)
{
    switch (check) {
    case Check::Ok:
        return "ok";
    case Check::TooShort:
        return "shorter than the 16-byte header";
    case Check::SizeMismatch:
        return "header lengths do not add up to the file size";
    case Check::LengthTooLarge:
        return "a header length is larger than the file";
    case Check::EmptyImage:
        return "the DSP or the ARM image is empty";
    case Check::PartialBlock:
        return "an image is not a whole number of 8-byte blocks";
    }
    return "unknown";
}

int familyRule(int productId, std::uint16_t deviceVersion, std::int32_t fileVersion)
{
    switch (productId) {
    case 0x0522:
        if (inRange(deviceVersion, 4000, 4999) || deviceVersion == 0)
            return inRange(fileVersion, 4000, 4999) ? 1 : -1;
        return -2;
    case 0x0524: {
        const int family = wheelFamily(deviceVersion);
        if (family < 0)
            return -2;
        return wheelFamily(fileVersion) == family ? 1 : -1;
    }
    case 0x0526:
        return inRange(deviceVersion, 1200, 1299) ? 1 : -1;
    default:
        return 1;
    }
}

const char* fileFilter(int productId)
{
    if (productId == 0x0523 || productId == 0x0524)
        return "*.bin";
    return "*.fw";
}

Bytes pack(ByteView dsp, ByteView arm, std::uint32_t version)
{
    Bytes out;
    out.reserve(kHeaderSize + dsp.size() + arm.size());
    appendBigEndian(&out, std::uint32_t(dsp.size()));
    appendBigEndian(&out, version);
    appendBigEndian(&out, std::uint32_t(arm.size()));
    appendBigEndian(&out, 0);
    out.insert(out.end(), dsp.begin(), dsp.end());
    out.insert(out.end(), arm.begin(), arm.end());
    return out;
}

Bytes sampleBytes(std::size_t size, std::uint32_t seed)
{
    // xorshift32: cheap, deterministic, and never stuck at zero.
    std::uint32_t x = seed ? seed : 0x9E3779B9u;
    Bytes out(size);
    for (std::uint8_t& b : out) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = std::uint8_t(x >> 24);
    }
    return out;
}

namespace {
// The header of a file whose lengths add up and lie inside it.
bool splitHeader(ByteView file, Header* h)
{
    return parseHeader(file, h) && isWellFormed(*h, std::int64_t(file.size())) &&
           h->dspLength <= std::uint32_t(file.size());
}

// Where the ARM image starts; never past the end of the file, also when the
// header's 32-bit sum wrapped.
std::size_t dspEnd(ByteView file, const Header& h)
{
    return std::min<std::size_t>(file.size(), std::size_t(kHeaderSize) + h.dspLength);
}
} // namespace

Bytes dspImage(ByteView file)
{
    Header h;
    if (!splitHeader(file, &h))
        return {};
    return Bytes(file.begin() + kHeaderSize, file.begin() + dspEnd(file, h));
}

Bytes armImage(ByteView file)
{
    Header h;
    if (!splitHeader(file, &h))
        return {};
    return Bytes(file.begin() + dspEnd(file, h), file.end());
}

} // namespace fwimage

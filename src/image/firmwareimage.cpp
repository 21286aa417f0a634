#include "image/firmwareimage.h"

namespace fwimage {

namespace {

std::uint32_t bigEndianAt(const QByteArray& data, int offset)
{
    const auto* p = reinterpret_cast<const unsigned char*>(data.constData()) + offset;
    return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) |
           std::uint32_t(p[3]);
}

void appendBigEndian(QByteArray* out, std::uint32_t value)
{
    out->append(char(value >> 24));
    out->append(char(value >> 16));
    out->append(char(value >> 8));
    out->append(char(value));
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

bool parseHeader(const QByteArray& file, Header* out)
{
    if (file.size() < kHeaderSize)
        return false;
    out->dspLength = bigEndianAt(file, 0);
    out->version = bigEndianAt(file, 4);
    out->armLength = bigEndianAt(file, 8);
    return true;
}

bool isWellFormed(const Header& header, qint64 fileSize)
{
    const std::uint32_t total = std::uint32_t(kHeaderSize) + header.dspLength + header.armLength;
    return qint64(total) == fileSize;
}

Check checkImage(const QByteArray& file)
{
    Header h;
    if (!parseHeader(file, &h))
        return Check::TooShort;
    if (!isWellFormed(h, file.size()))
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

QString fileFilter(int productId)
{
    if (productId == 0x0523 || productId == 0x0524)
        return QStringLiteral("*.bin");
    return QStringLiteral("*.fw");
}

QByteArray pack(const QByteArray& dsp, const QByteArray& arm, std::uint32_t version)
{
    QByteArray out;
    out.reserve(kHeaderSize + dsp.size() + arm.size());
    appendBigEndian(&out, std::uint32_t(dsp.size()));
    appendBigEndian(&out, version);
    appendBigEndian(&out, std::uint32_t(arm.size()));
    appendBigEndian(&out, 0);
    out.append(dsp);
    out.append(arm);
    return out;
}

QByteArray sampleBytes(int size, std::uint32_t seed)
{
    // xorshift32: cheap, deterministic, and never stuck at zero.
    std::uint32_t x = seed ? seed : 0x9E3779B9u;
    QByteArray out(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        out[i] = char(x >> 24);
    }
    return out;
}

namespace {
// The header of a file whose lengths add up and lie inside it.
bool splitHeader(const QByteArray& file, Header* h)
{
    return parseHeader(file, h) && isWellFormed(*h, file.size()) &&
           h->dspLength <= std::uint32_t(file.size());
}
} // namespace

QByteArray dspImage(const QByteArray& file)
{
    Header h;
    return splitHeader(file, &h) ? file.mid(kHeaderSize, int(h.dspLength)) : QByteArray();
}

QByteArray armImage(const QByteArray& file)
{
    Header h;
    return splitHeader(file, &h) ? file.mid(kHeaderSize + int(h.dspLength)) : QByteArray();
}

} // namespace fwimage

// The image file: header, format checks, the split into the two images, the
// data frames built from it and the device-family rule.
//
// Input: two bytes of device version (little-endian), one byte choosing the
// product id, then the file. The file is handed over without a copy, so a
// read one byte past its end is caught.
#include "fuzzcheck.h"
#include "image/firmwareimage.h"
#include "upgrade/frames.h"

#include <cstdint>
#include <cstring>
#include <string>

namespace {

std::uint32_t be32(const std::uint8_t* p)
{
    return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) | p[3];
}

bool within(std::int64_t v, std::int64_t lo, std::int64_t hi)
{
    return v >= lo && v <= hi;
}

// The family rule as the product table states it, written out case by case.
int expectedFamily(int productId, std::uint16_t device, std::int32_t file)
{
    if (productId == 0x0522) {
        if (!within(device, 4000, 4999) && device != 0)
            return -2;
        return within(file, 4000, 4999) ? 1 : -1;
    }
    if (productId == 0x0524) {
        static const int starts[] = {3200, 3400, 3600, 3800};
        for (int s : starts) {
            if (within(device, s, s + 199))
                return within(file, s, s + 199) ? 1 : -1;
        }
        return -2;
    }
    if (productId == 0x0526)
        return within(device, 1200, 1299) ? 1 : -1;
    return 1;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 3)
        return 0;
    const std::uint16_t deviceVersion = std::uint16_t(data[0] | (data[1] << 8));
    const int productId = 0x0520 + data[2] % 8;
    const std::uint8_t* bytes = data + 3;
    const int n = int(size - 3);
    const protocol::ByteView file(bytes, std::size_t(n));

    fwimage::Header h;
    const bool parsed = fwimage::parseHeader(file, &h);
    FUZZ_CHECK(parsed == (n >= fwimage::kHeaderSize));

    // What the transfer needs, in exact arithmetic: a header, lengths that
    // add up to the file, two non-empty images of whole 8-byte blocks.
    bool usable = false;
    std::uint64_t dsp = 0, arm = 0;
    if (parsed) {
        dsp = be32(bytes);
        arm = be32(bytes + 8);
        FUZZ_CHECK(h.dspLength == dsp && h.armLength == arm && h.version == be32(bytes + 4));
        usable = 16 + dsp + arm == std::uint64_t(n) && dsp > 0 && arm > 0 && dsp % 8 == 0 && arm % 8 == 0;
    }
    const fwimage::Check check = fwimage::checkImage(file);
    FUZZ_CHECK((check == fwimage::Check::Ok) == usable);
    FUZZ_CHECK(fwimage::checkName(check) != nullptr);

    const protocol::Bytes dspPart = fwimage::dspImage(file);
    const protocol::Bytes armPart = fwimage::armImage(file);
    if (usable) {
        FUZZ_CHECK(std::uint64_t(dspPart.size()) == dsp && std::uint64_t(armPart.size()) == arm);
        FUZZ_CHECK(std::memcmp(dspPart.data(), bytes + 16, dsp) == 0);
        FUZZ_CHECK(std::memcmp(armPart.data(), bytes + 16 + dsp, arm) == 0);
        // Every block of both stages, as the transfer frames them.
        const int dspEnd = int(16 + dsp);
        for (int at = 16; at < n; at += 8) {
            const frames::Frame f = at < dspEnd ? frames::dspData(file, at) : frames::armData(file, at);
            FUZZ_CHECK(f[0] == 0x80 && f[1] == (at < dspEnd ? 0x0D : 0x0E) && f[10] == 0);
            FUZZ_CHECK(std::memcmp(f.data() + 2, bytes + at, 8) == 0);
        }
    }
    // Offsets a hostile header can name: inside, at the end, far outside.
    const int offsets[] = {int(h.dspLength + 16), int(h.armLength), n - 1, n, n + 7, -8};
    for (int at : offsets) {
        const frames::Frame f = frames::dspData(file, at);
        for (int i = 0; i < 8; ++i) {
            const bool inside = at >= 0 && std::int64_t(at) + i < n;
            FUZZ_CHECK(f[2 + i] == (inside ? bytes[at + i] : 0));
        }
    }

    const std::int32_t fileVersion = std::int32_t(h.version);
    FUZZ_CHECK(fwimage::familyRule(productId, deviceVersion, fileVersion) ==
               expectedFamily(productId, deviceVersion, fileVersion));
    const std::string filter = fwimage::fileFilter(productId);
    FUZZ_CHECK(filter == ((productId == 0x0523 || productId == 0x0524) ? "*.bin" : "*.fw"));
    return 0;
}

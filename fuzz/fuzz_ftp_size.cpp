// The size of a 213 reply, as GetFileSize reads it from the control buffer.
#include "fuzzcheck.h"
#include "online/ftpclient.h"
#include "online/ftpreply.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size >= FtpClient::kBufferSize)
        return 0;
    std::unique_ptr<char[]> buffer(new char[size]);
    std::memcpy(buffer.get(), data, size);
    const std::int32_t value = ftpreply::sizeValue(buffer.get(), buffer.get() + size);

    // The digits right after the first blank; a number past a signed 32-bit
    // size is -1, no digits give 0.
    const std::string text(buffer.get(), size);
    const std::size_t blank = text.find(' ');
    std::string digits;
    if (blank != std::string::npos) {
        for (std::size_t i = blank + 1; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
            digits += text[i];
    }
    const std::size_t first = digits.find_first_not_of('0');
    const std::string significant = first == std::string::npos ? "" : digits.substr(first);
    if (significant.empty()) {
        FUZZ_CHECK(value == 0);
    } else if (significant.size() > 10 || std::stoll(significant) > INT32_MAX) {
        FUZZ_CHECK(value == -1);
    } else {
        FUZZ_CHECK(value == std::stoll(significant));
    }
    return 0;
}

// The data port of a 227 reply (ParsePassivePort's reading of the control
// buffer), checked against the port computed with unbounded numbers.
#include "fuzzcheck.h"
#include "online/ftpclient.h"
#include "online/ftpreply.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

namespace {

// The two numbers after the fourth and the fifth comma, digits only, up to
// ")" or a sixth comma; their value modulo 2^16 is all that matters.
std::uint16_t expectedPort(const std::string& text)
{
    const std::size_t stop = text.find(')');
    const std::string scan = text.substr(0, stop);
    std::uint64_t parts[2] = {0, 0};
    int commas = 0;
    for (char c : scan) {
        if (c == ',') {
            if (++commas == 6)
                break;
        } else if (c >= '0' && c <= '9' && (commas == 4 || commas == 5)) {
            std::uint64_t& part = parts[commas - 4];
            part = (part * 10 + std::uint64_t(c - '0')) % 65536;
        }
    }
    return std::uint16_t((parts[0] * 256 + parts[1]) % 65536);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size >= FtpClient::kBufferSize)
        return 0;
    std::unique_ptr<char[]> buffer(new char[size]);
    std::memcpy(buffer.get(), data, size);
    const std::uint16_t port = ftpreply::passivePort(buffer.get(), buffer.get() + size);
    FUZZ_CHECK(port == expectedPort(std::string(buffer.get(), size)));
    return 0;
}

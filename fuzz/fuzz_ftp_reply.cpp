// The FTP reply reader's decisions on one receive: the reply code and the
// completion reply "226" carried over behind another reply.
//
// The client reads a reply with one receive into its 1000-byte control
// buffer and refuses a receive that fills it, so what reaches these readers
// is at most 999 bytes followed by a zero byte. The input is laid out the
// same way in a buffer of exactly that size.
#include "fuzzcheck.h"
#include "online/ftpclient.h"
#include "online/ftpreply.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

namespace {

// The code of a reply that starts with a run of digits ended by a blank, a
// "-" or the end of the text; -1 when the text does not start that way.
long long digitCode(const std::string& text)
{
    std::size_t end = text.find_first_of(" -");
    if (end == std::string::npos)
        end = text.size();
    if (end == 0 || end > 18)
        return -1;
    long long v = 0;
    for (std::size_t i = 0; i < end; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return -1;
        v = v * 10 + (text[i] - '0');
    }
    return v;
}

void checkReply(const char* begin, const char* end)
{
    const std::string text(begin, end);
    const int code = ftpreply::replyCode(begin, end);
    FUZZ_CHECK(code >= -999999 && code <= 999999);
    if (text.empty())
        FUZZ_CHECK(code == -1);
    const long long digits = digitCode(text);
    if (digits >= 0)
        FUZZ_CHECK(code == (digits > 999999 ? -1 : digits));

    const char* carried = ftpreply::carriedCompletion(begin, end);
    const std::size_t at = text.find("\r\n226");
    if (at == std::string::npos) {
        FUZZ_CHECK(carried == nullptr);
    } else {
        FUZZ_CHECK(carried == begin + at + 2);
        // What the next read hands out starts with its own code.
        FUZZ_CHECK(end - carried >= 3 && std::memcmp(carried, "226", 3) == 0);
        const int next = ftpreply::replyCode(carried, end);
        if (digitCode(std::string(carried, end)) == 226)
            FUZZ_CHECK(next == 226);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // A receive of the whole buffer never gets here: the reader refuses it.
    if (size >= FtpClient::kBufferSize)
        return 0;
    std::unique_ptr<char[]> buffer(new char[size + 1]);
    std::memcpy(buffer.get(), data, size);
    buffer[size] = '\0';
    checkReply(buffer.get(), buffer.get() + size);
    return 0;
}

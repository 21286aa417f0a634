// The FTP reply reader's decisions on the bytes received so far: the reply
// code and where the first whole reply (single or multi-line) ends.
//
// The client gathers a reply in its 1000-byte control buffer and refuses one
// that does not fit, so what reaches these readers is at most 999 bytes
// followed by a zero byte. The input is laid out the same way in a buffer of
// exactly that size.
#include "fuzzcheck.h"
#include "online/ftpclient.h"
#include "online/ftpreply.h"

#include <cctype>
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

    // A model of the standard's rule: line by line, the first line alone
    // unless it starts "ddd-", then up to the first later "ddd " line.
    const std::size_t length = ftpreply::replyLength(begin, end);
    std::size_t expected = 0;
    const bool multi = text.size() >= 4 && std::isdigit(static_cast<unsigned char>(text[0])) &&
                       std::isdigit(static_cast<unsigned char>(text[1])) &&
                       std::isdigit(static_cast<unsigned char>(text[2])) && text[3] == '-';
    for (std::size_t at = 0, lf; (lf = text.find('\n', at)) != std::string::npos; at = lf + 1) {
        if (!multi ||
            (at > 0 && text.compare(at, 3, text, 0, 3) == 0 && lf - at >= 3 && text[at + 3] == ' ')) {
            expected = lf + 1;
            break;
        }
    }
    FUZZ_CHECK(length == expected);
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

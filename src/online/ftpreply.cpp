#include "online/ftpreply.h"

#include <cstring>

namespace ftpreply {

int replyCode(const char* begin, const char* end)
{
    if (begin >= end)
        return -1;
    // Wide enough that no run of characters overflows before the cap.
    long long code = *begin - '0';
    const char* p = begin + 1;
    while (p < end && *p != ' ' && *p != '-') {
        code = code * 10 + (*p - '0');
        if (code > 999999 || code < -999999)
            return -1;
        ++p;
    }
    return static_cast<int>(code);
}

std::uint16_t passivePort(const char* begin, const char* end)
{
    // Unsigned arithmetic wraps instead of overflowing; the wrap is a
    // multiple of 2^16, so the 16-bit result is the same as with exact sums.
    std::uint32_t high = 0;
    std::uint32_t low = 0;
    int commas = 0;
    for (const char* p = begin; p < end && *p != ')'; ++p) {
        if (*p == ',') {
            if (++commas == 6)
                break;
            continue;
        }
        if (*p < '0' || *p > '9')
            continue;
        const std::uint32_t digit = static_cast<std::uint32_t>(*p - '0');
        if (commas == 4)
            high = high * 10 + digit;
        else if (commas == 5)
            low = low * 10 + digit;
    }
    return static_cast<std::uint16_t>(high * 256u + low);
}

std::int32_t sizeValue(const char* begin, const char* end)
{
    const char* p = begin;
    while (p < end && *p != ' ')
        ++p;
    if (p == end)
        return 0;
    ++p;
    std::int64_t value = 0;
    for (; p < end && *p >= '0' && *p <= '9'; ++p) {
        value = value * 10 + (*p - '0');
        if (value > INT32_MAX)
            return -1;
    }
    return static_cast<std::int32_t>(value);
}

std::size_t replyLength(const char* begin, const char* end)
{
    const auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
    const bool multiLine =
        end - begin >= 4 && isDigit(begin[0]) && isDigit(begin[1]) && isDigit(begin[2]) && begin[3] == '-';
    for (const char* line = begin; line < end;) {
        const void* found = std::memchr(line, '\n', static_cast<std::size_t>(end - line));
        if (!found)
            return 0;
        const char* next = static_cast<const char*>(found) + 1;
        // The first line of a multi-line reply never ends it, even though it
        // begins with the code.
        if (!multiLine ||
            (line != begin && next - line >= 4 && std::memcmp(line, begin, 3) == 0 && line[3] == ' '))
            return static_cast<std::size_t>(next - begin);
        line = next;
    }
    return 0;
}

} // namespace ftpreply

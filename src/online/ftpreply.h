// Readers of the FTP server's reply texts. Each works on the bytes of one
// receive, given as a range, and never looks outside it, whatever the server
// sent.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ftpreply {

// The reply code: the first character's digit value, then one more digit
// for every following character up to a blank, a "-" or the end of the
// text. Characters are not checked to be digits; a code that grows past any
// reply code's size is reported as -1 so it can match nothing. An empty text
// gives -1.
int replyCode(const char* begin, const char* end);

// The data port of a 227 reply: after the fourth comma the digits up to the
// fifth comma form the high number, the digits after it (up to a sixth comma)
// the low number; the scan ends at ")" or at the end of the text. The result
// is high * 256 + low kept to 16 bits.
std::uint16_t passivePort(const char* begin, const char* end);

// The size of a 213 reply: the decimal digits after the first blank, up to
// the first character that is not a digit. No digits give 0; a number too
// large for a signed 32-bit size gives -1.
std::int32_t sizeValue(const char* begin, const char* end);

// The length of the first complete reply at the start of the text, through
// the line feed that ends it, or 0 while the reply is still incomplete. A
// reply whose first line begins with three digits and "-" is a multi-line
// reply: it ends with the first later line that begins with the same three
// digits and a blank. Any other reply is its first line. How the bytes
// were segmented on the way does not matter; lines end at a line feed (the
// CR before it, if any, belongs to the line).
std::size_t replyLength(const char* begin, const char* end);

} // namespace ftpreply

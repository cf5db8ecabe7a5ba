// UTF-8 for the text conversions of both platforms: read strictly by the protocol's reader
// (utf8_decode.h, which the server's escapes use too), written, and named in refusals.
#pragma once

#include <cstddef>
#include <string>

namespace conclient {
namespace utf8 {

// The character at text[at] into *c; its length in bytes, or 0 where the bytes there are no
// UTF-8 (a stray continuation byte, an overlong form, a surrogate, above U+10FFFF, cut short).
size_t Decode(const std::string& text, size_t at, char32_t* c);
// `c` (a Unicode scalar value) appended as UTF-8.
void Append(char32_t c, std::string* out);
// A character a terminal shows rather than obeys: no C0 or C1 control, no DEL.
bool Printable(char32_t c);
// "U+20AC".
std::string CodePointName(char32_t c);
// "byte 0xf4".
std::string ByteName(unsigned char byte);

}  // namespace utf8

// One character of the user's text at text[at] (the locale's encoding on Linux, UTF-8 on
// Windows), read as the conversions read it: its length, or 0 where the bytes there are no text.
size_t DecodeUserCharacter(const std::string& text, size_t at, char32_t* c);

}  // namespace conclient

// Code page 866 (DOS Cyrillic) against Unicode: one table of the upper half, read forwards for
// output and searched backwards for typed characters. The lower half is ASCII.
#pragma once

#include <cstddef>
#include <string>

namespace conproxy {

std::string Cp866ToUtf8(const char* data, size_t size);  // every byte; ASCII 0x00-0x7F unchanged
// Text as a Windows console shows it in its default output mode (processed output, no
// virtual-terminal sequences): BEL, BS, HT, LF and CR act, every other control byte (ESC and
// DEL included) becomes the glyph the code page's font draws for it, so no byte of the text
// can reach the terminal as a control sequence.
std::string Cp866ToScreen(const char* data, size_t size);
char UnicodeToCp866(char32_t codePoint);  // '?' when 866 has no such character

}  // namespace conproxy

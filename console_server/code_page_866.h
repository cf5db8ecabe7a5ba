// Code page 866 (DOS Cyrillic) against Unicode: one table of the upper half, read forwards for
// output and searched backwards for typed characters. The lower half is ASCII.
#pragma once

#include <cstddef>
#include <string>

std::string Cp866ToUtf8(const char* data, size_t size);  // every byte; ASCII 0x00-0x7F unchanged
char UnicodeToCp866(char32_t codePoint);                 // '?' when 866 has no such character

// Text that is not the program's own (another process's name, a device path, a lock file's
// content, an option as typed) on its way to a terminal: every byte that could drive the
// terminal is written out as \xNN instead, so such a text can never clear a screen, move the
// cursor or set a window title.
#pragma once

#include <string>

namespace portboot {

// The text as it may be shown. Kept as it is: printable ASCII and, where the console takes
// UTF-8, every well-formed UTF-8 character other than U+0080..U+009F. Written as \xNN: the C0
// controls, DEL, the C1 controls (bytes 0x80..0x9F, and U+0080..U+009F in UTF-8), every byte
// of an ill-formed sequence, and every byte above 0x7F where the console's character set is
// not UTF-8 (there a UTF-8 byte may be a C1 control). A backslash is doubled, so an escape
// cannot be faked.
std::string ShownText(const std::string& bytes);

}  // namespace portboot

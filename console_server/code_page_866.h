// Code page 866 (DOS Cyrillic) as conproxy's terminal shows and types it, through the protocol's
// one table (code_page_866_table.h): text out as UTF-8 and as a Windows console draws it, typed
// characters in.
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

// The cursor of a screen that text is written on, followed as a Windows console moves it.
// columns 0: the screen or the cursor is not known, and nothing is followed.
struct ScreenCursor {
    int columns = 0;
    int rows = 0;
    bool lineFeedReturns = true;  // LF also goes to the line's start (the terminal's ONLCR)
    int x = 0;
    int y = 0;
};

// The most bytes AppendScreenText writes for size bytes of text.
constexpr size_t ScreenTextBound(size_t size) {
    return 5 * size + 8;
}
// Writes Cp866ToScreen's form of the text at out and returns its end. When the cursor is
// followed it is moved, and where a character fills the last column and no drawn character
// follows in the text, CR LF is added: a VT terminal holds its cursor at the margin until the
// next character comes, a Windows console goes on to the next line at once (scrolling at the
// bottom), and a CR, LF, BS or HT after it, or a cursor report, then acts from there. A tab
// whose next stop lies at or past the margin goes there too, as CR LF.
char* AppendScreenText(const char* data, size_t size, ScreenCursor& cursor, char* out);

}  // namespace conproxy

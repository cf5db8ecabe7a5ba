#include "code_page_866.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "code_page_866_table.h"

namespace conproxy {

namespace {

// A byte's character in code page 866: the Basic Multilingual Plane's, so one UTF-16 unit.
constexpr char16_t CharacterOf(int byte) {
    return static_cast<char16_t>(
        conproxy_protocol::Cp866CharacterOf(static_cast<unsigned char>(byte)));
}

// The glyphs of the control bytes 0x00-0x1F in the console's font (NUL is blank).
constexpr char16_t kControlGlyphs[32] = {
    0x0020, 0x263A, 0x263B, 0x2665, 0x2666, 0x2663, 0x2660, 0x2022,  // NUL ☺ ☻ ♥ ♦ ♣ ♠ •
    0x25D8, 0x25CB, 0x25D9, 0x2642, 0x2640, 0x266A, 0x266B, 0x263C,  // ◘ ○ ◙ ♂ ♀ ♪ ♫ ☼
    0x25BA, 0x25C4, 0x2195, 0x203C, 0x00B6, 0x00A7, 0x25AC, 0x21A8,  // ► ◄ ↕ ‼ ¶ § ▬ ↨
    0x2191, 0x2193, 0x2192, 0x2190, 0x221F, 0x2194, 0x25B2, 0x25BC,  // ↑ ↓ → ← ∟ ↔ ▲ ▼
};
constexpr char16_t kDeleteGlyph = 0x2302;  // ⌂
constexpr uint8_t kDelete = 0x7F;

// The control bytes a console in processed-output mode acts on rather than draws.
constexpr bool Acts(uint8_t byte) {
    return byte == '\a' || byte == '\b' || byte == '\t' || byte == '\n' || byte == '\r';
}

// The UTF-8 form of each byte as shown, worked out once: text goes through here on every write,
// so the conversion is a table lookup and a four-byte store. An entry holds the form's bytes
// in its low three bytes (first byte lowest) and their count in the top one; the bytes that
// act carry kActs in the third byte, where a real form has a continuation byte or 0.
using Form = uint32_t;
constexpr Form kActs = 0x40u << 16;
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "forms are stored as little-endian words");

constexpr Form EncodeUtf8(char16_t codePoint) {
    // The tables hold only the Basic Multilingual Plane, so three bytes at most.
    if (codePoint < 0x80) {
        return Form{codePoint} | 1u << 24;
    }
    if (codePoint < 0x800) {
        return (0xC0u | (codePoint >> 6)) | (0x80u | (codePoint & 0x3Fu)) << 8 | 2u << 24;
    }
    return (0xE0u | (codePoint >> 12)) | (0x80u | ((codePoint >> 6) & 0x3Fu)) << 8 |
           (0x80u | (codePoint & 0x3Fu)) << 16 | 3u << 24;
}

constexpr char16_t ShownCodePoint(int byte) {
    if (byte >= 0x80) {
        return CharacterOf(byte);
    }
    if (byte == kDelete) {
        return kDeleteGlyph;
    }
    return byte < 0x20 ? kControlGlyphs[byte] : static_cast<char16_t>(byte);
}

struct ScreenTables {
    Form shown[256]{};  // the screen's form
    Form plain[256]{};  // every byte as its character, control bytes unchanged
    constexpr ScreenTables() {
        for (int byte = 0; byte < 256; ++byte) {
            plain[byte] = EncodeUtf8(CharacterOf(byte));
            shown[byte] = Acts(static_cast<uint8_t>(byte))
                              ? EncodeUtf8(static_cast<char16_t>(byte)) | kActs
                              : EncodeUtf8(ShownCodePoint(byte));
        }
    }
};
constexpr ScreenTables kTables;

// Stores the form (four bytes; those past its length are overwritten next or lie past the end)
// and returns where the next one goes.
inline char* Put(Form form, char* out) {
    std::memcpy(out, &form, sizeof form);
    return out + (form >> 24);
}

// The cursor after a run of drawn characters; CR LF where the last of them filled the last
// column, so the terminal's cursor goes where the console's does.
char* EndRun(size_t drawn, ScreenCursor& cursor, char* out) {
    if (drawn == 0) {
        return out;
    }
    const size_t total = static_cast<size_t>(cursor.x) + drawn;
    const size_t lines = total / static_cast<size_t>(cursor.columns);
    cursor.x = static_cast<int>(total % static_cast<size_t>(cursor.columns));
    cursor.y = static_cast<int>(std::min<size_t>(static_cast<size_t>(cursor.y) + lines,
                                                 static_cast<size_t>(cursor.rows - 1)));
    if (cursor.x == 0) {
        *out++ = '\r';
        *out++ = '\n';
    }
    return out;
}

// What a control byte that acts does to the cursor. True for a tab whose next stop lies at or
// past the margin: the console goes on to the next line's start, where a VT terminal's tab
// stops in the last column, so the caller sends CR LF for it.
bool Act(uint8_t byte, ScreenCursor& cursor) {
    constexpr int kTabColumns = 8;
    switch (byte) {
        case '\b':
            cursor.x = std::max(0, cursor.x - 1);
            break;
        case '\t':
            cursor.x = (cursor.x / kTabColumns + 1) * kTabColumns;
            if (cursor.x >= cursor.columns) {
                cursor.x = 0;
                cursor.y = std::min(cursor.rows - 1, cursor.y + 1);
                return true;
            }
            break;
        case '\n':
            cursor.y = std::min(cursor.rows - 1, cursor.y + 1);
            if (cursor.lineFeedReturns) {
                cursor.x = 0;
            }
            break;
        case '\r':
            cursor.x = 0;
            break;
        default:  // BEL
            break;
    }
    return false;
}

}  // namespace

std::string Cp866ToUtf8(const char* data, size_t size) {
    std::string out(size * 3 + 1, '\0');
    char* next = &out[0];
    for (size_t i = 0; i < size; ++i) {
        next = Put(kTables.plain[static_cast<uint8_t>(data[i])], next);
    }
    out.resize(static_cast<size_t>(next - out.data()));
    return out;
}

std::string Cp866ToScreen(const char* data, size_t size) {
    std::string out(ScreenTextBound(size), '\0');
    ScreenCursor unknown;
    out.resize(static_cast<size_t>(AppendScreenText(data, size, unknown, &out[0]) - out.data()));
    return out;
}

char* AppendScreenText(const char* data, size_t size, ScreenCursor& cursor, char* out) {
    const bool follow = cursor.columns > 0 && cursor.rows > 0;
    const auto* bytes = reinterpret_cast<const uint8_t*>(data);
    const Form* forms = kTables.shown;
    size_t runStart = 0;
    size_t i = 0;
    while (i < size) {
        // Four at a time while none of them acts: the common case, and the loop's cost.
        if (i + 4 <= size) {
            const Form a = forms[bytes[i]], b = forms[bytes[i + 1]], c = forms[bytes[i + 2]],
                       d = forms[bytes[i + 3]];
            if (((a | b | c | d) & kActs) == 0) {
                out = Put(d, Put(c, Put(b, Put(a, out))));
                i += 4;
                continue;
            }
        }
        const Form form = forms[bytes[i]];
        if ((form & kActs) == 0) {
            out = Put(form, out);
        } else {
            const size_t drawn = i - runStart;
            runStart = i + 1;
            if (follow) {
                out = EndRun(drawn, cursor, out);
                if (Act(bytes[i], cursor)) {
                    *out++ = '\r';  // a tab that reached the margin: the next line, as above
                    *out++ = '\n';
                    ++i;
                    continue;
                }
            }
            *out++ = static_cast<char>(bytes[i]);
        }
        ++i;
    }
    return follow ? EndRun(size - runStart, cursor, out) : out;
}

char UnicodeToCp866(char32_t codePoint) {
    const int byte = conproxy_protocol::Cp866ByteOf(codePoint);
    return byte < 0 ? '?' : static_cast<char>(byte);
}

}  // namespace conproxy

#include "key_decoder.h"

#include <iterator>
#include <vector>

#include "code_page_866.h"

namespace conproxy {

namespace {

constexpr char kEsc = 0x1B;
// A sequence that has not ended after this many bytes is not one we know; it is dropped.
constexpr size_t kMaxSequenceBytes = 32;

// Modifier keys as a US keyboard reports them, in the order they go down (and the reverse when
// they come up): Shift, Alt, Ctrl, the order in which the Windows console under Wine reports a
// combination typed on a terminal.
struct ModifierKey {
    uint32_t flag;
    uint16_t virtualKey;
    uint16_t scanCode;
};
constexpr ModifierKey kModifierKeys[] = {
    {kShiftPressed, 0x10, 0x2A},     // VK_SHIFT
    {kLeftAltPressed, 0x12, 0x38},   // VK_MENU
    {kLeftCtrlPressed, 0x11, 0x1D},  // VK_CONTROL
};

// A key of the main block: its character plain and with Shift.
struct TypedKey {
    char plain;
    char shifted;
    uint16_t virtualKey;
    uint16_t scanCode;
};
constexpr TypedKey kTypedKeys[] = {
    {'`', '~', 0xC0, 0x29},  {'1', '!', 0x31, 0x02}, {'2', '@', 0x32, 0x03},
    {'3', '#', 0x33, 0x04},  {'4', '$', 0x34, 0x05}, {'5', '%', 0x35, 0x06},
    {'6', '^', 0x36, 0x07},  {'7', '&', 0x37, 0x08}, {'8', '*', 0x38, 0x09},
    {'9', '(', 0x39, 0x0A},  {'0', ')', 0x30, 0x0B}, {'-', '_', 0xBD, 0x0C},
    {'=', '+', 0xBB, 0x0D},  {'q', 'Q', 0x51, 0x10}, {'w', 'W', 0x57, 0x11},
    {'e', 'E', 0x45, 0x12},  {'r', 'R', 0x52, 0x13}, {'t', 'T', 0x54, 0x14},
    {'y', 'Y', 0x59, 0x15},  {'u', 'U', 0x55, 0x16}, {'i', 'I', 0x49, 0x17},
    {'o', 'O', 0x4F, 0x18},  {'p', 'P', 0x50, 0x19}, {'[', '{', 0xDB, 0x1A},
    {']', '}', 0xDD, 0x1B},  {'a', 'A', 0x41, 0x1E}, {'s', 'S', 0x53, 0x1F},
    {'d', 'D', 0x44, 0x20},  {'f', 'F', 0x46, 0x21}, {'g', 'G', 0x47, 0x22},
    {'h', 'H', 0x48, 0x23},  {'j', 'J', 0x4A, 0x24}, {'k', 'K', 0x4B, 0x25},
    {'l', 'L', 0x4C, 0x26},  {';', ':', 0xBA, 0x27}, {'\'', '"', 0xDE, 0x28},
    {'\\', '|', 0xDC, 0x2B}, {'z', 'Z', 0x5A, 0x2C}, {'x', 'X', 0x58, 0x2D},
    {'c', 'C', 0x43, 0x2E},  {'v', 'V', 0x56, 0x2F}, {'b', 'B', 0x42, 0x30},
    {'n', 'N', 0x4E, 0x31},  {'m', 'M', 0x4D, 0x32}, {',', '<', 0xBC, 0x33},
    {'.', '>', 0xBE, 0x34},  {'/', '?', 0xBF, 0x35}, {' ', ' ', 0x20, 0x39},
};

// A key the terminal sends as one control byte (Ctrl+letter is derived from the letter keys).
struct ControlKey {
    char byte;
    uint16_t virtualKey;
    uint16_t scanCode;
    char character;
    uint32_t modifiers;
};
constexpr ControlKey kControlKeys[] = {
    {0x0D, 0x0D, 0x1C, '\r', 0},  // Enter; some terminals send LF
    {0x0A, 0x0D, 0x1C, '\r', 0},
    {0x7F, 0x08, 0x0E, 0x08, 0},  // Backspace, as DEL or BS
    {0x08, 0x08, 0x0E, 0x08, 0},
    {0x09, 0x09, 0x0F, 0x09, 0},                                 // Tab
    {0x00, 0x20, 0x39, 0x00, kLeftCtrlPressed},                  // Ctrl+Space
    {0x1C, 0xDC, 0x2B, 0x1C, kLeftCtrlPressed},                  // Ctrl+backslash
    {0x1D, 0xDD, 0x1B, 0x1D, kLeftCtrlPressed},                  // Ctrl+]
    {0x1E, 0x36, 0x07, 0x1E, kLeftCtrlPressed | kShiftPressed},  // Ctrl+^ is Ctrl+Shift+6
    {0x1F, 0xBD, 0x0C, 0x1F, kLeftCtrlPressed | kShiftPressed},  // Ctrl+_ is Ctrl+Shift+-
};

// The keys an escape sequence stands for. Letter forms end CSI or SS3 (ESC [ A, ESC O A,
// ESC [ 1 ; 5 A); tilde forms are ESC [ n ~ or ESC [ n ; m ~; the Linux console sends
// ESC [ [ A ... E for F1-F5.
enum class SequenceForm { Letter, Tilde, LinuxConsole };
struct SequenceKey {
    SequenceForm form;
    char finalByte;
    int number;  // the first parameter of the tilde form
    uint16_t virtualKey;
    uint16_t scanCode;
    char character;
    uint32_t state;  // kEnhancedKey for the gray keys; kShiftPressed where the sequence implies it
};
constexpr SequenceKey kSequenceKeys[] = {
    {SequenceForm::Letter, 'A', 0, 0x26, 0x48, 0, kEnhancedKey},      // Up
    {SequenceForm::Letter, 'B', 0, 0x28, 0x50, 0, kEnhancedKey},      // Down
    {SequenceForm::Letter, 'C', 0, 0x27, 0x4D, 0, kEnhancedKey},      // Right
    {SequenceForm::Letter, 'D', 0, 0x25, 0x4B, 0, kEnhancedKey},      // Left
    {SequenceForm::Letter, 'H', 0, 0x24, 0x47, 0, kEnhancedKey},      // Home
    {SequenceForm::Letter, 'F', 0, 0x23, 0x4F, 0, kEnhancedKey},      // End
    {SequenceForm::Letter, 'P', 0, 0x70, 0x3B, 0, 0},                 // F1
    {SequenceForm::Letter, 'Q', 0, 0x71, 0x3C, 0, 0},                 // F2
    {SequenceForm::Letter, 'R', 0, 0x72, 0x3D, 0, 0},                 // F3
    {SequenceForm::Letter, 'S', 0, 0x73, 0x3E, 0, 0},                 // F4
    {SequenceForm::Letter, 'Z', 0, 0x09, 0x0F, 0x09, kShiftPressed},  // Shift+Tab
    {SequenceForm::Tilde, '~', 1, 0x24, 0x47, 0, kEnhancedKey},       // Home
    {SequenceForm::Tilde, '~', 7, 0x24, 0x47, 0, kEnhancedKey},
    {SequenceForm::Tilde, '~', 4, 0x23, 0x4F, 0, kEnhancedKey},  // End
    {SequenceForm::Tilde, '~', 8, 0x23, 0x4F, 0, kEnhancedKey},
    {SequenceForm::Tilde, '~', 2, 0x2D, 0x52, 0, kEnhancedKey},  // Insert
    {SequenceForm::Tilde, '~', 3, 0x2E, 0x53, 0, kEnhancedKey},  // Delete
    {SequenceForm::Tilde, '~', 5, 0x21, 0x49, 0, kEnhancedKey},  // Page Up
    {SequenceForm::Tilde, '~', 6, 0x22, 0x51, 0, kEnhancedKey},  // Page Down
    {SequenceForm::Tilde, '~', 11, 0x70, 0x3B, 0, 0},            // F1-F5
    {SequenceForm::Tilde, '~', 12, 0x71, 0x3C, 0, 0},
    {SequenceForm::Tilde, '~', 13, 0x72, 0x3D, 0, 0},
    {SequenceForm::Tilde, '~', 14, 0x73, 0x3E, 0, 0},
    {SequenceForm::Tilde, '~', 15, 0x74, 0x3F, 0, 0},
    {SequenceForm::Tilde, '~', 17, 0x75, 0x40, 0, 0},  // F6-F10
    {SequenceForm::Tilde, '~', 18, 0x76, 0x41, 0, 0},
    {SequenceForm::Tilde, '~', 19, 0x77, 0x42, 0, 0},
    {SequenceForm::Tilde, '~', 20, 0x78, 0x43, 0, 0},
    {SequenceForm::Tilde, '~', 21, 0x79, 0x44, 0, 0},
    {SequenceForm::Tilde, '~', 23, 0x7A, 0x57, 0, 0},  // F11
    {SequenceForm::Tilde, '~', 24, 0x7B, 0x58, 0, 0},  // F12
    {SequenceForm::LinuxConsole, 'A', 0, 0x70, 0x3B, 0, 0},
    {SequenceForm::LinuxConsole, 'B', 0, 0x71, 0x3C, 0, 0},
    {SequenceForm::LinuxConsole, 'C', 0, 0x72, 0x3D, 0, 0},
    {SequenceForm::LinuxConsole, 'D', 0, 0x73, 0x3E, 0, 0},
    {SequenceForm::LinuxConsole, 'E', 0, 0x74, 0x3F, 0, 0},
};

const SequenceKey* FindSequenceKey(SequenceForm form, char finalByte, int number) {
    for (const SequenceKey& key : kSequenceKeys) {
        if (key.form == form && key.finalByte == finalByte && key.number == number) {
            return &key;
        }
    }
    return nullptr;
}

const TypedKey* FindTypedKey(char character) {
    for (const TypedKey& key : kTypedKeys) {
        if (key.plain == character || key.shifted == character) {
            return &key;
        }
    }
    return nullptr;
}

// xterm's modifier parameter: 1 + a mask of 1 Shift, 2 Alt, 4 Ctrl. Higher bits (Meta) and
// missing or zero parameters add nothing.
uint32_t ModifiersFromParameter(int parameter) {
    const int mask = parameter > 1 ? (parameter - 1) : 0;
    uint32_t modifiers = 0;
    if (mask & 1) {
        modifiers |= kShiftPressed;
    }
    if (mask & 2) {
        modifiers |= kLeftAltPressed;
    }
    if (mask & 4) {
        modifiers |= kLeftCtrlPressed;
    }
    return modifiers;
}

bool IsFinalByte(uint8_t byte) {
    return byte >= 0x40 && byte <= 0x7E;
}
bool IsParameterOrIntermediate(uint8_t byte) {
    return byte >= 0x20 && byte <= 0x3F;
}

// Numbers separated by ';'. False when the parameters hold anything else (private markers,
// sub-parameters), which no key sequence of ours uses.
bool ParseParameters(const std::string& text, std::vector<int>& numbers) {
    numbers.assign(1, 0);
    for (char c : text) {
        if (c == ';') {
            numbers.push_back(0);
        } else if (c >= '0' && c <= '9') {
            if (numbers.back() < 100000) {  // keeps a long digit run from overflowing
                numbers.back() = numbers.back() * 10 + (c - '0');
            }
        } else {
            return false;
        }
    }
    return true;
}

// Where the run of digits and ';' from position ends: the parameters of a cursor report.
size_t NumbersEnd(const std::string& text, size_t position) {
    while (position < text.size() && ((text[position] >= '0' && text[position] <= '9') ||
                                      text[position] == ';')) {
        ++position;
    }
    return position;
}

// The key a complete CSI or SS3 sequence stands for, and the modifiers its parameters add;
// nullptr when it is no key of ours.
const SequenceKey* KeyForSequence(bool isCsi, char finalByte, const std::vector<int>& parameters,
                                  uint32_t& modifiers) {
    if (finalByte == '~') {
        modifiers = parameters.size() > 1 ? ModifiersFromParameter(parameters[1]) : 0;
        return isCsi ? FindSequenceKey(SequenceForm::Tilde, '~', parameters[0]) : nullptr;
    }
    // ESC [ n X without ';': n is a count, not modifiers.
    modifiers = isCsi && parameters.size() == 1 ? 0 : ModifiersFromParameter(parameters.back());
    if (parameters.size() > 1 && parameters[0] > 1) {
        return nullptr;  // e.g. a cursor report nobody asked for: not a key
    }
    return FindSequenceKey(SequenceForm::Letter, finalByte, 0);
}

// The length of a UTF-8 sequence from its lead byte and the range its second byte must lie in
// (which rules out overlong forms, surrogates and code points past U+10FFFF); 0 if no lead.
size_t Utf8Length(uint8_t lead, uint8_t& secondLow, uint8_t& secondHigh) {
    secondLow = 0x80;
    secondHigh = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        return 2;
    }
    if (lead >= 0xE0 && lead <= 0xEF) {
        secondLow = lead == 0xE0 ? 0xA0 : 0x80;
        secondHigh = lead == 0xED ? 0x9F : 0xBF;
        return 3;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        secondLow = lead == 0xF0 ? 0x90 : 0x80;
        secondHigh = lead == 0xF4 ? 0x8F : 0xBF;
        return 4;
    }
    return 0;
}

}  // namespace

void KeyDecoder::AppendKey(uint16_t virtualKey, uint16_t scanCode, char character,
                           uint32_t modifiers, uint32_t extraState, std::deque<InputRecord>& out) {
    auto append = [&out](bool down, uint16_t vk, uint16_t scan, char c, uint32_t state) {
        InputRecord record{};
        record.eventType = kKeyEvent;
        record.event.key.keyDown = down ? 1 : 0;
        record.event.key.repeatCount = 1;
        record.event.key.virtualKeyCode = vk;
        record.event.key.virtualScanCode = scan;
        record.event.key.asciiChar = c;
        record.event.key.charHighByte = 0;
        record.event.key.controlKeyState = state;
        out.push_back(record);
    };
    // Each record carries the modifiers held at its moment, as Windows reports them: a
    // modifier's own key-down already shows it held, its key-up no longer does.
    uint32_t held = 0;
    for (const ModifierKey& modifier : kModifierKeys) {
        if (modifiers & modifier.flag) {
            held |= modifier.flag;
            append(true, modifier.virtualKey, modifier.scanCode, 0, held);
        }
    }
    append(true, virtualKey, scanCode, character, held | extraState);
    append(false, virtualKey, scanCode, character, held | extraState);
    for (auto it = std::rbegin(kModifierKeys); it != std::rend(kModifierKeys); ++it) {
        if (modifiers & it->flag) {
            held &= ~it->flag;
            append(false, it->virtualKey, it->scanCode, 0, held);
        }
    }
}

bool KeyDecoder::HasPending() const {
    return !stalled_ && (!pending_.empty() || discarding_);
}

void KeyDecoder::ExpectCursorReport() {
    expectCursorReport_ = true;
}

bool KeyDecoder::TakeCursorReport(int& row, int& column) {
    if (!haveCursorReport_) {
        return false;
    }
    haveCursorReport_ = false;
    row = reportRow_;
    column = reportColumn_;
    return true;
}

void KeyDecoder::Feed(const char* data, size_t size, std::deque<InputRecord>& out,
                      size_t maxRecords) {
    pending_.append(data, size);
    Decode(false, out, maxRecords);
}

void KeyDecoder::Flush(std::deque<InputRecord>& out, size_t maxRecords) {
    // The pause says the terminal has sent all of it: a sequence cut short is typed keys.
    discarding_ = false;
    Decode(true, out, maxRecords);
}

void KeyDecoder::Decode(bool complete, std::deque<InputRecord>& out, size_t maxRecords) {
    size_t position = 0;
    stalled_ = false;
    while (position < pending_.size()) {
        if (out.size() >= maxRecords) {
            stalled_ = true;
            break;
        }
        const size_t used = DecodeOne(position, complete, out);
        if (used == 0) {
            break;  // the rest may begin a longer sequence: hold it
        }
        position += used;
    }
    pending_.erase(0, position);
    if (stalled_ && expectCursorReport_) {
        TakeHeldReport();
    }
}

void KeyDecoder::TakeHeldReport() {
    // The first ESC [ digits ; digits R is the report when the bytes before it decode to whole
    // keys (an ESC or an unfinished sequence just before it would change them): tried on a copy.
    for (size_t at = pending_.find(kEsc); at != std::string::npos;
         at = pending_.find(kEsc, at + 1)) {
        if (at + 1 >= pending_.size() || pending_[at + 1] != '[') {
            continue;
        }
        const size_t end = NumbersEnd(pending_, at + 2);
        std::vector<int> numbers;
        if (end < pending_.size() && pending_[end] == 'R' &&
            ParseParameters(pending_.substr(at + 2, end - at - 2), numbers) &&
            numbers.size() == 2) {
            KeyDecoder before = *this;
            before.pending_.erase(at);
            std::deque<InputRecord> unused;
            before.Decode(false, unused, SIZE_MAX);
            if (!before.pending_.empty() || before.discarding_ || !before.expectCursorReport_) {
                return;  // read in turn, once there is room
            }
            TakeExpectedReport(numbers);
            pending_.erase(at, end + 1 - at);
            return;
        }
    }
}

size_t KeyDecoder::DecodeOne(size_t position, bool complete, std::deque<InputRecord>& out) {
    const size_t available = pending_.size() - position;
    const auto byte = static_cast<uint8_t>(pending_[position]);
    if (discarding_) {
        // The tail of an over-long sequence: parameters, then the final byte ends it.
        if (IsParameterOrIntermediate(byte)) {
            return 1;
        }
        discarding_ = false;
        return IsFinalByte(byte) ? 1 : DecodeOne(position, complete, out);
    }
    if (byte != kEsc) {
        return DecodeTyped(position, 0, complete, out);
    }
    if (available == 1) {
        if (!complete) {
            return 0;
        }
        AppendKey(0x1B, 0x01, kEsc, 0, 0, out);  // a lone Esc
        return 1;
    }
    const char next = pending_[position + 1];
    if (next == '[' || next == 'O') {
        const size_t used = DecodeSequence(position, out);
        if (used != 0 || !complete) {
            return used;
        }
        // ESC [ or ESC O that the pause cut short: Alt with that key, the rest typed.
    }
    if (next == kEsc) {
        // Esc pressed twice, or Esc before a sequence: keep it a plain Esc and go on.
        AppendKey(0x1B, 0x01, kEsc, 0, 0, out);
        return 1;
    }
    const size_t used = DecodeTyped(position + 1, kLeftAltPressed, complete, out);
    return used == 0 ? 0 : used + 1;
}

size_t KeyDecoder::DecodeSequence(size_t position, std::deque<InputRecord>& out) {
    const bool isCsi = pending_[position + 1] == '[';
    if (isCsi && position + 2 < pending_.size() && pending_[position + 2] == '[') {
        return DecodeLinuxConsoleKey(position, out);
    }
    size_t end = position + 2;
    while (end < pending_.size() && IsParameterOrIntermediate(pending_[end])) {
        ++end;
        if (end - position >= kMaxSequenceBytes) {
            discarding_ = true;
            return end - position;
        }
    }
    if (end >= pending_.size()) {
        return 0;  // held; cut short by the pause, the caller takes it as typed keys
    }
    const char finalByte = pending_[end];
    if (!IsFinalByte(finalByte)) {
        // A control byte inside the sequence breaks it off: drop what came before, then
        // decode that byte as typed.
        return end - position;
    }
    const size_t used = end + 1 - position;
    std::vector<int> parameters;
    if (!ParseParameters(pending_.substr(position + 2, end - position - 2), parameters)) {
        return used;
    }
    if (isCsi && finalByte == 'R' && TakeExpectedReport(parameters)) {
        return used;
    }
    uint32_t modifiers = 0;
    if (const SequenceKey* key = KeyForSequence(isCsi, finalByte, parameters, modifiers)) {
        AppendKey(key->virtualKey, key->scanCode, key->character,
                  modifiers | (key->state & kShiftPressed), key->state & ~kShiftPressed, out);
    }
    return used;
}

size_t KeyDecoder::DecodeLinuxConsoleKey(size_t position, std::deque<InputRecord>& out) {
    // ESC [ [ X for F1-F5: always one more byte.
    const size_t last = position + 3;
    if (last >= pending_.size()) {
        return 0;
    }
    if (!IsFinalByte(pending_[last])) {
        return last - position;  // broken off: that byte is typed
    }
    if (const SequenceKey* key = FindSequenceKey(SequenceForm::LinuxConsole, pending_[last], 0)) {
        AppendKey(key->virtualKey, key->scanCode, key->character, 0, key->state, out);
    }
    return last + 1 - position;
}

bool KeyDecoder::TakeExpectedReport(const std::vector<int>& parameters) {
    if (!expectCursorReport_ || parameters.size() != 2) {
        return false;
    }
    expectCursorReport_ = false;
    haveCursorReport_ = true;
    reportRow_ = parameters[0];
    reportColumn_ = parameters[1];
    return true;
}

size_t KeyDecoder::DecodeTyped(size_t position, uint32_t alt, bool complete,
                               std::deque<InputRecord>& out) {
    const auto byte = static_cast<uint8_t>(pending_[position]);
    const TypedKey* typed =
        byte >= 0x20 && byte <= 0x7E ? FindTypedKey(static_cast<char>(byte)) : nullptr;
    if (typed != nullptr) {
        const bool shifted =
            typed->shifted == static_cast<char>(byte) && typed->plain != typed->shifted;
        AppendKey(typed->virtualKey, typed->scanCode, static_cast<char>(byte),
                  (shifted ? kShiftPressed : 0) | alt, 0, out);
        return 1;
    }
    for (const ControlKey& key : kControlKeys) {
        if (static_cast<uint8_t>(key.byte) == byte) {
            AppendKey(key.virtualKey, key.scanCode, key.character, key.modifiers | alt, 0, out);
            return 1;
        }
    }
    if (byte >= 1 && byte <= 26) {
        const TypedKey* letter = FindTypedKey(static_cast<char>('a' + byte - 1));
        AppendKey(letter->virtualKey, letter->scanCode, static_cast<char>(byte),
                  kLeftCtrlPressed | alt, 0, out);
        return 1;
    }
    return DecodeUtf8(position, alt, complete, out);
}

size_t KeyDecoder::DecodeUtf8(size_t position, uint32_t alt, bool complete,
                              std::deque<InputRecord>& out) {
    // Characters outside ASCII have no key on a US keyboard: virtual key and scan code 0,
    // the character in code page 866 ('?' when it has none, or when the bytes are not UTF-8).
    auto appendCharacter = [&](char character) { AppendKey(0, 0, character, alt, 0, out); };
    const auto lead = static_cast<uint8_t>(pending_[position]);
    uint8_t secondLow = 0;
    uint8_t secondHigh = 0;
    const size_t length = Utf8Length(lead, secondLow, secondHigh);
    if (length == 0) {
        appendCharacter('?');
        return 1;
    }
    char32_t codePoint = lead & (0x7F >> length);
    for (size_t i = 1; i < length; ++i) {
        if (position + i >= pending_.size()) {
            if (!complete) {
                return 0;
            }
            appendCharacter('?');  // cut short by the pause
            return i;
        }
        const auto byte = static_cast<uint8_t>(pending_[position + i]);
        const uint8_t low = i == 1 ? secondLow : 0x80;
        const uint8_t high = i == 1 ? secondHigh : 0xBF;
        if (byte < low || byte > high) {
            appendCharacter('?');  // the bytes so far are one bad character; this byte starts anew
            return i;
        }
        codePoint = (codePoint << 6) | (byte & 0x3F);
    }
    appendCharacter(UnicodeToCp866(codePoint));
    return length;
}

}  // namespace conproxy

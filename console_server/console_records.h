// The records that cross the process boundary: the request at the start of the shared region,
// and the two Windows console records that commands place in it. They keep the Windows layout
// on every platform, because the client reads them byte for byte; the asserts pin it down.
#pragma once

#include <cstddef>
#include <cstdint>

namespace conproxy {

// The request record at offset 0 of the region; every field little-endian 32-bit.
struct ConsoleRequest {
    int32_t command;     // command code, 1 to 10
    int32_t status;      // 0 after ConClearScreen and ConExit; left alone otherwise
    int32_t dataOffset;  // byte offset of the data in the region, or the cursor column
    uint32_t count;      // character count, or the cursor row
    uint32_t result;     // records or characters delivered
};
static_assert(sizeof(ConsoleRequest) == 20, "request record is 20 bytes");
static_assert(offsetof(ConsoleRequest, command) == 0);
static_assert(offsetof(ConsoleRequest, status) == 4);
static_assert(offsetof(ConsoleRequest, dataOffset) == 8);
static_assert(offsetof(ConsoleRequest, count) == 12);
static_assert(offsetof(ConsoleRequest, result) == 16);

constexpr uint32_t kRequestRegionBytes = 0x2000;

enum ConsoleCommand : int32_t {
    ConClearScreen = 1,
    ConExit = 2,
    ConGetScreenInfo = 3,
    ConSetCursor = 4,
    ConNop5 = 5,
    ConPeekInput = 6,
    ConReadInput = 7,
    ConReadText = 8,
    ConWriteText = 9,
    ConNop10 = 10,
};

// Windows COORD.
struct ConsoleCoord {
    int16_t x;
    int16_t y;
};
static_assert(sizeof(ConsoleCoord) == 4);

// Windows SMALL_RECT.
struct ConsoleRect {
    int16_t left;
    int16_t top;
    int16_t right;
    int16_t bottom;
};
static_assert(sizeof(ConsoleRect) == 8);

// Windows CONSOLE_SCREEN_BUFFER_INFO: 22 bytes, 2-byte aligned.
struct ConsoleScreenBufferInfo {
    ConsoleCoord size;
    ConsoleCoord cursorPosition;
    uint16_t attributes;
    ConsoleRect window;
    ConsoleCoord maximumWindowSize;
};
static_assert(sizeof(ConsoleScreenBufferInfo) == 22, "CONSOLE_SCREEN_BUFFER_INFO is 22 bytes");
static_assert(offsetof(ConsoleScreenBufferInfo, size) == 0);
static_assert(offsetof(ConsoleScreenBufferInfo, cursorPosition) == 4);
static_assert(offsetof(ConsoleScreenBufferInfo, attributes) == 8);
static_assert(offsetof(ConsoleScreenBufferInfo, window) == 10);
static_assert(offsetof(ConsoleScreenBufferInfo, maximumWindowSize) == 18);

// Windows KEY_EVENT_RECORD with the 8-bit character (the ...A calls' form).
struct KeyEventRecord {
    int32_t keyDown;  // BOOL
    uint16_t repeatCount;
    uint16_t virtualKeyCode;
    uint16_t virtualScanCode;
    char asciiChar;        // uChar.AsciiChar
    uint8_t charHighByte;  // the other byte of the uChar union; 0
    uint32_t controlKeyState;
};
static_assert(sizeof(KeyEventRecord) == 16);

// Windows WINDOW_BUFFER_SIZE_RECORD.
struct WindowBufferSizeRecord {
    ConsoleCoord size;
};

// Windows INPUT_RECORD: 20 bytes, the event at offset 4.
struct InputRecord {
    uint16_t eventType;
    uint16_t padding;
    union {
        KeyEventRecord key;
        WindowBufferSizeRecord windowSize;
        uint8_t raw[16];
    } event;
};
static_assert(sizeof(InputRecord) == 20, "INPUT_RECORD is 20 bytes");
static_assert(offsetof(InputRecord, event) == 4);
static_assert(offsetof(InputRecord, event) + offsetof(KeyEventRecord, repeatCount) == 8);
static_assert(offsetof(InputRecord, event) + offsetof(KeyEventRecord, virtualKeyCode) == 10);
static_assert(offsetof(InputRecord, event) + offsetof(KeyEventRecord, virtualScanCode) == 12);
static_assert(offsetof(InputRecord, event) + offsetof(KeyEventRecord, asciiChar) == 14);
static_assert(offsetof(InputRecord, event) + offsetof(KeyEventRecord, controlKeyState) == 16);

// EventType values.
constexpr uint16_t kKeyEvent = 0x0001;
constexpr uint16_t kWindowBufferSizeEvent = 0x0004;

// dwControlKeyState bits.
constexpr uint32_t kRightAltPressed = 0x0001;
constexpr uint32_t kLeftAltPressed = 0x0002;
constexpr uint32_t kRightCtrlPressed = 0x0004;
constexpr uint32_t kLeftCtrlPressed = 0x0008;
constexpr uint32_t kShiftPressed = 0x0010;
constexpr uint32_t kNumLockOn = 0x0020;
constexpr uint32_t kScrollLockOn = 0x0040;
constexpr uint32_t kCapsLockOn = 0x0080;
constexpr uint32_t kEnhancedKey = 0x0100;

}  // namespace conproxy

// The conproxy request protocol as both ends compile it: the request record at the start of the
// shared region, the command codes, the region's and an event's sizes, the two Windows console
// records that commands place in the region, and the rules for the three names. The records keep
// the Windows layout on every platform, because the other process reads them byte for byte; the
// asserts pin it down. Installed beside conproxy_client.h, which includes it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace conproxy_protocol {

// The shared region's size: the record, then room for a command's data.
constexpr size_t kRegionBytes = 0x2000;
// A POSIX event is one 32-bit state word at the start of its object.
constexpr size_t kEventBytes = sizeof(uint32_t);

// Time-outs in milliseconds, on both ends: 0 or more is a limit, and any negative value (this
// one by name) means none: the wait lasts as long as the other side lives.
constexpr int kNoTimeLimit = -1;

// The request record at offset 0 of the region; every field little-endian 32-bit.
struct ConsoleRequest {
    int32_t command;     // command code, 1 to 10
    int32_t status;      // 0 after ConClearScreen and ConExit; left alone otherwise
    int32_t dataOffset;  // byte offset of the data in the region, or the cursor column
    uint32_t count;      // character count, or the cursor row
    uint32_t result;     // records or characters delivered
};
static_assert(sizeof(ConsoleRequest) == 20, "request record is 20 bytes");
static_assert(offsetof(ConsoleRequest, command) == 0, "command at 0");
static_assert(offsetof(ConsoleRequest, status) == 4, "status at 4");
static_assert(offsetof(ConsoleRequest, dataOffset) == 8, "dataOffset at 8");
static_assert(offsetof(ConsoleRequest, count) == 12, "count at 12");
static_assert(offsetof(ConsoleRequest, result) == 16, "result at 16");

enum CommandCode : int32_t {
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
static_assert(sizeof(ConsoleCoord) == 4, "COORD is 4 bytes");

// Windows SMALL_RECT.
struct ConsoleRect {
    int16_t left;
    int16_t top;
    int16_t right;
    int16_t bottom;
};
static_assert(sizeof(ConsoleRect) == 8, "SMALL_RECT is 8 bytes");

// Windows CONSOLE_SCREEN_BUFFER_INFO: 22 bytes, 2-byte aligned.
struct ConsoleScreenBufferInfo {
    ConsoleCoord size;
    ConsoleCoord cursorPosition;
    uint16_t attributes;
    ConsoleRect window;
    ConsoleCoord maximumWindowSize;
};
static_assert(sizeof(ConsoleScreenBufferInfo) == 22, "CONSOLE_SCREEN_BUFFER_INFO is 22 bytes");
static_assert(offsetof(ConsoleScreenBufferInfo, size) == 0, "size at 0");
static_assert(offsetof(ConsoleScreenBufferInfo, cursorPosition) == 4, "cursor at 4");
static_assert(offsetof(ConsoleScreenBufferInfo, attributes) == 8, "attributes at 8");
static_assert(offsetof(ConsoleScreenBufferInfo, window) == 10, "window at 10");
static_assert(offsetof(ConsoleScreenBufferInfo, maximumWindowSize) == 18, "maximum at 18");

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
static_assert(sizeof(KeyEventRecord) == 16, "KEY_EVENT_RECORD is 16 bytes");

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
static_assert(offsetof(InputRecord, event) == 4, "event at 4");
static_assert(offsetof(InputRecord, event) + offsetof(KeyEventRecord, repeatCount) == 8,
              "repeat count at 8");
static_assert(offsetof(InputRecord, event) + offsetof(KeyEventRecord, virtualKeyCode) == 10,
              "virtual key at 10");
static_assert(offsetof(InputRecord, event) + offsetof(KeyEventRecord, virtualScanCode) == 12,
              "scan code at 12");
static_assert(offsetof(InputRecord, event) + offsetof(KeyEventRecord, asciiChar) == 14,
              "character at 14");
static_assert(offsetof(InputRecord, event) + offsetof(KeyEventRecord, controlKeyState) == 16,
              "control key state at 16");

// The bytes of the data area that ConGetScreenInfo and ConPeekInput / ConReadInput fill.
constexpr size_t kScreenInfoBytes = sizeof(ConsoleScreenBufferInfo);
constexpr size_t kInputRecordBytes = sizeof(InputRecord);

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

// The names. The region is "Mapping" + suffix, formed in a buffer of 80 characters with its
// terminator, so a suffix has at most 72. A backslash is an ordinary byte of a name: on POSIX a
// shared-memory name may hold it, and on Windows the system reads it (Local\ and Global\ name
// the namespace), so neither end refuses it.
constexpr char kRegionNamePrefix[] = "Mapping";
constexpr size_t kRegionNameBufferChars = 80;
constexpr size_t kMaxSuffixChars = kRegionNameBufferChars - sizeof kRegionNamePrefix;
static_assert(kMaxSuffixChars == 72, "a suffix of at most 72 characters");
// POSIX: the longest name a shared-memory object takes here, and the one byte it may not hold.
constexpr size_t kMaxPosixNameBytes = 250;
constexpr char kPosixNameForbidden = '/';

// The region's full name for a suffix.
std::string RegionName(const std::string& suffix);

// The three names as the server's command line and the objects take them.
struct ObjectNames {
    std::string suffix;   // the region is RegionName(suffix)
    std::string request;  // RequestEvent
    std::string reply;    // ReplyEvent
};

// What is wrong with a set of names on every platform; kNone when they may be used. The
// platform's own limits (POSIX: kPosixNameForbidden, kMaxPosixNameBytes) are the object
// calls' business and fail there.
enum class NameFault {
    kNone,
    kSuffixTooLong,       // the region name would not fit its buffer
    kEventNameEmpty,      // an event nobody could reach
    kEventsCoincide,      // one event for both: the server would wake itself
    kEventNamedAsRegion,  // an event's word would be taken for the request
};
NameFault CheckNames(const ObjectNames& names);
// A short English description of a fault, for the reports of either end.
const char* DescribeNameFault(NameFault fault);

// The server's command line: program, suffix, RequestEvent, ReplyEvent, in this order; further
// arguments are ignored.
constexpr int kServerNameArguments = 3;
std::vector<std::string> ServerArguments(const std::string& program, const ObjectNames& names);
// The names from a command line as the server gets it (argv[0] the program), which holds at
// least 1 + kServerNameArguments arguments.
ObjectNames NamesFromArguments(const char* const* argv);

}  // namespace conproxy_protocol

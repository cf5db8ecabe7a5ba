// The command line: options after the image file, read in order against what is already set.
#include "command_line.h"

#include <cstring>

namespace portboot {

namespace {

// As "%u" reads: blanks skipped, one sign, digits up to the first non-digit, the value taken
// modulo 2^32 ('-' negates it). Written out by hand because scanf's overflow is undefined. Where
// given, `rest` is set to what follows the digits.
bool ReadUnsigned(const char* text, std::uint32_t& value, const char** rest = nullptr) {
    const char* p = text;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r')) {
        ++p;
    }
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = *p == '-';
        ++p;
    }
    if (*p < '0' || *p > '9') {
        return false;
    }
    std::uint32_t v = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        v = v * 10u + static_cast<std::uint32_t>(*p - '0');
    }
    value = negative ? 0u - v : v;
    if (rest != nullptr) {
        *rest = p;
    }
    return true;
}

bool IsModeLetter(char c) {
    return c == 'L' || c == 'l' || c == 'R' || c == 'r';
}

// An option taken as a number although text follows its digits ("0x100" is 0, "9600baud" 9600).
bool ReadWithTail(const char* text, std::uint32_t& value) {
    const char* rest = nullptr;
    return text[0] != '/' && !IsModeLetter(text[0]) && ReadUnsigned(text, value, &rest) &&
           *rest != '\0';
}

}  // namespace

bool ParseArgument(const char* text, LoaderSettings& s, bool portPaths) {
    // A device path stands for the port anywhere, once; a path too long to hold is refused
    // rather than cut. Where ports have no paths, it is text without a number like any other.
    if (text[0] == '/') {
        if (!portPaths || s.port.IsSet() || std::strlen(text) >= kPortPathSize) {
            return false;
        }
        s.port.path = text;
        return true;
    }
    if (IsModeLetter(text[0])) {
        if (s.mode != ModeUnset) {
            return false;
        }
        s.mode = (text[0] == 'L' || text[0] == 'l') ? ModeLoad : ModeRun;
        return true;
    }
    std::uint32_t value = 0;
    if (s.mode == ModeUnset) {
        if (!ReadUnsigned(text, value)) {
            return false;
        }
        if (value <= 9) {
            if (s.port.IsSet()) {
                return false;
            }
            s.port.digit = static_cast<char>('0' + value);
            return true;
        }
        if (s.baudRate != 0 || value < kMinBaudRate || value > kMaxBaudRate) {
            return false;
        }
        s.baudRate = value;
        return true;
    }
    if (s.entryPoint != kEntryPointUnset || !ReadUnsigned(text, value) || value > kMaxEntryPoint) {
        return false;
    }
    s.entryPoint = value;
    return true;
}

void FillDefaults(LoaderSettings& s) {
    if (s.entryPoint == kEntryPointUnset) {
        s.entryPoint = 0;
    }
    if (s.baudRate == 0) {
        s.baudRate = kDefaultBaudRate;
    }
    if (!s.port.IsSet()) {
        s.port.digit = kDefaultPortDigit;
    }
}

CommandLine ParseCommandLine(int argc, const char* const* argv, bool portPaths) {
    CommandLine result;
    for (int i = 2; i < argc; ++i) {
        if (!ParseArgument(argv[i], result.settings, portPaths)) {
            result.refusedIndex = i;
            return result;
        }
        std::uint32_t value = 0;
        if (ReadWithTail(argv[i], value)) {
            result.readWithTail.push_back(NumberRead{i, value});
        }
    }
    FillDefaults(result.settings);
    return result;
}

}  // namespace portboot

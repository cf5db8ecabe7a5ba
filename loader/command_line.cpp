// The command line: options after the image file, read in order against what is already set.
#include "command_line.h"

#include <cstdio>
#include <cstring>

#include "console.h"
#include "console_texts.h"
#include "load_sequence.h"
#include "loader_settings.h"

LoaderSettings loaderSettings = {"COM", 0, ModeUnset, kEntryPointUnset};

namespace {

constexpr std::size_t kDigitPosition = 3;  // "COM" then the digit

// As "%u" reads: blanks skipped, one sign, digits up to the first non-digit, the value taken
// modulo 2^32 ('-' negates it). Written out by hand because scanf's overflow is undefined.
bool ReadUnsigned(const char* text, std::uint32_t& value) {
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
    return true;
}

bool PortIsSet() {
    return loaderSettings.portName[0] == '/' || loaderSettings.portName[kDigitPosition] != '\0';
}

}  // namespace

void ResetLoaderSettings() {
    std::memset(loaderSettings.portName, 0, sizeof loaderSettings.portName);
    std::memcpy(loaderSettings.portName, "COM", 3);
    loaderSettings.baudRate = 0;
    loaderSettings.mode = ModeUnset;
    loaderSettings.entryPoint = kEntryPointUnset;
}

bool ParseArgument(const char* text) {
    LoaderSettings& s = loaderSettings;
    // A device path stands for the port anywhere, once; a path too long to hold is refused
    // rather than cut.
    if (text[0] == '/') {
        if (PortIsSet() || std::strlen(text) >= kPortNameSize) {
            return false;
        }
        std::strcpy(s.portName, text);
        return true;
    }
    if (text[0] == 'L' || text[0] == 'l' || text[0] == 'R' || text[0] == 'r') {
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
            if (PortIsSet()) {
                return false;
            }
            s.portName[kDigitPosition] = static_cast<char>('0' + value);
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

void FillDefaults() {
    LoaderSettings& s = loaderSettings;
    if (s.entryPoint == kEntryPointUnset) {
        s.entryPoint = 0;
    }
    if (s.baudRate == 0) {
        s.baudRate = kDefaultBaudRate;
    }
    if (!PortIsSet()) {
        s.portName[kDigitPosition] = kDefaultPortDigit;
    }
}

int RunPortboot(int argc, char** argv) {
    SetUpConsoleOutput();
    // The file name alone is not enough, although every option has a default.
    if (argc < 3) {
        std::printf("%s\n", ToConsoleText(usageText));
        WaitForKey();
        return kExitUsage;
    }
    for (int i = 2; i < argc; ++i) {
        if (!ParseArgument(argv[i])) {
            std::printf("%s %i: '%s'\n", ToConsoleText(badArgumentText), i, argv[i]);
            WaitForKey();
            return kExitBadArgument;
        }
    }
    FillDefaults();
    return RunLoad(argv[1], comPort);
}

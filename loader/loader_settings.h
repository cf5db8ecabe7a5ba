// What the command line asks for: the port, its speed, what the device does with the code and
// where it starts it. One program-wide record; the parser fills it, the load sequence reads it.
#pragma once

#include <cstddef>
#include <cstdint>

enum LoadMode : std::uint8_t {
    ModeUnset = 0,
    ModeLoad = 1,  // letter L: keep the code in the device's flash disk
    ModeRun = 2,   // letter R: run the code
};

// "COM" plus one digit, or a device path given on the command line (POSIX: /dev/ttyUSB0).
constexpr std::size_t kPortNameSize = 256;
constexpr std::uint32_t kEntryPointUnset = 0xFFFFFFFFu;

struct LoaderSettings {
    char portName[kPortNameSize];
    std::uint32_t baudRate;
    LoadMode mode;
    std::uint32_t entryPoint;
};

extern LoaderSettings loaderSettings;

// Back to the state before any option was read: "COM" with no digit, nothing else set.
void ResetLoaderSettings();

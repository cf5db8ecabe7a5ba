// What the command line asks for: the port, its speed, what the device does with the code and
// where it starts it. The parser fills one record; main hands it to the load sequence.
#pragma once

#include <cstddef>
#include <cstdint>

namespace portboot {

enum LoadMode : std::uint8_t {
    ModeUnset = 0,
    ModeLoad = 1,  // letter L: keep the code in the device's flash disk
    ModeRun = 2,   // letter R: run the code
};

// "COM" plus one digit, or a device path given on the command line (POSIX: /dev/ttyUSB0).
constexpr std::size_t kPortNameSize = 256;
constexpr std::uint32_t kEntryPointUnset = 0xFFFFFFFFu;

// As before any option was read: "COM" with no digit, nothing else set.
struct LoaderSettings {
    char portName[kPortNameSize] = {'C', 'O', 'M'};
    std::uint32_t baudRate = 0;
    LoadMode mode = ModeUnset;
    std::uint32_t entryPoint = kEntryPointUnset;
};

}  // namespace portboot

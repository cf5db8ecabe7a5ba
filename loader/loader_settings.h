// What the command line asks for: the port, its speed, what the device does with the code and
// where it starts it. The parser fills one record; main hands it to the load sequence.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace portboot {

enum LoadMode : std::uint8_t {
    ModeUnset = 0,
    ModeLoad = 1,  // letter L: keep the code in the device's flash disk
    ModeRun = 2,   // letter R: run the code
};

// The port as the command line named it: a digit, whose device each platform names for itself,
// or a device path where the platform takes one (POSIX: /dev/ttyUSB0).
struct PortName {
    char digit = '\0';  // '0' to '9'; zero while unset
    std::string path;   // empty unless the port was named by its path

    bool IsSet() const { return digit != '\0' || !path.empty(); }
    // As the information block shows it: "COM" and the digit, or the path.
    std::string Label() const {
        return path.empty() ? std::string("COM") + (digit != '\0' ? std::string(1, digit) : "")
                            : path;
    }
};

inline PortName PortDigit(char digit) {
    return PortName{digit, std::string()};
}
inline PortName PortPath(const std::string& path) {
    return PortName{'\0', path};
}

// A device path this long or longer is refused rather than cut.
constexpr std::size_t kPortPathSize = 256;
constexpr std::uint32_t kEntryPointUnset = 0xFFFFFFFFu;

// As before any option was read: nothing set.
struct LoaderSettings {
    PortName port;
    std::uint32_t baudRate = 0;
    LoadMode mode = ModeUnset;
    std::uint32_t entryPoint = kEntryPointUnset;
};

}  // namespace portboot

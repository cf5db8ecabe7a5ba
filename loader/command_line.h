// The command line, read option by option against what is already set: a number is a port digit
// or a baud rate before the mode letter and the entry point after it. A pure function of the
// arguments: the settings come back, or the index of the option refused.
#pragma once

#include <cstdint>
#include <vector>

#include "loader_settings.h"

namespace portboot {

constexpr std::uint32_t kMinBaudRate = 9600;
constexpr std::uint32_t kMaxBaudRate = 921600;
constexpr std::uint32_t kDefaultBaudRate = 57600;
constexpr std::uint32_t kMaxEntryPoint = 0xFFFE;
constexpr char kDefaultPortDigit = '1';

// Classifies one option and stores it in `settings`; false rejects it. An option beginning with
// '/' names the port by its device path where portPaths holds, and is refused elsewhere.
bool ParseArgument(const char* text, LoaderSettings& settings, bool portPaths);

// Whatever the command line left unset gets its default value.
void FillDefaults(LoaderSettings& settings);

// An option read as a number whose text after the digits was left unread.
struct NumberRead {
    int index;            // in argv
    std::uint32_t value;  // as it was read
};

struct CommandLine {
    LoaderSettings settings;               // defaults filled, when nothing was refused
    int refusedIndex = 0;                  // the argv index of the first option refused, or 0
    std::vector<NumberRead> readWithTail;  // in the order given, up to a refused one
};

// Reads argv[2] onward (argv[1] is the image file), stopping at the first option refused.
CommandLine ParseCommandLine(int argc, const char* const* argv, bool portPaths);

}  // namespace portboot

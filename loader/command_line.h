// The program entry: the command line is read option by option into loaderSettings, where the
// meaning of a number depends on what came before it (port digit or baud before the mode
// letter, entry point after it), then the defaults are filled and the load sequence runs.
#pragma once

#include <cstdint>

constexpr std::uint32_t kMinBaudRate = 9600;
constexpr std::uint32_t kMaxBaudRate = 921600;
constexpr std::uint32_t kDefaultBaudRate = 57600;
constexpr std::uint32_t kMaxEntryPoint = 0xFFFE;
constexpr char kDefaultPortDigit = '1';

constexpr int kExitUsage = 1;
constexpr int kExitBadArgument = 2;

// Classifies one option and stores it in loaderSettings; false rejects it.
bool ParseArgument(const char* text);

// Whatever the command line left unset gets its default value.
void FillDefaults();

// Everything main does: usage, options, defaults, then the load. Returns the exit status.
int RunPortboot(int argc, char** argv);

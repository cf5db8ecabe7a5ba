// The load: open and set the port, read the image whole, print what is about to happen, then
// drive the device: init, announce the code, length and image, end of code, save or run, entry
// point. Each command byte is answered by one status byte, waited for from when the line has
// carried the command. Any stop, from a file that cannot be read to a device that refuses, goes
// through one thrown record to one place in RunLoad that prints it, closes and waits for a key.
#pragma once

#include <cstdint>

#include "com_port.h"
#include "loader_settings.h"

namespace portboot {

enum DeviceCommand : std::uint8_t {
    DevInit = 0,
    DevLoadCode = 1,
    DevExecute = 2,
    DevStop = 3,  // never sent by the load sequence
    DevSaveCode = 4,
    DevEndOfCode = 13,
};

constexpr std::uint32_t kMaxImageBytes = 0xFFFE;
constexpr std::uint32_t kStatusTimeoutMs = 2000;
constexpr std::uint32_t kWriteStallMs = 2000;
constexpr std::uint8_t kStatusOk = 0;

constexpr int kExitDone = 0;
constexpr int kExitCannotOpen = 3;
constexpr int kExitFileTooLarge = 4;
constexpr int kExitNoMemory = 5;
constexpr int kExitFileNotRead = 6;
constexpr int kExitNoAnswer = 7;
constexpr int kExitDeviceError = 8;
constexpr int kExitPortWriteFailed = 9;

// Runs the whole load of the image file on `port`, which it opens and closes, and returns the
// exit status. With showProgress the image transfer shows its progress after its label.
int RunLoad(const char* imageFileName, const LoaderSettings& settings, ComPort& port,
            bool showProgress);

// Sends one command and reads its status. Returns when the device answered 0, or at once,
// sending nothing, for a code without a label; otherwise throws the stop of the load (status 7,
// 8 or 9), which RunLoad reports.
void SendCommand(ComPort& port, std::uint8_t code);

}  // namespace portboot

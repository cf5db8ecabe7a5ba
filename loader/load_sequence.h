// The load: open and set the port, read the image whole, print what is about to happen, then
// drive the device: init, announce the code, length and image, end of code, save or run, entry
// point. Each command byte is answered by one status byte; a missing or non-zero status ends
// the sequence through one thrown exit status, caught in RunLoad.
#pragma once

#include <cstdint>

#include "com_port.h"

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
constexpr std::uint8_t kStatusOk = 0;

constexpr int kExitDone = 0;
constexpr int kExitCannotOpen = 3;
constexpr int kExitFileTooLarge = 4;
constexpr int kExitNoMemory = 5;
constexpr int kExitFileNotRead = 6;
constexpr int kExitNoAnswer = 7;
constexpr int kExitDeviceError = 8;
constexpr int kExitPortWriteFailed = 9;

// The one port of the program, closed until RunLoad opens it.
extern ComPort comPort;

// Runs the whole load on `port` with loaderSettings; returns the exit status.
int RunLoad(const char* imageFileName, ComPort& port);

// Sends one command and reads its status. Returns when the device answered 0, or at once,
// sending nothing, for a code without a label; throws kExitPortWriteFailed when the byte does
// not go out, kExitNoAnswer or kExitDeviceError when the answer is missing or not 0.
void SendCommand(ComPort& port, std::uint8_t code);

// The load: open and set the port, read the image whole, print what is about to happen, then
// drive the device: init, announce the code, length and image, end of code, save or run, entry
// point. Each command byte is answered by one status byte, waited for from when the line has
// carried the command. Any stop, from a file that cannot be read to a device that refuses,
// comes back from RunLoad as a value, which main reports.
#pragma once

#include <cstdint>

#include "com_port.h"
#include "console_texts.h"
#include "load_result.h"
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

constexpr std::uint8_t kStatusOk = 0;

// Runs the whole load of the image file on `port`, which it opens and closes, and returns how it
// ended. With showProgress the image transfer shows its progress after its label.
LoadResult RunLoad(const char* imageFileName, const LoaderSettings& settings, ComPort& port,
                   bool showProgress, const ConsoleTexts& texts);

// Sends one command and reads its status. Status 0 when the device answered 0, or at once,
// sending nothing, for a code without a label; otherwise the stop of the load (status 7, 8 or
// 9), its note still to be added.
LoadResult SendCommand(ComPort& port, std::uint8_t code, const ConsoleTexts& texts);

}  // namespace portboot

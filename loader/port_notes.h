// A line for a person under a fixed failure text about the port, in the console's encoding:
// which device, the system's reason in its own words, and what to do about it. The texts the
// load prints stay as they are; where a platform has nothing to add, the note is empty.
#pragma once

#include <cstdint>
#include <string>

#include "com_port.h"
#include "console_texts.h"
#include "loader_settings.h"

namespace portboot {

// After a failed ComPort::Open of the port named on the command line, with its error code and
// what the port refused on purpose.
std::string PortOpenNote(const ConsoleTexts& texts, const PortName& port, int error,
                         PortRefusal refusal);
// After a write or a read of the open port failed with the error code.
std::string PortTransferNote(const ConsoleTexts& texts, const PortName& port, int error);
// After the device left a command unanswered: the port, its speed and what to check.
std::string NoAnswerNote(const ConsoleTexts& texts, const PortName& port, std::uint32_t baudRate);

}  // namespace portboot

// How a run of portboot ended, as a value: the exit status and what to tell the person. The code
// that stops says why; main prints it once (PrintResult) and waits for the key.
#pragma once

#include <string>

#include "console_texts.h"

namespace portboot {

constexpr int kExitDone = 0;
constexpr int kExitUsage = 1;
constexpr int kExitBadArgument = 2;
constexpr int kExitCannotOpen = 3;
constexpr int kExitFileTooLarge = 4;
constexpr int kExitNoMemory = 5;
constexpr int kExitFileNotRead = 6;
constexpr int kExitNoAnswer = 7;
constexpr int kExitDeviceError = 8;
constexpr int kExitPortWriteFailed = 9;

struct LoadResult {
    enum class Form {
        Done,         // the load went through: nothing to say, no key to wait for
        Usage,        // the usage text and the platform's note under it
        BadArgument,  // "%s %i: '%s'\n": the text, the option's index and the option
        Text,         // the text and a line feed
        TextAndCode,  // "%s %i\n": the text and a number
        // On standard error: the name, ": " and the description of an error number, or the
        // reason where one is given.
        Description,
    };

    int status = kExitDone;
    Form form = Form::Done;
    Text text = Text::Usage;     // what the report says; Description: unless ownName
    int code = 0;                // the number printed, or the error number described
    std::string name{};          // BadArgument: the option; Description with ownName: the file
    bool ownName = false;        // Description: the name is the user's own, not a text
    bool ownLine = false;        // the report begins a line of its own
    std::string note{};          // the platform's line under the text, if it has one
    std::string reason{};        // Description: what happened, where no error number says it
    bool exchangeBegun = false;  // the device was spoken to: a line feed follows the key
};

// Prints what the result says, in the console's encoding (the names too): nothing for Done.
void PrintResult(const LoadResult& result, const ConsoleTexts& texts);

}  // namespace portboot

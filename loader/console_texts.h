// Every text portboot prints is held as Windows-1251 bytes and put into the console's own
// encoding once, the first time ToConsoleText is asked for it; later calls hand back the same
// converted text, so a text can never be converted twice.
#pragma once

#include <cstddef>

namespace portboot {

struct ConsoleText {
    char* bytes;         // Windows-1251, zero-terminated
    std::size_t length;  // how many bytes the conversion covers
    const char* shown;   // the converted text; null until ToConsoleText has run
};

// Converts the text on its first call and returns the printable form.
const char* ToConsoleText(ConsoleText& text);

extern ConsoleText usageText;
// The platform's paragraph under the usage text, in its console_<platform>.cpp; empty on Windows.
extern ConsoleText usageNoteText;
extern ConsoleText badArgumentText;
extern ConsoleText portOpenErrorText;
extern ConsoleText fileTooLargeText;
extern ConsoleText noMemoryText;
extern ConsoleText fileNotLoadedText;
extern ConsoleText noAnswerText;
extern ConsoleText deviceErrorText;
extern ConsoleText portWriteErrorText;
extern ConsoleText portReadErrorText;
extern ConsoleText loadFinishedText;
// The information block's format; its directory separator belongs to the platform, so each
// console_<platform>.cpp holds this one.
extern ConsoleText infoFormatText;
extern ConsoleText functionRunText;
extern ConsoleText functionLoadText;

// Progress labels of the device commands 0 to 4 and, at index 5, of command 13.
constexpr int kCommandLabelCount = 6;
extern ConsoleText* const commandLabels[kCommandLabelCount];

}  // namespace portboot

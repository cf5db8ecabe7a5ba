// Every text portboot prints, held as constant Windows-1251 bytes and put into the console's own
// encoding once, where the program starts: main makes one ConsoleTexts and hands it to whatever
// prints. Nothing is converted later, so no text is converted twice or changes under a reader.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace portboot {

enum class Text : std::uint8_t {
    Usage,
    UsageNote,  // the platform's paragraph under the usage text; empty on Windows
    BadArgument,
    PortOpenError,
    FileTooLarge,
    NoMemory,
    FileNotLoaded,
    NoAnswer,
    DeviceError,
    PortWriteError,
    PortReadError,
    LoadFinished,
    InfoFormat,
    FunctionRun,
    FunctionLoad,
    // The progress labels of the device commands 0 to 4 and of command 13, in that order.
    LabelInit,
    LabelLoadCode,
    LabelExecute,
    LabelStop,
    LabelSaveCode,
    LabelEndOfCode,
    // The formats of the lines a platform adds under a failure of the port or an option; empty
    // on Windows.
    NotePort,
    NoteNoAccess,
    NoteExisting,
    NoteNoneExist,
    NoteOwnTerminal,
    NoteHeld,
    NoteHolder,
    NoteHiddenHolder,
    // What a read that came short without an error number met, where the platform says it.
    NoteEmptyFile,
    NoteShortRead,     // the bytes read and the bytes measured
    NoteLocked,        // a lock file names a live process
    NoteNoAnswer,      // under "no answer": the port, its speed and what to check
    NoteModemService,  // added to NoteNoAnswer where a modem-probing service runs
    NoteReadAs,        // an option whose number was read with text after it left unread
    KeyPrompt,         // on the terminal during the key wait; empty where the wait shows none
    Count
};
constexpr std::size_t kTextCount = static_cast<std::size_t>(Text::Count);

struct TextBytes {
    const char* bytes;   // Windows-1251, zero-terminated
    std::size_t length;  // how many bytes the conversion covers
};

// A text of zero-terminated bytes, converted without its terminator.
template <std::size_t N>
constexpr TextBytes Bytes(const char (&bytes)[N]) {
    return TextBytes{bytes, N - 1};
}

// The text as the program holds it, before conversion.
TextBytes SourceOf(Text id);
// The platform's texts: UsageNote and KeyPrompt through console_<platform>.cpp, the port's
// notes through port_notes_<platform>.cpp, the image's through image_file_<platform>.cpp.
TextBytes ConsolePlatformText(Text id);
TextBytes PortNoteText(Text id);
TextBytes ImageNoteText(Text id);
// The Linux program's own texts, kept here beside the common ones; empty for any other.
TextBytes LinuxText(Text id);

class ConsoleTexts {
  public:
    ConsoleTexts();  // converts every text

    const char* operator[](Text id) const { return shown_[static_cast<std::size_t>(id)].c_str(); }
    // How many columns the text takes: a Windows-1251 byte is one character.
    static std::size_t Columns(Text id) { return SourceOf(id).length; }

  private:
    std::array<std::string, kTextCount> shown_;
};

}  // namespace portboot

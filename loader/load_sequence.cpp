// The load sequence and the device protocol. Multi-byte numbers go out big-endian; the image
// always goes out as an even number of bytes.
#include "load_sequence.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <initializer_list>
#include <memory>
#include <new>
#include <string>

#include "console.h"
#include "console_texts.h"
#include "image_file.h"
#include "port_notes.h"
#include "progress_view.h"

namespace portboot {

namespace {

constexpr std::size_t kCurrentDirSize = 256;  // with its terminator
constexpr int kEndOfCodeLabel = 5;
// The image goes out in parts of this much line time, each counted in the progress view. While
// the view is shown, no more than kLineLeadMs go ahead of the line: enough that the line never
// idles, little enough that what the view counts as sent has nearly crossed it.
constexpr std::uint32_t kImagePartMs = 50;
constexpr std::uint32_t kLineLeadMs = 200;
constexpr std::uint32_t kMinImagePart = 64;
constexpr std::uint32_t kBitsPerByte = 10;
constexpr std::uint32_t kMsPerSecond = 1000;

// Why the load stopped, and how to say so; printed once, in RunLoad.
struct LoadStop {
    enum class Form {
        Text,         // the text and a line feed
        TextAndCode,  // "%s %i\n": the text and a number
        Description,  // on standard error: the name, ": " and the description of an error number
    };
    int status;
    Form form;
    ConsoleText* text;      // Description: null when the name is the user's own
    int code = 0;           // TextAndCode: the number; Description: the error number
    const char* name = "";  // Description without a text
    bool ownLine = false;   // the text begins a line of its own
    std::string note{};     // the platform's line under the text, if it has one
};

void Print(const LoadStop& stop) {
    if (stop.ownLine) {
        std::printf("\n");
    }
    switch (stop.form) {
        case LoadStop::Form::Text:
            std::printf("%s\n", ToConsoleText(*stop.text));
            break;
        case LoadStop::Form::TextAndCode:
            std::printf("%s %i\n", ToConsoleText(*stop.text), stop.code);
            break;
        case LoadStop::Form::Description: {
            // The conversion may touch errno itself: the number is set after it.
            const char* name = stop.text != nullptr ? ToConsoleText(*stop.text) : stop.name;
            errno = stop.code;
            std::perror(name);
            break;
        }
    }
    if (!stop.note.empty()) {
        std::printf("%s\n", stop.note.c_str());
    }
}

// What the platform adds under a failure of the port (its device, the system's reason).
std::string PortNote(const LoadStop& stop, const LoaderSettings& s) {
    if (stop.form != LoadStop::Form::TextAndCode) {
        return std::string();
    }
    switch (stop.status) {
        case kExitCannotOpen:
            return PortOpenNote(s.portName, stop.code);
        case kExitNoAnswer:
        case kExitPortWriteFailed:
            return PortTransferNote(s.portName, stop.code);
        default:
            return std::string();
    }
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

struct Image {
    std::unique_ptr<std::uint8_t[]> bytes;
    std::uint32_t length = 0;
    std::uint32_t paddedLength = 0;  // rounded up to even
};

std::uint8_t HighByte(std::uint32_t value) {
    return static_cast<std::uint8_t>(value >> 8);
}
std::uint8_t LowByte(std::uint32_t value) {
    return static_cast<std::uint8_t>(value & 0xFFu);
}

ConsoleText* LabelFor(std::uint8_t code) {
    if (code <= DevSaveCode) {
        return commandLabels[code];
    }
    if (code == DevEndOfCode) {
        return commandLabels[kEndOfCodeLabel];
    }
    return nullptr;
}

[[noreturn]] void StopWriting(int error) {
    throw LoadStop{kExitPortWriteFailed, LoadStop::Form::TextAndCode, &portWriteErrorText, error};
}

// A write that moved nothing within its stall limit, or failed.
void CheckWritten(int n) {
    if (n < 0) {
        StopWriting(LastSystemError());
    }
    if (n == 0) {
        StopWriting(WriteTimeoutError());
    }
}

void OpenPort(ComPort& port, const LoaderSettings& s) {
    if (!port.Open(s.portName, s.baudRate)) {
        throw LoadStop{kExitCannotOpen, LoadStop::Form::TextAndCode, &portOpenErrorText,
                       LastSystemError()};
    }
}

// What waited in the line before the first command (a board's banner after DTR reset it while
// the image was read, noise at the old speed) is no answer to anything we send.
void DiscardStaleInput(ComPort& port) {
    if (!port.DiscardInput()) {
        LoadStop stop{kExitCannotOpen, LoadStop::Form::TextAndCode, &portOpenErrorText,
                      LastSystemError()};
        stop.ownLine = true;
        throw stop;
    }
}

// False when the file cannot be measured or is too long, so the caller reports "too large".
bool MeasureFile(std::FILE* file, std::uint32_t& length) {
    if (std::fseek(file, 0, SEEK_END) != 0) {
        return false;
    }
    const long end = std::ftell(file);
    if (end < 0 || static_cast<unsigned long>(end) > kMaxImageBytes ||
        std::fseek(file, 0, SEEK_SET) != 0) {
        return false;
    }
    length = static_cast<std::uint32_t>(end);
    return true;
}

// Statuses 3 to 6.
Image ReadImage(const char* name) {
    // Only a regular file has a length to send; a directory or a device has none.
    const LoadStop tooLarge{kExitFileTooLarge, LoadStop::Form::Text, &fileTooLargeText};
    bool notRegular = false;
    File file(OpenImageFile(name, notRegular));
    if (notRegular) {
        throw tooLarge;
    }
    if (!file) {
        throw LoadStop{kExitCannotOpen, LoadStop::Form::Description, nullptr, errno, name};
    }
    Image image;
    if (!MeasureFile(file.get(), image.length)) {
        throw tooLarge;
    }
    image.paddedLength = (image.length + 1) & 0xFFFEu;
    // The pad byte of an odd image is 0.
    image.bytes.reset(new (std::nothrow) std::uint8_t[image.paddedLength]());
    if (!image.bytes) {
        throw LoadStop{kExitNoMemory, LoadStop::Form::Text, &noMemoryText};
    }
    // A short or empty file sets no error number of its own: the description is that of 0.
    errno = 0;
    if (std::fread(image.bytes.get(), image.length, 1, file.get()) != 1) {
        throw LoadStop{kExitFileNotRead, LoadStop::Form::Description, &fileNotLoadedText, errno};
    }
    return image;
}

void PrintInformationBlock(const char* imageFileName, const LoaderSettings& s,
                           std::uint32_t length) {
    for (ConsoleText* label : commandLabels) {
        ToConsoleText(*label);
    }
    char currentDir[kCurrentDirSize];
    GetCurrentDir(currentDir, sizeof currentDir);
    std::printf(
        ToConsoleText(infoFormatText), currentDir, imageFileName, s.portName,
        static_cast<unsigned>(s.baudRate),
        s.mode == ModeRun ? ToConsoleText(functionRunText) : ToConsoleText(functionLoadText),
        static_cast<unsigned>(s.entryPoint), static_cast<unsigned>(length));
}

void WaitForLine(ComPort& port) {
    if (!port.WaitForLine(kWriteStallMs)) {
        StopWriting(LastSystemError());
    }
}

// Commands, the length and the entry point go out a byte at a time. The last two get no status
// from the device, but a byte of them that does not go out is as fatal as a lost command.
void SendBytes(ComPort& port, std::initializer_list<std::uint8_t> bytes) {
    for (std::uint8_t byte : bytes) {
        CheckWritten(port.Write(&byte, 1, kWriteStallMs));
    }
}

// The image in parts; every part goes on from where the last stopped. A part that fails or moves
// nothing within the stall limit stops the load with the system error code.
void SendImage(ComPort& port, const Image& image, std::uint32_t baudRate, bool showProgress) {
    // The view follows the label of the command that announced the image, which began a line.
    ProgressView progress(showProgress, commandLabels[DevLoadCode]->length, ConsoleColumns());
    const std::uint32_t part =
        std::max(kMinImagePart, baudRate / kBitsPerByte * kImagePartMs / kMsPerSecond);
    std::uint32_t sent = 0;
    progress.Update(sent, image.paddedLength);
    while (sent < image.paddedLength) {
        if (showProgress) {
            port.KeepPace(kLineLeadMs);
        }
        const int n = port.Write(image.bytes.get() + sent,
                                 std::min(part, image.paddedLength - sent), kWriteStallMs);
        CheckWritten(n);
        sent += static_cast<std::uint32_t>(n);
        progress.Update(sent, image.paddedLength);
    }
}

void ExchangeWithDevice(ComPort& port, const LoaderSettings& s, const Image& image,
                        bool showProgress) {
    DiscardStaleInput(port);
    SendCommand(port, DevInit);
    SendCommand(port, DevLoadCode);
    SendBytes(port, {0, 0, HighByte(image.length), LowByte(image.length)});
    SendImage(port, image, s.baudRate, showProgress);
    SendCommand(port, DevEndOfCode);
    std::printf("%s", ToConsoleText(loadFinishedText));
    SendCommand(port, s.mode == ModeRun ? DevExecute : DevSaveCode);
    SendBytes(port, {HighByte(s.entryPoint), LowByte(s.entryPoint)});
    // The load is done when the device has the entry point, not when a driver took it.
    WaitForLine(port);
}

}  // namespace

void SendCommand(ComPort& port, std::uint8_t code) {
    std::printf("\n");
    ConsoleText* label = LabelFor(code);
    if (label == nullptr) {
        std::printf(" %u ???", static_cast<unsigned>(code));
        return;
    }
    std::printf("%s", ToConsoleText(*label));
    SendBytes(port, {code});
    // The wait for the answer counts from when the command has crossed the line.
    WaitForLine(port);
    std::uint8_t status = 0;
    switch (port.ReadStatus(status, kStatusTimeoutMs)) {
        case ReadResult::Received:
            break;
        case ReadResult::TimedOut:
            throw LoadStop{kExitNoAnswer, LoadStop::Form::Text, &noAnswerText};
        case ReadResult::Failed:
            throw LoadStop{kExitNoAnswer, LoadStop::Form::TextAndCode, &portReadErrorText,
                           LastSystemError()};
    }
    if (status != kStatusOk) {
        throw LoadStop{kExitDeviceError, LoadStop::Form::TextAndCode, &deviceErrorText, status};
    }
}

int RunLoad(const char* imageFileName, const LoaderSettings& settings, ComPort& port,
            bool showProgress) {
    bool exchangeBegun = false;
    try {
        OpenPort(port, settings);
        const Image image = ReadImage(imageFileName);
        PrintInformationBlock(imageFileName, settings, image.length);
        exchangeBegun = true;
        ExchangeWithDevice(port, settings, image, showProgress);
    } catch (LoadStop& stop) {
        stop.note = PortNote(stop, settings);
        Print(stop);
        // The port is free for another try while the message waits to be read.
        port.Close();
        WaitForKey();
        if (exchangeBegun) {
            std::printf("\n");
        }
        return stop.status;
    }
    port.Close();
    std::printf("\n");
    return kExitDone;
}

}  // namespace portboot

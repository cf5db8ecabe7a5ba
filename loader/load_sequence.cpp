// The load sequence and the device protocol. Multi-byte numbers go out big-endian; the image
// always goes out as an even number of bytes. A stop deep in the sequence is thrown as its
// result and caught in one place, RunLoad, which hands it back as the value.
#include "load_sequence.h"

#include <algorithm>
#include <cstdio>
#include <initializer_list>
#include <string>

#include "console.h"
#include "image_file.h"
#include "port_notes.h"
#include "progress_view.h"

namespace portboot {

namespace {

constexpr std::size_t kCurrentDirSize = 256;  // with its terminator
// The image goes out in parts of this much line time, each counted in the progress view. While
// the view is shown, no more than kLineLeadMs go ahead of the line: enough that the line never
// idles, little enough that what the view counts as sent has nearly crossed it.
constexpr std::uint32_t kImagePartMs = 50;
constexpr std::uint32_t kLineLeadMs = 200;
constexpr std::uint32_t kMinImagePart = 64;
constexpr std::uint32_t kMsPerSecond = 1000;

LoadResult Stop(int status, LoadResult::Form form, Text text, int code = 0) {
    LoadResult stop;
    stop.status = status;
    stop.form = form;
    stop.text = text;
    stop.code = code;
    return stop;
}

// What the platform adds under a failure of the port (its device, the system's reason) or a
// silent device (what to check).
std::string PortNote(const LoadResult& stop, const LoaderSettings& s, const ComPort& port,
                     const ConsoleTexts& texts) {
    if (stop.form == LoadResult::Form::Text && stop.text == Text::NoAnswer) {
        return NoAnswerNote(texts, s.port, s.baudRate);
    }
    if (stop.form != LoadResult::Form::TextAndCode) {
        return std::string();
    }
    switch (stop.status) {
        case kExitCannotOpen:
            return PortOpenNote(texts, s.port, stop.code, port.Refusal());
        case kExitNoAnswer:
        case kExitPortWriteFailed:
            return PortTransferNote(texts, s.port, stop.code);
        default:
            return std::string();
    }
}

std::uint8_t HighByte(std::uint32_t value) {
    return static_cast<std::uint8_t>(value >> 8);
}
std::uint8_t LowByte(std::uint32_t value) {
    return static_cast<std::uint8_t>(value & 0xFFu);
}

// The progress label of a device command; false for a code that has none.
bool LabelFor(std::uint8_t code, Text& label) {
    if (code <= DevSaveCode) {
        label = static_cast<Text>(static_cast<int>(Text::LabelInit) + code);
        return true;
    }
    if (code == DevEndOfCode) {
        label = Text::LabelEndOfCode;
        return true;
    }
    return false;
}

void Require(const LoadResult& step) {
    if (step.status != kExitDone) {
        throw step;
    }
}

LoadResult WriteStop(int error) {
    return Stop(kExitPortWriteFailed, LoadResult::Form::TextAndCode, Text::PortWriteError, error);
}

// A write that moved nothing within its stall limit, or failed.
LoadResult Written(int n) {
    if (n < 0) {
        return WriteStop(LastSystemError());
    }
    if (n == 0) {
        return WriteStop(WriteTimeoutError());
    }
    return LoadResult{};
}

void OpenPort(ComPort& port, const LoaderSettings& s) {
    if (!port.Open(s.port, s.baudRate)) {
        throw Stop(kExitCannotOpen, LoadResult::Form::TextAndCode, Text::PortOpenError,
                   LastSystemError());
    }
}

// What waited in the line before the first command (a board's banner after DTR reset it while
// the image was read, noise at the old speed) is no answer to anything we send.
void DiscardStaleInput(ComPort& port) {
    if (!port.DiscardInput()) {
        LoadResult stop = Stop(kExitCannotOpen, LoadResult::Form::TextAndCode, Text::PortOpenError,
                               LastSystemError());
        stop.ownLine = true;
        throw stop;
    }
}

// Statuses 3 to 6.
Image ReadImage(const char* name, const ConsoleTexts& texts) {
    Image image;
    int error = 0;
    switch (ReadImageFile(name, image, error)) {
        case ImageRead::Read:
            return image;
        case ImageRead::CannotOpen: {
            LoadResult stop =
                Stop(kExitCannotOpen, LoadResult::Form::Description, Text::Usage, error);
            stop.ownName = true;
            stop.name = name;
            throw stop;
        }
        case ImageRead::TooLarge:
            throw Stop(kExitFileTooLarge, LoadResult::Form::Text, Text::FileTooLarge);
        case ImageRead::NoMemory:
            throw Stop(kExitNoMemory, LoadResult::Form::Text, Text::NoMemory);
        case ImageRead::NotRead:
            break;
    }
    LoadResult stop =
        Stop(kExitFileNotRead, LoadResult::Form::Description, Text::FileNotLoaded, error);
    if (error == 0) {
        stop.reason = ShortReadReason(image, texts);
    }
    throw stop;
}

void PrintInformationBlock(const char* imageFileName, const LoaderSettings& s, std::uint32_t length,
                           const ConsoleTexts& texts) {
    char currentDir[kCurrentDirSize];
    GetCurrentDir(currentDir, sizeof currentDir);
    const std::string path = NameToConsole(ShownImagePath(currentDir, imageFileName, kPathStyle));
    std::printf(texts[Text::InfoFormat], path.c_str(), s.port.Label().c_str(),
                static_cast<unsigned>(s.baudRate),
                s.mode == ModeRun ? texts[Text::FunctionRun] : texts[Text::FunctionLoad],
                static_cast<unsigned>(s.entryPoint), static_cast<unsigned>(length));
}

LoadResult WaitForLine(ComPort& port) {
    return port.WaitForLine(kLineTimeoutMs) ? LoadResult{} : WriteStop(LastSystemError());
}

// Commands, the length and the entry point go out a byte at a time. The last two get no status
// from the device, but a byte of them that does not go out is as fatal as a lost command.
LoadResult SendBytes(ComPort& port, std::initializer_list<std::uint8_t> bytes) {
    for (std::uint8_t byte : bytes) {
        const LoadResult written = Written(port.Write(&byte, 1, kLineTimeoutMs));
        if (written.status != kExitDone) {
            return written;
        }
    }
    return LoadResult{};
}

// The image in parts; every part goes on from where the last stopped. A part that fails or moves
// nothing within the stall limit stops the load with the system error code.
void SendImage(ComPort& port, const Image& image, std::uint32_t baudRate, bool showProgress) {
    // The view follows the label of the command that announced the image, which began a line.
    ProgressView progress(showProgress, ConsoleTexts::Columns(Text::LabelLoadCode),
                          ConsoleColumns());
    const std::uint32_t part =
        std::max(kMinImagePart, BytesPerSecond(baudRate) * kImagePartMs / kMsPerSecond);
    std::uint32_t sent = 0;
    progress.Update(sent, image.paddedLength);
    while (sent < image.paddedLength) {
        if (showProgress) {
            port.KeepPace(kLineLeadMs);
        }
        const int n = port.Write(image.bytes.get() + sent,
                                 std::min(part, image.paddedLength - sent), kLineTimeoutMs);
        Require(Written(n));
        sent += static_cast<std::uint32_t>(n);
        progress.Update(sent, image.paddedLength);
    }
}

void ExchangeWithDevice(ComPort& port, const LoaderSettings& s, const Image& image,
                        bool showProgress, const ConsoleTexts& texts) {
    DiscardStaleInput(port);
    Require(SendCommand(port, DevInit, texts));
    Require(SendCommand(port, DevLoadCode, texts));
    Require(SendBytes(port, {0, 0, HighByte(image.length), LowByte(image.length)}));
    SendImage(port, image, s.baudRate, showProgress);
    Require(SendCommand(port, DevEndOfCode, texts));
    std::printf("%s", texts[Text::LoadFinished]);
    Require(SendCommand(port, s.mode == ModeRun ? DevExecute : DevSaveCode, texts));
    Require(SendBytes(port, {HighByte(s.entryPoint), LowByte(s.entryPoint)}));
    // The load is done when the device has the entry point, not when a driver took it.
    Require(WaitForLine(port));
}

}  // namespace

LoadResult SendCommand(ComPort& port, std::uint8_t code, const ConsoleTexts& texts) {
    std::printf("\n");
    Text label = Text::LabelInit;
    if (!LabelFor(code, label)) {
        std::printf(" %u ???", static_cast<unsigned>(code));
        return LoadResult{};
    }
    std::printf("%s", texts[label]);
    LoadResult sent = SendBytes(port, {code});
    if (sent.status != kExitDone) {
        return sent;
    }
    // The wait for the answer counts from when the command has crossed the line.
    sent = WaitForLine(port);
    if (sent.status != kExitDone) {
        return sent;
    }
    std::uint8_t status = 0;
    switch (port.ReadStatus(status, kLineTimeoutMs)) {
        case ReadResult::Received:
            break;
        case ReadResult::TimedOut:
            return Stop(kExitNoAnswer, LoadResult::Form::Text, Text::NoAnswer);
        case ReadResult::Failed:
            return Stop(kExitNoAnswer, LoadResult::Form::TextAndCode, Text::PortReadError,
                        LastSystemError());
    }
    if (status != kStatusOk) {
        return Stop(kExitDeviceError, LoadResult::Form::TextAndCode, Text::DeviceError, status);
    }
    return LoadResult{};
}

LoadResult RunLoad(const char* imageFileName, const LoaderSettings& settings, ComPort& port,
                   bool showProgress, const ConsoleTexts& texts) {
    bool exchangeBegun = false;
    LoadResult result;
    try {
        OpenPort(port, settings);
        const Image image = ReadImage(imageFileName, texts);
        PrintInformationBlock(imageFileName, settings, image.length, texts);
        exchangeBegun = true;
        ExchangeWithDevice(port, settings, image, showProgress, texts);
    } catch (const LoadResult& stop) {
        result = stop;
        // The note is made while the port still says why it refused.
        result.note = PortNote(stop, settings, port, texts);
    }
    result.exchangeBegun = exchangeBegun;
    // The port is free for another try while the message waits to be read.
    port.Close();
    return result;
}

}  // namespace portboot

// The load sequence and the device protocol. Multi-byte numbers go out big-endian; the image
// always goes out as an even number of bytes.
#include "load_sequence.h"

#include <cerrno>
#include <cstdio>
#include <initializer_list>
#include <memory>
#include <new>

#include "console.h"
#include "console_texts.h"
#include "loader_settings.h"

ComPort comPort;

namespace {

constexpr std::uint32_t kReadIntervalMax = kTimeoutMax;
constexpr std::uint32_t kReadMultiplierMax = kTimeoutMax;
constexpr std::uint32_t kWriteMultiplier = 0;
constexpr std::size_t kCurrentDirSize = 256;  // with its terminator
constexpr int kEndOfCodeLabel = 5;

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// Whatever way RunLoad leaves, the port is released on the way out.
class PortReleaser {
  public:
    explicit PortReleaser(ComPort& port) : port_(port) {}
    ~PortReleaser() { port_.Close(); }
    PortReleaser(const PortReleaser&) = delete;
    PortReleaser& operator=(const PortReleaser&) = delete;

  private:
    ComPort& port_;
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

// Sends the whole block; every call goes on from where the last stopped. A call that fails or
// moves nothing within its time-out abandons the load like a failed command, with the system
// error code.
void SendBlock(ComPort& port, const std::uint8_t* block, std::uint32_t size) {
    std::uint32_t sent = 0;
    while (sent < size) {
        const int n = port.Write(block + sent, size - sent);
        if (n <= 0) {
            const int error = n < 0 ? LastSystemError() : WriteTimeoutError();
            std::printf("%s %i\n", ToConsoleText(portWriteErrorText), error);
            throw kExitPortWriteFailed;
        }
        sent += static_cast<std::uint32_t>(n);
    }
}

// Commands, the length and the entry point go out a byte at a time. The last two get no status
// from the device, but a byte of them that does not go out is as fatal as a lost command.
void SendBytes(ComPort& port, std::initializer_list<std::uint8_t> bytes) {
    for (std::uint8_t byte : bytes) {
        SendBlock(port, &byte, 1);
    }
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
    std::uint8_t status = 0;
    if (!port.ReadByte(status)) {
        std::printf("%s\n", ToConsoleText(noAnswerText));
        throw kExitNoAnswer;
    }
    if (status != kStatusOk) {
        std::printf("%s %u\n", ToConsoleText(deviceErrorText), static_cast<unsigned>(status));
        throw kExitDeviceError;
    }
}

int RunLoad(const char* imageFileName, ComPort& port) {
    const LoaderSettings& s = loaderSettings;
    PortReleaser releaser(port);

    if (!port.Configure(s.portName, s.baudRate, 0, 8, 0)) {
        const int error = LastSystemError();
        std::printf("%s %i\n", ToConsoleText(portOpenErrorText), error);
        WaitForKey();
        return kExitCannotOpen;
    }
    port.SetTimeouts(kReadIntervalMax, kReadMultiplierMax, kStatusTimeoutMs, kWriteMultiplier);

    File file(std::fopen(imageFileName, "rb"));
    if (!file) {
        const int error = errno;
        port.Close();
        errno = error;
        std::perror(imageFileName);
        WaitForKey();
        return kExitCannotOpen;
    }

    std::uint32_t length = 0;
    if (!MeasureFile(file.get(), length)) {
        std::printf("%s\n", ToConsoleText(fileTooLargeText));
        WaitForKey();
        return kExitFileTooLarge;
    }

    // Rounded up to even; the pad byte of an odd image is 0.
    const std::uint32_t paddedLength = (length + 1) & 0xFFFEu;
    std::unique_ptr<std::uint8_t[]> buffer(new (std::nothrow) std::uint8_t[paddedLength]());
    if (!buffer) {
        std::printf("%s\n", ToConsoleText(noMemoryText));
        WaitForKey();
        return kExitNoMemory;
    }

    // A short or empty file sets no error number of its own: the description is that of 0.
    errno = 0;
    if (std::fread(buffer.get(), length, 1, file.get()) != 1) {
        std::perror(ToConsoleText(fileNotLoadedText));
        WaitForKey();
        return kExitFileNotRead;
    }

    for (ConsoleText* label : commandLabels) {
        ToConsoleText(*label);
    }
    ToConsoleText(infoFormatText);
    ToConsoleText(functionRunText);
    ToConsoleText(functionLoadText);
    char currentDir[kCurrentDirSize];
    GetCurrentDir(currentDir, sizeof currentDir);
    std::printf(infoFormatText.shown, currentDir, imageFileName, s.portName,
                static_cast<unsigned>(s.baudRate),
                s.mode == ModeRun ? functionRunText.shown : functionLoadText.shown,
                static_cast<unsigned>(s.entryPoint), static_cast<unsigned>(length));

    ToConsoleText(noAnswerText);
    ToConsoleText(deviceErrorText);
    ToConsoleText(portWriteErrorText);

    int status = kExitDone;
    try {
        SendCommand(port, DevInit);
        SendCommand(port, DevLoadCode);
        SendBytes(port, {0, 0, HighByte(length), LowByte(length)});
        SendBlock(port, buffer.get(), paddedLength);
        SendCommand(port, DevEndOfCode);
        std::printf("%s", ToConsoleText(loadFinishedText));
        SendCommand(port, s.mode == ModeRun ? DevExecute : DevSaveCode);
        SendBytes(port, {HighByte(s.entryPoint), LowByte(s.entryPoint)});
    } catch (int failed) {
        WaitForKey();
        status = failed;
    }
    std::printf("\n");
    return status;
}

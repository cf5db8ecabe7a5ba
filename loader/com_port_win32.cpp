// ComPort on Windows: the port is a file handle opened exclusively with CreateFileA; the line is
// set with a device-control record and the time-outs with SetCommTimeouts, so ReadFile and
// WriteFile carry the time-out rules themselves.
#include <windows.h>

#include "com_port.h"

static_assert(sizeof(DCB) == 28, "the device-control record is 28 bytes");

namespace {
HANDLE AsHandle(PortHandle handle) {
    return reinterpret_cast<HANDLE>(handle);
}
}  // namespace

void ComPort::Open(const char* name) {
    if (handle != kInvalidPortHandle) {
        return;
    }
    const HANDLE h = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    handle = reinterpret_cast<PortHandle>(h);
}

int ComPort::Write(const void* data, std::uint32_t count) {
    DWORD written = 0;
    if (!WriteFile(AsHandle(handle), data, count, &written, nullptr)) {
        return -1;
    }
    bytesWritten += written;
    return static_cast<int>(written);
}

int ComPort::Read(void* data, std::uint32_t count) {
    DWORD got = 0;
    if (!ReadFile(AsHandle(handle), data, count, &got, nullptr)) {
        return -1;
    }
    bytesRead += got;
    return static_cast<int>(got);
}

bool ComPort::SetTimeouts(std::uint32_t readInterval, std::uint32_t readMultiplier,
                          std::uint32_t constant, std::uint32_t writeMultiplier) {
    COMMTIMEOUTS t = {};
    t.ReadIntervalTimeout = readInterval;
    t.ReadTotalTimeoutMultiplier = readMultiplier;
    t.ReadTotalTimeoutConstant = constant;
    t.WriteTotalTimeoutMultiplier = writeMultiplier;
    t.WriteTotalTimeoutConstant = constant;
    return SetCommTimeouts(AsHandle(handle), &t) != 0;
}

bool ComPort::ApplyLineSettings(std::uint32_t baudRate, std::uint8_t parity, std::uint8_t byteSize,
                                std::uint8_t stopBits) {
    // Every other flag stays off: no parity check, no flow control of any kind, no error
    // character, no null stripping, no abort on error. The flag word is 0x1011.
    DCB dcb;
    ZeroMemory(&dcb, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    dcb.BaudRate = baudRate;
    dcb.fBinary = 1;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.ByteSize = byteSize;
    dcb.Parity = parity;
    dcb.StopBits = stopBits;
    return SetCommState(AsHandle(handle), &dcb) != 0;
}

bool ComPort::Close() {
    if (handle == kInvalidPortHandle) {
        return true;
    }
    if (!CloseHandle(AsHandle(handle))) {
        return false;
    }
    handle = kInvalidPortHandle;
    return true;
}

int LastSystemError() {
    return static_cast<int>(GetLastError());
}

int WriteTimeoutError() {
    return ERROR_COUNTER_TIMEOUT;
}

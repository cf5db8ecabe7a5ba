// ComPort on Windows: the port is a file handle opened exclusively with CreateFileA; the line is
// set with a device-control record, and the time-outs are set before each transfer so ReadFile
// and WriteFile carry them. A serial write returns once its bytes have gone out, so the line
// clock changes nothing on a real port; where the port is a pseudo-terminal under Wine, it keeps
// the wait for a status from starting before the line has carried the bytes.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <string>

#include "com_port.h"

namespace portboot {

const bool kPortPathOption = false;

namespace {

static_assert(sizeof(DCB) == 28, "the device-control record is 28 bytes");

using Clock = std::chrono::steady_clock;

// With interval and multiplier at the maximum, a read returns at once with what is waiting, else
// with the first byte to arrive, else with nothing after the constant.
constexpr DWORD kReadReturnsWhatArrives = MAXDWORD;

HANDLE AsHandle(PortHandle handle) {
    return reinterpret_cast<HANDLE>(handle);
}

bool SetTimeouts(HANDLE port, DWORD readConstantMs, DWORD writeConstantMs) {
    COMMTIMEOUTS t = {};
    t.ReadIntervalTimeout = kReadReturnsWhatArrives;
    t.ReadTotalTimeoutMultiplier = kReadReturnsWhatArrives;
    t.ReadTotalTimeoutConstant = readConstantMs;
    t.WriteTotalTimeoutMultiplier = 0;
    t.WriteTotalTimeoutConstant = writeConstantMs;
    return SetCommTimeouts(port, &t) != 0;
}

// A read that returns at once with what is waiting, or with nothing.
bool SetReadReturnsAtOnce(HANDLE port) {
    COMMTIMEOUTS t = {};
    t.ReadIntervalTimeout = MAXDWORD;
    t.ReadTotalTimeoutMultiplier = 0;
    t.ReadTotalTimeoutConstant = 0;
    t.WriteTotalTimeoutConstant = kLineTimeoutMs;
    return SetCommTimeouts(port, &t) != 0;
}

// Whole milliseconds from now until `at`, rounded up; 0 when it has passed.
DWORD MsUntil(Clock::time_point at) {
    const Clock::time_point now = Clock::now();
    if (at <= now) {
        return 0;
    }
    return static_cast<DWORD>(std::chrono::ceil<std::chrono::milliseconds>(at - now).count());
}

}  // namespace

bool ComPort::Open(const PortName& port, std::uint32_t baudRate) {
    if (IsOpen()) {
        SetLastError(ERROR_BUSY);
        return false;
    }
    // The digit n is COMn; the command line names no path here.
    const std::string name = port.Label();
    const HANDLE h = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return false;
    }
    // 8N1 at the speed, DTR and RTS raised; every other flag stays off: no parity check, no flow
    // control of any kind, no error character, no null stripping, no abort on error. The flag
    // word is 0x1011.
    DCB dcb;
    ZeroMemory(&dcb, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    dcb.BaudRate = baudRate;
    dcb.fBinary = 1;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    // A port left with zero time-outs would block a read for ever: failing to set them is
    // failing to open.
    if (!SetCommState(h, &dcb) || !SetTimeouts(h, kLineTimeoutMs, kLineTimeoutMs)) {
        const DWORD error = GetLastError();
        CloseHandle(h);
        SetLastError(error);
        return false;
    }
    handle_ = reinterpret_cast<PortHandle>(h);
    line_ = LineClock();
    line_.SetSpeed(baudRate);
    return true;
}

bool ComPort::DiscardInput() {
    return PurgeComm(AsHandle(handle_), PURGE_RXCLEAR) != 0;
}

int ComPort::Write(const std::uint8_t* data, std::uint32_t count, std::uint32_t stallLimitMs) {
    if (!SetTimeouts(AsHandle(handle_), kLineTimeoutMs, stallLimitMs)) {
        return -1;
    }
    const Clock::time_point issued = Clock::now();
    DWORD written = 0;
    if (!WriteFile(AsHandle(handle_), data, count, &written, nullptr)) {
        return -1;
    }
    line_.Add(issued, written);
    return static_cast<int>(written);
}

bool ComPort::WaitForLine(std::uint32_t) {
    // WriteFile has returned only after the port sent the bytes.
    return true;
}

void ComPort::KeepPace(std::uint32_t leadMs) {
    const DWORD waitMs = MsUntil(line_.IdleAt() - std::chrono::milliseconds(leadMs));
    if (waitMs > 0) {
        Sleep(waitMs);
    }
}

ReadResult ComPort::ReadStatus(std::uint8_t& status, std::uint32_t waitMs) {
    const DWORD totalMs = MsUntil(line_.IdleAt()) + waitMs;
    if (!SetTimeouts(AsHandle(handle_), totalMs, kLineTimeoutMs)) {
        return ReadResult::Failed;
    }
    DWORD got = 0;
    if (!ReadFile(AsHandle(handle_), &status, 1, &got, nullptr)) {
        return ReadResult::Failed;
    }
    // A byte that came in time while this process was not running (a busy machine, or Wine,
    // which times the read itself) is still taken.
    if (got == 0 && SetReadReturnsAtOnce(AsHandle(handle_)) &&
        !ReadFile(AsHandle(handle_), &status, 1, &got, nullptr)) {
        return ReadResult::Failed;
    }
    return got == 1 ? ReadResult::Received : ReadResult::TimedOut;
}

void ComPort::Close() {
    if (!IsOpen()) {
        return;
    }
    CloseHandle(AsHandle(handle_));
    handle_ = kInvalidPortHandle;
}

int LastSystemError() {
    return static_cast<int>(GetLastError());
}

int WriteTimeoutError() {
    return ERROR_COUNTER_TIMEOUT;
}

}  // namespace portboot

// The serial byte channel: open a port by name, set 8N1 at a speed with no flow control, set
// time-outs, move blocks or single bytes with blocking calls. WriteByte, ReadByte and Configure
// go through the virtual Open/Write/Read, so a test can fake the line by overriding those.
// A short read or write is a time-out, not a failure; failures are -1 or false with the system
// error code (errno, GetLastError) left for the caller.
#pragma once

#include <cstdint>

// The OS handle held as an integer: a descriptor on POSIX, a HANDLE on Windows.
using PortHandle = std::intptr_t;
constexpr PortHandle kInvalidPortHandle = -1;

// 0xFFFFFFFF in a time-out field: "maximum", as the Windows time-out record reads it.
constexpr std::uint32_t kTimeoutMax = 0xFFFFFFFFu;

struct PortTimeouts {
    std::uint32_t readInterval = 0;
    std::uint32_t readMultiplier = 0;
    std::uint32_t readConstantMs = 0;
    std::uint32_t writeMultiplier = 0;
    std::uint32_t writeConstantMs = 0;
};

class ComPort {
  public:
    ComPort();
    ComPort(const ComPort&) = delete;
    ComPort& operator=(const ComPort&) = delete;

    // Opens the device exclusively if no port is open; the caller looks at `handle`.
    virtual void Open(const char* name);
    // Up to count bytes within the write time-out; the number written, or -1.
    virtual int Write(const void* data, std::uint32_t count);
    // The low 8 bits of `byte`; true when it was written.
    virtual bool WriteByte(unsigned byte);
    // Up to count bytes: what is waiting, else the first to arrive, else 0 after the read
    // time-out; -1 on failure.
    virtual int Read(void* data, std::uint32_t count);
    // True only when a byte was received.
    virtual bool ReadByte(std::uint8_t& byte);

    // All values in milliseconds (multipliers per byte); `constant` serves reads and writes.
    bool SetTimeouts(std::uint32_t readInterval, std::uint32_t readMultiplier,
                     std::uint32_t constant, std::uint32_t writeMultiplier);
    // Opens `name` through Open and sets the line; parity, byteSize and stopBits are coded as
    // in the Windows device-control record (0 = none, 8, 0 = one stop bit).
    bool Configure(const char* name, std::uint32_t baudRate, std::uint8_t parity,
                   std::uint8_t byteSize, std::uint8_t stopBits);
    // True when nothing is open or the handle closed; a failed close keeps the handle.
    bool Close();

    PortHandle handle;
    std::uint32_t bytesRead;
    std::uint32_t bytesWritten;

  private:
    // Applies the line settings to the open handle (one per platform).
    bool ApplyLineSettings(std::uint32_t baudRate, std::uint8_t parity, std::uint8_t byteSize,
                           std::uint8_t stopBits);

    PortTimeouts timeouts_;  // the POSIX side enforces these itself
};

// The system error code of the last failed call: errno or GetLastError().
int LastSystemError();
// The code reported when a write moved no byte within its time-out.
int WriteTimeoutError();

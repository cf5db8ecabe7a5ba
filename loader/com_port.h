// The serial line as the load sequence needs it: open a port at a speed (raw 8N1, no flow
// control, DTR and RTS raised, exclusive), discard what waited in its input, write a block with a
// stall limit, wait for the line to carry what was written, and read one status byte with a
// deadline. Each platform implements the slots in its own file; a test fakes them by overriding.
// The port keeps a line clock, so a wait for a status counts from when the bytes before it have
// crossed the line, not from when a driver or pseudo-terminal took them.
#pragma once

#include <cstdint>
#include <memory>

#include "line_clock.h"
#include "loader_settings.h"

namespace portboot {

// The OS handle held as an integer: a descriptor on POSIX, a HANDLE on Windows.
using PortHandle = std::intptr_t;
constexpr PortHandle kInvalidPortHandle = -1;

// How long a status may take to come, and a write or the line's drain may stall.
constexpr std::uint32_t kLineTimeoutMs = 2000;

// Why the last Open refused a port that the system would have opened (POSIX only).
enum class PortRefusal {
    None,
    OwnTerminal,  // the port is the terminal this program runs in
    Held,         // another program has the device open
    Locked,       // a lock file names a live process as the device's user
};

enum class ReadResult {
    Received,  // the byte is in the caller's hands
    TimedOut,  // nothing arrived in time
    Failed,    // the read itself failed; LastSystemError() says why
};

// The line's settings from before Open, as the platform keeps them.
struct SavedLine;

// Move-only owner of one open port; the port closes with its owner.
class ComPort {
  public:
    ComPort() = default;
    virtual ~ComPort() { ComPort::Close(); }
    ComPort(ComPort&& other) noexcept;
    ComPort& operator=(ComPort&& other) noexcept;
    ComPort(const ComPort&) = delete;
    ComPort& operator=(const ComPort&) = delete;

    // Opens the port's device, which each platform names for a digit (a path where
    // kPortPathOption holds), and sets the line. False, with the port closed and
    // LastSystemError() saying why, when any step fails.
    virtual bool Open(const PortName& port, std::uint32_t baudRate);
    // Throws away bytes received before now (a board's banner, noise at another speed).
    virtual bool DiscardInput();
    // Writes up to count bytes. Returns how many went, 0 when none could within stallLimitMs, or
    // -1 on failure.
    virtual int Write(const std::uint8_t* data, std::uint32_t count, std::uint32_t stallLimitMs);
    // Returns once the driver has sent what it held. False (with WriteTimeoutError() as the
    // error) when that has not happened within the line time of what it held plus stallLimitMs.
    virtual bool WaitForLine(std::uint32_t stallLimitMs);
    // One status byte, waiting at most waitMs counted from when the line has carried every byte
    // written before.
    virtual ReadResult ReadStatus(std::uint8_t& status, std::uint32_t waitMs);
    // Nothing happens when nothing is open.
    virtual void Close();

    // Returns once the line clock is at most leadMs ahead of now, so what was written has nearly
    // crossed the line, also where a pseudo-terminal took it all at once.
    void KeepPace(std::uint32_t leadMs);

    bool IsOpen() const { return handle_ != kInvalidPortHandle; }
    PortHandle Handle() const { return handle_; }
    // Set by every Open: what refused the port, if it was refused on purpose.
    PortRefusal Refusal() const { return refusal_; }

  private:
    PortHandle handle_ = kInvalidPortHandle;
    LineClock line_;
    PortRefusal refusal_ = PortRefusal::None;
    // The line's settings from before Open, put back by Close (where the platform has them).
    std::shared_ptr<SavedLine> savedLine_;
};

// True where a port may be named by its device path on the command line (POSIX).
extern const bool kPortPathOption;

// The system error code of the last failed call: errno or GetLastError().
int LastSystemError();
// The code reported when a write or the line's drain moved no byte within its stall limit.
int WriteTimeoutError();

}  // namespace portboot

// The device's side of the serial load protocol, fed one received byte at a time.
// It tracks where the host is in the sequence (command 0, 1, four length bytes, the padded image,
// 13, then 2 or 4, two entry bytes), keeps what arrived, and notes the first byte out of place.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace devsim {

// Command bytes the host sends; each is answered by one status byte.
constexpr std::uint8_t kDevInit = 0;
constexpr std::uint8_t kDevLoadCode = 1;
constexpr std::uint8_t kDevExecute = 2;
constexpr std::uint8_t kDevSaveCode = 4;
constexpr std::uint8_t kDevEndOfCode = 13;

enum class Step { Init, LoadCode, Length, Image, EndOfCode, Final, Entry, Done, Lost };

struct CommandRecord {
    std::uint8_t code;
    std::optional<std::uint8_t> status;  // empty when the device stayed silent
};

class DeviceProtocol {
  public:
    // Takes one byte from the host. Returns the command code when the byte was a command the
    // device must answer now; the caller then reports the answer through RecordAnswer.
    std::optional<std::uint8_t> Feed(std::uint8_t byte);
    void RecordAnswer(std::optional<std::uint8_t> status);

    Step CurrentStep() const { return step_; }
    bool Done() const { return step_ == Step::Done && extraBytes_ == 0; }
    bool Unexpected() const { return step_ == Step::Lost || extraBytes_ > 0; }
    std::uint32_t ImageBytes() const { return imageReceived_; }
    std::uint32_t PaddedLength() const { return (announcedLength_ + 1) & ~1u; }
    // The received image without its pad byte, as much of it as arrived.
    std::vector<std::uint8_t> ImageWithoutPad() const;

    // One line, key=value fields separated by blanks, after the result word given.
    std::string Summary(const std::string& result) const;

  private:
    void BeginImage();
    void MarkLost(std::uint8_t byte);

    Step step_ = Step::Init;
    std::vector<CommandRecord> commands_;
    std::uint8_t lengthBytes_[4] = {};
    int lengthReceived_ = 0;
    std::uint32_t announcedLength_ = 0;
    std::vector<std::uint8_t> image_;
    std::uint32_t imageReceived_ = 0;
    std::uint8_t entryBytes_[2] = {};
    int entryReceived_ = 0;
    std::uint32_t extraBytes_ = 0;
    std::optional<std::uint8_t> unexpectedByte_;
    Step unexpectedAt_ = Step::Init;
};

const char* StepName(Step step);

}  // namespace devsim

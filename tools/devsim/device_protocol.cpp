#include "device_protocol.h"

#include <cstdio>

namespace devsim {

namespace {

// The host announces a 32-bit length, yet an image never exceeds this.
constexpr std::uint32_t kMaxImageBytes = 65534;

}  // namespace

const char* StepName(Step step) {
    switch (step) {
        case Step::Init:
            return "init";
        case Step::LoadCode:
            return "loadcode";
        case Step::Length:
            return "length";
        case Step::Image:
            return "image";
        case Step::EndOfCode:
            return "endofcode";
        case Step::Final:
            return "saveorexecute";
        case Step::Entry:
            return "entry";
        case Step::Done:
            return "done";
        case Step::Lost:
            return "lost";
    }
    return "?";
}

std::optional<std::uint8_t> DeviceProtocol::Feed(std::uint8_t byte) {
    switch (step_) {
        case Step::Init:
        case Step::LoadCode:
        case Step::EndOfCode:
        case Step::Final: {
            bool fits = (step_ == Step::Init && byte == kDevInit) ||
                        (step_ == Step::LoadCode && byte == kDevLoadCode) ||
                        (step_ == Step::EndOfCode && byte == kDevEndOfCode) ||
                        (step_ == Step::Final && (byte == kDevExecute || byte == kDevSaveCode));
            if (!fits) {
                MarkLost(byte);
                return std::nullopt;
            }
            commands_.push_back({byte, std::nullopt});
            return byte;
        }
        case Step::Length:
            lengthBytes_[lengthReceived_++] = byte;
            if (lengthReceived_ == 4) {
                announcedLength_ = (std::uint32_t{lengthBytes_[0]} << 24) |
                                   (std::uint32_t{lengthBytes_[1]} << 16) |
                                   (std::uint32_t{lengthBytes_[2]} << 8) | lengthBytes_[3];
                if (announcedLength_ == 0 || announcedLength_ > kMaxImageBytes) {
                    // Taking a bad length as the count would swallow every later command.
                    MarkLost(byte);
                    return std::nullopt;
                }
                BeginImage();
            }
            return std::nullopt;
        case Step::Image:
            image_.push_back(byte);
            if (++imageReceived_ == PaddedLength()) {
                step_ = Step::EndOfCode;
            }
            return std::nullopt;
        case Step::Entry:
            entryBytes_[entryReceived_++] = byte;
            if (entryReceived_ == 2) {
                step_ = Step::Done;
            }
            return std::nullopt;
        case Step::Done:
        case Step::Lost:
            ++extraBytes_;
            return std::nullopt;
    }
    return std::nullopt;
}

void DeviceProtocol::RecordAnswer(std::optional<std::uint8_t> status) {
    if (commands_.empty()) {
        return;
    }
    commands_.back().status = status;
    // A silent device is taken to have done the command: a host that goes on regardless is
    // then followed through the rest of its sequence.
    switch (step_) {
        case Step::Init:
            step_ = Step::LoadCode;
            break;
        case Step::LoadCode:
            step_ = Step::Length;
            break;
        case Step::EndOfCode:
            step_ = Step::Final;
            break;
        case Step::Final:
            step_ = Step::Entry;
            break;
        default:
            break;
    }
}

void DeviceProtocol::BeginImage() {
    image_.reserve(PaddedLength());
    step_ = Step::Image;
}

void DeviceProtocol::MarkLost(std::uint8_t byte) {
    unexpectedByte_ = byte;
    unexpectedAt_ = step_;
    step_ = Step::Lost;
}

std::vector<std::uint8_t> DeviceProtocol::ImageWithoutPad() const {
    std::size_t keep = image_.size() < announcedLength_ ? image_.size() : announcedLength_;
    return std::vector<std::uint8_t>(image_.begin(), image_.begin() + static_cast<long>(keep));
}

std::string DeviceProtocol::Summary(const std::string& result) const {
    std::string line = "result=" + result + " commands=";
    if (commands_.empty()) {
        line += "none";
    }
    char field[64];
    for (std::size_t i = 0; i < commands_.size(); ++i) {
        if (commands_[i].status) {
            std::snprintf(field, sizeof field, "%s%u:%u", i ? "," : "", commands_[i].code,
                          *commands_[i].status);
        } else {
            std::snprintf(field, sizeof field, "%s%u:-", i ? "," : "", commands_[i].code);
        }
        line += field;
    }
    if (lengthReceived_ == 4) {
        std::snprintf(field, sizeof field, " length=%u", announcedLength_);
        line += field;
        std::snprintf(field, sizeof field, " image=%u/%u", imageReceived_, PaddedLength());
        line += field;
        if (announcedLength_ % 2 == 0) {
            line += " pad=none";
        } else if (imageReceived_ == PaddedLength()) {
            std::snprintf(field, sizeof field, " pad=0x%02x", image_.back());
            line += field;
        } else {
            line += " pad=missing";
        }
    } else {
        std::snprintf(field, sizeof field, " length=none(%d/4)", lengthReceived_);
        line += field;
    }
    if (entryReceived_ == 2) {
        std::snprintf(field, sizeof field, " entry=%u",
                      (unsigned{entryBytes_[0]} << 8) | entryBytes_[1]);
        line += field;
    } else {
        std::snprintf(field, sizeof field, " entry=none(%d/2)", entryReceived_);
        line += field;
    }
    std::snprintf(field, sizeof field, " extra=%u", extraBytes_);
    line += field;
    if (unexpectedByte_) {
        std::snprintf(field, sizeof field, " unexpected=0x%02x@%s", *unexpectedByte_,
                      StepName(unexpectedAt_));
        line += field;
    }
    return line;
}

}  // namespace devsim

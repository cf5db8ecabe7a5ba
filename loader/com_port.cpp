// The platform-free part of ComPort: moving the owner.
#include "com_port.h"

#include <utility>

namespace portboot {

ComPort::ComPort(ComPort&& other) noexcept
    : handle_(std::exchange(other.handle_, kInvalidPortHandle)),
      line_(other.line_),
      refusal_(other.refusal_),
      savedLine_(std::move(other.savedLine_)) {}

ComPort& ComPort::operator=(ComPort&& other) noexcept {
    if (this != &other) {
        ComPort::Close();
        handle_ = std::exchange(other.handle_, kInvalidPortHandle);
        line_ = other.line_;
        refusal_ = other.refusal_;
        savedLine_ = std::move(other.savedLine_);
    }
    return *this;
}

}  // namespace portboot

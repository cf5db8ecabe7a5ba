// The platform-free part of ComPort: the single-byte calls and Configure, all through the
// virtual slots.
#include "com_port.h"

ComPort::ComPort() : handle(kInvalidPortHandle), bytesRead(0), bytesWritten(0) {}

bool ComPort::WriteByte(unsigned byte) {
    const std::uint8_t b = static_cast<std::uint8_t>(byte & 0xFFu);
    return Write(&b, 1) == 1;
}

bool ComPort::ReadByte(std::uint8_t& byte) {
    return Read(&byte, 1) == 1;
}

bool ComPort::Configure(const char* name, std::uint32_t baudRate, std::uint8_t parity,
                        std::uint8_t byteSize, std::uint8_t stopBits) {
    Open(name);
    if (handle == kInvalidPortHandle) {
        return false;
    }
    return ApplyLineSettings(baudRate, parity, byteSize, stopBits);
}

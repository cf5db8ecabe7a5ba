// Line speeds that have no B-constant (100000, 250000 ...) go through termios2 with BOTHER.
// Kept apart because <asm/termbits.h> cannot live beside <termios.h>.
#pragma once

#include <cstdint>

namespace portboot {

// Sets input and output speed of the open tty `fd` to exactly `baud`; errno on failure.
bool SetCustomLineSpeed(int fd, std::uint32_t baud);
// The output speed the driver holds for `fd`, in bits per second.
bool GetLineSpeed(int fd, std::uint32_t& baud);

}  // namespace portboot

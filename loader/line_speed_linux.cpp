// termios2 access, without <termios.h> (the two headers define the same names).
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include "line_speed_linux.h"

namespace portboot {

bool SetCustomLineSpeed(int fd, std::uint32_t baud) {
    struct termios2 tio;
    if (ioctl(fd, TCGETS2, &tio) != 0) {
        return false;
    }
    tio.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
    tio.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    tio.c_ospeed = baud;
    tio.c_ispeed = baud;
    return ioctl(fd, TCSETS2, &tio) == 0;
}

bool GetLineSpeed(int fd, std::uint32_t& baud) {
    struct termios2 tio;
    if (ioctl(fd, TCGETS2, &tio) != 0) {
        return false;
    }
    baud = tio.c_ospeed;
    return true;
}

}  // namespace portboot

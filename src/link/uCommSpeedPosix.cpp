// Speeds without a termios constant go through the kernel's termios2
// interface. Its header clashes with <termios.h>, so it lives alone here.
#include <asm/ioctls.h>
#include <asm/termbits.h>

#include <cerrno>
#include <cstdint>

extern "C" int ioctl(int, unsigned long, ...);

namespace fr {

bool SetCustomSpeed(int AHandle, uint32_t ASpeed) {
    struct termios2 Tio {};
    if (ioctl(AHandle, TCGETS2, &Tio) != 0) return false;
    Tio.c_cflag &= ~tcflag_t(CBAUD);
    Tio.c_cflag |= BOTHER;
    Tio.c_cflag &= ~tcflag_t(CBAUD << IBSHIFT);
    Tio.c_cflag |= BOTHER << IBSHIFT;
    Tio.c_ispeed = ASpeed;
    Tio.c_ospeed = ASpeed;
    return ioctl(AHandle, TCSETS2, &Tio) == 0;
}

}  // namespace fr

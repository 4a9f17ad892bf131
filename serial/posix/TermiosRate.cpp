// Kept apart from the rest of the component: <asm/termbits.h> redefines the
// structures and constants of <termios.h>, so the two cannot meet in one file.
#include "TermiosRate.h"

#include <asm/termbits.h>
#include <cerrno>
#include <sys/ioctl.h>
#include <unistd.h>

namespace vostrel {

namespace {

bool GetTermios2(int fd, termios2& t)
{
    return TEMP_FAILURE_RETRY(::ioctl(fd, TCGETS2, &t)) == 0;
}

}  // namespace

bool SetCustomBaudRate(int fd, std::uint32_t rate)
{
    termios2 t{};
    if (!GetTermios2(fd, t))
        return false;
    // BOTHER makes the driver take the numeric speeds as they are.
    t.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
    t.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    t.c_ispeed = rate;
    t.c_ospeed = rate;
    return TEMP_FAILURE_RETRY(::ioctl(fd, TCSETS2, &t)) == 0;
}

std::uint32_t ReadBaudRate(int fd)
{
    termios2 t{};
    if (!GetTermios2(fd, t))
        return 0;
    return t.c_ospeed;
}

}  // namespace vostrel

// Bit rates beyond the fixed Bxxx constants of <termios.h>.
#pragma once

#include <cstdint>

namespace vostrel {

// Sets both directions of fd to rate bit/s through the kernel's termios2
// interface; false with errno set when the driver refuses.
bool SetCustomBaudRate(int fd, std::uint32_t rate);

// The output bit rate fd runs at, whatever way it was set; 0 on failure.
std::uint32_t ReadBaudRate(int fd);

}  // namespace vostrel

// Small device helpers shared by the POSIX port and its watcher.
#pragma once

#include <cstdint>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace vostrel {

inline int RetryIoctl(int fd, unsigned long request, void* arg)
{
    return static_cast<int>(TEMP_FAILURE_RETRY(::ioctl(fd, request, arg)));
}

inline bool ReadErrorCounts(int fd, serial_icounter_struct& c)
{
    return fd >= 0 && RetryIoctl(fd, TIOCGICOUNT, &c) == 0;
}

inline std::int32_t InputQueueCount(int fd)
{
    int n = 0;
    if (fd < 0 || RetryIoctl(fd, FIONREAD, &n) != 0)
        return -1;
    return n;
}

}  // namespace vostrel

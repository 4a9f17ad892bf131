// The utility's end of a simulator pty, opened by hand in raw mode.
#pragma once

#include "LinkIo.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <string>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace vostrel {

class SlaveEnd {
public:
    explicit SlaveEnd(const std::string& path)
    {
        m_fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (m_fd < 0)
            return;
        termios tio{};
        ::tcgetattr(m_fd, &tio);
        ::cfmakeraw(&tio);
        ::tcsetattr(m_fd, TCSANOW, &tio);
    }
    ~SlaveEnd() { Close(); }
    SlaveEnd(const SlaveEnd&) = delete;
    SlaveEnd& operator=(const SlaveEnd&) = delete;

    bool IsOpen() const { return m_fd >= 0; }
    void Close()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }
    void Purge() { ::tcflush(m_fd, TCIFLUSH); }

    // Writes byte by byte with a 1 ms pause, as the utility does.
    bool Write(const TByteArray& bytes)
    {
        for (std::uint8_t b : bytes) {
            if (::write(m_fd, &b, 1) != 1)
                return false;
            ::usleep(1000);
        }
        return true;
    }

    // Everything that arrives until count bytes are in or the time is up.
    // LastError is the errno of a failed read, 0 at end of file (hang-up).
    TByteArray Read(std::size_t count, std::chrono::milliseconds timeout)
    {
        TByteArray out;
        HungUp = false;
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (out.size() < count) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                break;
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left.count())) <= 0)
                continue;
            std::uint8_t buf[256];
            const ssize_t n = ::read(m_fd, buf, std::min(sizeof buf, count - out.size()));
            if (n > 0) {
                out.insert(out.end(), buf, buf + n);
            } else if (n == 0 || errno != EAGAIN) {
                HungUp = true;
                LastError = n == 0 ? 0 : errno;
                break;
            }
        }
        return out;
    }
    // Collects for the whole window, as CollectFor does.
    TByteArray ReadFor(std::chrono::milliseconds window) { return Read(SIZE_MAX, window); }

    bool HungUp = false;
    int LastError = 0;

private:
    int m_fd = -1;
};

}  // namespace vostrel

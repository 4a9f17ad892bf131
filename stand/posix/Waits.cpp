// The bench's waits on POSIX: a port's thread sleeps in poll() on its line
// and on the shift's eventfd, which a stop makes readable.
#include "StandView.h"
#include "StopWake.h"

#include <cstdint>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace vostrel {

TStopWake::TStopWake() : m_descriptor(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC))
{}

TStopWake::~TStopWake()
{
    if (m_descriptor >= 0)
        ::close(m_descriptor);
}

void TStopWake::Raise()
{
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(m_descriptor, &one, sizeof one);
}

void TStopWake::Clear()
{
    std::uint64_t drained = 0;
    [[maybe_unused]] const ssize_t n = ::read(m_descriptor, &drained, sizeof drained);
}

bool TStandView::WaitLineOrStop(int descriptor, int timeoutMs)
{
    if (descriptor < 0)
        return false;
    if (m_stop.load())
        return true;
    pollfd p[2] = {{descriptor, POLLIN, 0}, {m_wake, POLLIN, 0}};
    // EINTR too is a reason to look again.
    ::poll(p, 2, timeoutMs);
    return true;
}

bool TStandView::WaitLine(int descriptor, int timeoutMs)
{
    if (descriptor < 0)
        return false;
    pollfd p{descriptor, POLLIN, 0};
    ::poll(&p, 1, timeoutMs);
    return true;
}

}  // namespace vostrel

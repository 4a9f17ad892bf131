#include "CommObjs.h"

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

using namespace vostrel;

THandleObject::~THandleObject()
{
    if (m_handle >= 0)
        ::close(m_handle);
}

TEvent::TEvent(bool manualReset, bool initialState) : m_manualReset(manualReset)
{
    m_handle = ::eventfd(initialState ? 1u : 0u, EFD_NONBLOCK | EFD_CLOEXEC);
}

void TEvent::SetEvent()
{
    // The counter only has to be non-zero; adding keeps every setter lock-free.
    const std::uint64_t one = 1;
    (void)TEMP_FAILURE_RETRY(::write(m_handle, &one, sizeof one));
}

void TEvent::ResetEvent()
{
    TryConsume();
}

bool TEvent::TryConsume()
{
    std::uint64_t value = 0;
    return TEMP_FAILURE_RETRY(::read(m_handle, &value, sizeof value)) == static_cast<ssize_t>(sizeof value);
}

TWaitResult TEvent::WaitFor(std::uint32_t timeoutMs)
{
    if (m_handle < 0)
        return wrError;  // poll() skips a negative descriptor and would never wake
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int waitMs = -1;
        if (timeoutMs != INFINITE) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            waitMs = left > 0 ? static_cast<int>(left) : 0;
        }
        pollfd p{m_handle, POLLIN, 0};
        const int n = ::poll(&p, 1, waitMs);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return wrError;
        }
        if (n == 0)
            return wrTimeout;
        if (p.revents & (POLLERR | POLLNVAL))
            return wrError;
        if (m_manualReset || TryConsume())
            return wrSignaled;
        // Another waiter took an auto-reset signal first: wait again.
    }
}

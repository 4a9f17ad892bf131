#include "CommObjs.h"

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

THandleObject::~THandleObject()
{
    if (FHandle >= 0)
        ::close(FHandle);
}

TEvent::TEvent(bool manualReset, bool initialState) : FManualReset(manualReset)
{
    FHandle = ::eventfd(initialState ? 1u : 0u, EFD_NONBLOCK | EFD_CLOEXEC);
    if (FHandle < 0)
        FLastError = errno;
}

void TEvent::SetEvent()
{
    // The counter only has to be non-zero; adding keeps every setter lock-free.
    const std::uint64_t one = 1;
    while (::write(FHandle, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

void TEvent::ResetEvent()
{
    TryConsume();
}

bool TEvent::TryConsume()
{
    std::uint64_t value = 0;
    for (;;) {
        if (::read(FHandle, &value, sizeof value) == static_cast<ssize_t>(sizeof value))
            return true;
        if (errno != EINTR)
            return false;
    }
}

TWaitResult TEvent::WaitFor(std::uint32_t timeoutMs)
{
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int waitMs = -1;
        if (timeoutMs != INFINITE) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            waitMs = left > 0 ? static_cast<int>(left) : 0;
        }
        pollfd p{FHandle, POLLIN, 0};
        const int n = ::poll(&p, 1, waitMs);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            FLastError = errno;
            return wrError;
        }
        if (n == 0)
            return wrTimeout;
        if (p.revents & (POLLERR | POLLNVAL)) {
            FLastError = EBADF;
            return wrError;
        }
        if (FManualReset || TryConsume())
            return wrSignaled;
        // Another waiter took an auto-reset signal first: wait again.
    }
}

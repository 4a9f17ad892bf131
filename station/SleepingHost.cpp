#include "SleepingHost.h"

#include "CommLink.h"

#include <algorithm>
#include <utility>

namespace vostrel {

TSleepingHost::TSleepingHost(ISessionView& view, std::function<bool()> stop) : m_view(view), m_stop(std::move(stop))
{}

std::uint32_t TSleepingHost::GetTickCount()
{
    return TickCount();
}

void TSleepingHost::Sleep(std::uint32_t ms)
{
    SleepMs(ms);
}

// Wakes for a byte, a failed line, a stop or the next second the view shows;
// nothing else while the line is silent.
void TSleepingHost::WaitForInput()
{
    const int fd = m_line != nullptr ? m_line->InputWaitDescriptor() : -1;
    if (!m_view.WaitLineOrStop(fd, m_view.MsUntilTick()))
        Sleep(20);
    ProcessMessages();
}

// Sleeps until the next byte instead of looking for it again at once; where
// it cannot sleep on the line (Windows), 1 ms, under a byte's time at
// 4800 bit/s, so no more than one byte waits. Not woken by a stop: the
// collection runs to its end anyway, and a wake-up that stays would spin it.
void TSleepingHost::IdleInCollection(std::uint32_t msLeft)
{
    const int fd = m_line != nullptr ? m_line->InputWaitDescriptor() : -1;
    if (!m_view.WaitLine(fd, static_cast<int>(msLeft)))
        Sleep(1);
}

void TSleepingHost::Step(TExchangeStep step)
{
    if (step == TExchangeStep::Confirmed)
        m_answering = true;
    else if (step == TExchangeStep::Answered || step == TExchangeStep::Waiting)
        m_answering = false;
    if (OnStep)
        OnStep(step);
}

void TSleepingHost::Pause(std::uint32_t ms)
{
    while (ms > 0 && !m_stop()) {
        const std::uint32_t step = std::min<std::uint32_t>(ms, 20);
        Sleep(step);
        ProcessMessages();
        ms -= step;
    }
}

}  // namespace vostrel

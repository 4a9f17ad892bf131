#include "CliHost.h"

#include "CommLink.h"
#include "Console.h"

#include <algorithm>
#include <utility>

namespace vostrel {

TCliHost::TCliHost(TProgress& progress, bool verbose, std::function<bool()> stop)
    : m_progress(progress), m_verbose(verbose), m_stop(std::move(stop))
{}

void TCliHost::AppendLog(const std::string& line)
{
    if (m_verbose)
        m_progress.Note(line);
}

std::uint32_t TCliHost::GetTickCount()
{
    return TickCount();
}

void TCliHost::Sleep(std::uint32_t ms)
{
    SleepMs(ms);
}

// Wakes for a byte, a failed line, an interrupt or the next second the
// terminal shows; nothing else while the line is silent.
void TCliHost::WaitForInput()
{
    const int fd = m_line != nullptr ? m_line->InputWaitDescriptor() : -1;
    if (!WaitReadableOrInterrupt(fd, m_progress.MsUntilTick()))
        Sleep(20);
    ProcessMessages();
}

// Sleeps until the next byte instead of looking for it again at once; where
// it cannot sleep on the line (Windows), 1 ms, under a byte's time at
// 4800 bit/s, so no more than one byte waits. Not woken by Ctrl+C: the
// collection runs to its end anyway, and a wake-up that stays would spin it.
void TCliHost::IdleInCollection(std::uint32_t msLeft)
{
    const int fd = m_line != nullptr ? m_line->InputWaitDescriptor() : -1;
    if (!WaitReadable(fd, static_cast<int>(msLeft)))
        Sleep(1);
}

void TCliHost::Step(TExchangeStep step)
{
    if (step == TExchangeStep::Confirmed)
        m_answering = true;
    else if (step == TExchangeStep::Answered || step == TExchangeStep::Waiting)
        m_answering = false;
    if (OnStep)
        OnStep(step);
}

void TCliHost::Pause(std::uint32_t ms)
{
    while (ms > 0 && !m_stop()) {
        const std::uint32_t step = std::min<std::uint32_t>(ms, 20);
        Sleep(step);
        ProcessMessages();
        ms -= step;
    }
}

}  // namespace vostrel

#include "FineTimer.h"

#ifdef _WIN32
#include <windows.h>
// After <windows.h>, which it needs.
#include <mmsystem.h>
#endif

namespace vostrel {

#ifdef _WIN32
TFineTimer::TFineTimer()
{
    // Windows 11 lets a process's resolution lapse while its window is
    // minimized or covered, unless the process opts out. Older systems
    // refuse the flag, and need no opt-out.
    PROCESS_POWER_THROTTLING_STATE keep{};
    keep.Version = PROCESS_POWER_THROTTLING_CURRENT_VERSION;
    keep.ControlMask = PROCESS_POWER_THROTTLING_IGNORE_TIMER_RESOLUTION;
    keep.StateMask = 0;
    ::SetProcessInformation(::GetCurrentProcess(), ProcessPowerThrottling, &keep, sizeof keep);
    m_granted = ::timeBeginPeriod(1) == TIMERR_NOERROR;
}

TFineTimer::~TFineTimer()
{
    if (m_granted)
        ::timeEndPeriod(1);
}
#else
TFineTimer::TFineTimer() = default;
TFineTimer::~TFineTimer() = default;
#endif

}  // namespace vostrel

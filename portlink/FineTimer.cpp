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
    ::timeBeginPeriod(1);
}

TFineTimer::~TFineTimer()
{
    ::timeEndPeriod(1);
}
#else
TFineTimer::TFineTimer() = default;
TFineTimer::~TFineTimer() = default;
#endif

}  // namespace vostrel

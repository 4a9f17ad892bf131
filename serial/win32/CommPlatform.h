// What the component keeps of a Windows device: its handle, and the event a
// transfer completes on. The error state lives in the driver
// (ClearCommError), so nothing else is kept per port.
#pragma once

#include "CommObjs.h"

#include <cstdint>

namespace vostrel {

// A HANDLE held as an integer, so that this header stays free of <windows.h>
// and its macros (EV_RXCHAR, INFINITE ...) that clash with the component's names.
using TDeviceHandle = std::intptr_t;
inline constexpr TDeviceHandle kInvalidDeviceHandle = -1;  // INVALID_HANDLE_VALUE

struct TPortState {
    // The OVERLAPPED event of each read and write, set only by the system:
    // GetOverlappedResult waits on it alone. The component's I/O event is
    // the stop that ClosePort sets.
    TSimpleEvent transferDone;
};

// Nothing to wait on: the owner polls InputCount.
struct TInputWait {};

}  // namespace vostrel

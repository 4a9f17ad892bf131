// What the component keeps of a Windows device: its handle, and the record a
// transfer runs on. The error state lives in the driver (ClearCommError), so
// nothing else is kept per port.
#pragma once

#include "CommObjs.h"

#include <cstdint>
#include <memory>

namespace vostrel {

// A HANDLE held as an integer, so that this header stays free of <windows.h>
// and its macros (EV_RXCHAR, INFINITE ...) that clash with the component's names.
using TDeviceHandle = std::intptr_t;
inline constexpr TDeviceHandle kInvalidDeviceHandle = -1;  // INVALID_HANDLE_VALUE

// One read or write in flight: its OVERLAPPED, the event that alone completes
// it and the bytes it carries (in CommPort.cpp).
struct TTransfer;

struct TPortState {
    // Made at the first transfer and reused. One that a driver never
    // completes, even cancelled, is left to the driver whole, and the next
    // transfer gets a new one. The component's I/O event is the stop that
    // ClosePort sets.
    std::unique_ptr<TTransfer, void (*)(TTransfer*)> transfer{nullptr, nullptr};
};

// Nothing to wait on: the owner polls InputCount.
struct TInputWait {};

}  // namespace vostrel

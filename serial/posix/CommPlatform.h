// What the component keeps of a POSIX device: a descriptor, and the driver's
// interrupt counters that stand for the error state.
#pragma once

#include <string>

namespace vostrel {

using TDeviceHandle = int;
inline constexpr TDeviceHandle kInvalidDeviceHandle = -1;

struct TPortState {
    // Interrupt counters at the last clearing of the error state.
    int frame = 0, overrun = 0, parity = 0, brk = 0, bufOverrun = 0;
    bool haveCounts = false;  // the driver has counters (ptys have none)
};

// An epoll set that holds the open device and nothing else: it polls readable
// while the device has input or has failed, and a device closed meanwhile
// leaves it quiet rather than invalid, so an owner may keep watching it.
struct TInputWait {
    TInputWait();
    ~TInputWait();
    TInputWait(const TInputWait&) = delete;
    TInputWait& operator=(const TInputWait&) = delete;
    int Fd = -1;
    bool HoldsDevice = false;
};

// The path a DeviceName opens: "COMn" (any case, also "\\.\COMn") is /dev/COMn
// when that exists, else /dev/ttyS<n-1>; any other name is used as it is.
std::string ResolveDevicePath(const std::string& deviceName);

}  // namespace vostrel

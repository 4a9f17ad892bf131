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

// The path a DeviceName opens: "COMn" (any case, also "\\.\COMn") is /dev/COMn
// when that exists, else /dev/ttyS<n-1>; any other name is used as it is.
std::string ResolveDevicePath(const std::string& deviceName);

}  // namespace vostrel

// The serial ports Windows has now: those of the device manager's "Ports"
// class, every device with the COM-port interface (modems, virtual port
// pairs) and the registry's list of serial devices, read through the
// SetupAPI and the registry.
#pragma once

#include "WindowsIds.h"

#include <vector>

namespace vostrel {

// Every present port with a port name, each once; empty when nothing can be
// read. Texts are UTF-8.
std::vector<TWindowsPort> ListWindowsPorts();

}  // namespace vostrel

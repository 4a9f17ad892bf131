// The serial ports Windows has now, as its device manager lists them (the
// "Ports" class, printer ports left out), read through the SetupAPI.
#pragma once

#include <string>
#include <vector>

namespace vostrel {

struct TWindowsPort {
    std::string Name;              // "COM7": what \\.\COM7 opens
    std::string FriendlyName;      // "USB Serial Port (COM7)"
    std::string Manufacturer;      // "FTDI"
    std::string HardwareId;        // the first one, "FTDIBUS\VID_0403+PID_6001+A12345A\0000"
    std::string InstanceId;        // the port's device instance id
    std::string ParentInstanceId;  // the device it sits on, for a USB adapter the adapter itself
    std::string Location;          // "Port_#0002.Hub_#0001"; may be empty
};

// Every present port with a port name; empty when the list cannot be read.
// Texts are UTF-8.
std::vector<TWindowsPort> ListWindowsPorts();

}  // namespace vostrel

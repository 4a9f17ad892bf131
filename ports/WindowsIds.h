// What Windows says about a serial port, read as plain text: the USB ids in a
// hardware id, the serial number in a device instance id, the ports its
// several lists give, and the order of the port list's entries. No system
// calls, so the rules are tested anywhere.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vostrel {

// One serial port as Windows' device manager or its registry tells of it.
// Texts are UTF-8; all but Name may be empty (the registry's list of serial
// devices gives only the name).
struct TWindowsPort {
    std::string Name;              // "COM7": what \\.\COM7 opens
    std::string FriendlyName;      // "USB Serial Port (COM7)"
    std::string Manufacturer;      // "FTDI"
    std::string HardwareId;        // the first one, "FTDIBUS\VID_0403+PID_6001+A12345A\0000"
    std::string InstanceId;        // the port's device instance id
    std::string ParentInstanceId;  // the device it sits on: the adapter, a composite device or a hub
    std::string Location;          // "Port_#0002.Hub_#0001"
    std::string Service;           // its driver, "usbser" for Windows' own CDC driver
    std::string BusDescription;    // what the adapter itself says it is, "CP2102 USB to UART Bridge Controller"
};

struct TUsbIds {
    std::optional<std::uint16_t> VendorId;
    std::optional<std::uint16_t> ProductId;
};

// "USB\VID_0403&PID_6001&REV_0600" or "FTDIBUS\VID_0403+PID_6001+A12345A\0000":
// the four hex digits after "VID_" and "PID_", in any case; nothing for a
// part that is missing or not four hex digits.
TUsbIds UsbIdsOf(std::string_view hardwareId);

// The adapter's own serial number in a USB device instance id
// ("USB\VID_0403&PID_6001\A12345" gives "A12345"). An instance part with '&'
// in it is one Windows made up for an adapter without a serial number, and
// gives "".
std::string SerialNumberOf(std::string_view instanceId);

// The serial number of the adapter a port is on: a USB port's own, or for a
// function of a composite device (USB\VID_xxxx&PID_xxxx&MI_nn) the device's;
// a port of a driver with a bus of its own (FTDIBUS\...) sits on the adapter.
// A plain USB port's parent is a hub, whose number is not the adapter's.
std::string AdapterSerialNumber(const TWindowsPort& port);

// What the port list's tooltip says of a port, without its serial number.
// Where Windows' own driver serves the port, its manufacturer is "Microsoft"
// and its name generic: the adapter's own description stands instead.
std::string AdapterDescription(const TWindowsPort& port);

// The ports of several lists, given one list after another: each name once
// (COM numbers compared as numbers, other names in any case), described by
// the first entry that names it. Printer ports and entries without a name
// are left out.
std::vector<TWindowsPort> MergeWindowsPorts(const std::vector<TWindowsPort>& ports);

// The n of "COMn" (case as Windows writes it), 0 for anything else.
int ComNumberOf(std::string_view portName);

// The port list's entries: "COM1" to "COM<fixed>" always, then every other
// present port by its own name, COM numbers in order, other names after them.
std::vector<std::string> WindowsPortNames(const std::vector<std::string>& present, int fixed = 6);

}  // namespace vostrel

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

// A device a port sits on, as its device tree tells of it.
struct TDeviceNode {
    std::string InstanceId;      // "USB\VID_0403&PID_6011&MI_00\6&2A3B&0&0000"
    std::string BusDescription;  // what it reported of itself on its bus, if anything
};

// One serial port as Windows' device manager or its registry tells of it.
// Texts are UTF-8; all but Name may be empty (the registry's list of serial
// devices gives only the name).
struct TWindowsPort {
    std::string Name;            // "COM7": what \\.\COM7 opens
    std::string FriendlyName;    // "USB Serial Port (COM7)"
    std::string Manufacturer;    // "FTDI"
    std::string HardwareId;      // the first one, "FTDIBUS\VID_0403+PID_6001+A12345A\0000"
    std::string InstanceId;      // the port's device instance id
    std::string Location;        // "Port_#0002.Hub_#0001"
    std::string Service;         // its driver, "usbser" for Windows' own CDC driver
    std::string BusDescription;  // what the port's device says it is, "CP2102 USB to UART Bridge Controller"
    // The devices it sits on, nearest first (two are enough): the adapter, a
    // function of it or the composite device, or a hub.
    std::vector<TDeviceNode> Parents;
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

// The serial number of the USB adapter a port is on. From the port up, a
// device of a driver's own bus (FTDIBUS\...) and a function of a composite
// device (USB\VID_xxxx&PID_xxxx&MI_nn) sit on the adapter; the first whole
// USB device is the adapter, whatever lies above it (a hub) is not. So a
// single-function adapter's port is the adapter itself, and a port of a
// multi-port adapter is known by the composite device's number. "" where
// there is no USB adapter or it has no number.
std::string AdapterSerialNumber(const TWindowsPort& port);

// What the port list's tooltip says of a port, without its serial number.
// Where Windows' own driver serves the port, its manufacturer is "Microsoft"
// and its name generic: what the adapter reported on the bus stands instead,
// the nearest description from the port up to the adapter, never a hub's.
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

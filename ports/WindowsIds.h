// What Windows says about a serial port, read as plain text: the USB ids in a
// hardware id, the serial number in a device instance id, and the order of
// the port list's entries. No system calls, so the rules are tested anywhere.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vostrel {

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

// The n of "COMn" (case as Windows writes it), 0 for anything else.
int ComNumberOf(std::string_view portName);

// The port list's entries: "COM1" to "COM<fixed>" always, then every other
// present port by its own name, COM numbers in order, other names after them.
std::vector<std::string> WindowsPortNames(const std::vector<std::string>& present, int fixed = 6);

}  // namespace vostrel

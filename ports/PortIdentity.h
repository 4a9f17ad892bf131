// A port is a device, not a name: the kernel gives a freed name (/dev/ttyUSB0,
// /dev/pts/9) to the next device that comes. What the system knows of the
// device when it first opens is kept, and a port that went away is opened
// again only on that device, under whatever name it now has.
#pragma once

#include "PortFinder.h"

#include <string>
#include <vector>

namespace vostrel {

struct TDeviceIdentity {
    enum class TBy {
        None,     // nothing stable is known (a pty by its kernel name): never resumed
        Link,     // a link the operator named (udev's by-id, by-path, any symlink): Link
        Adapter,  // a USB adapter: serial number and interface, else USB path and interface
        Device,   // a port that never moves (a built-in UART): its sysfs path
        Bound,    // a "COMn" name: the port finder's session bindings keep it on its device
    };
    TBy By = TBy::None;
    std::string Link;
    std::string SerialNumber;
    std::string Location;   // the USB path; with a serial number it only tells clones apart
    std::string Interface;  // "1.0"
    std::string SysPath;
};

// What the system lends the rule: whether an entry is a link itself (lstat),
// and a path with every link resolved, "" when it leads nowhere (realpath).
struct TDeviceLookup {
    TPathTest IsLink;
    TPathMap RealPath;
};

// The identity of the device that path reaches among present (the port
// finder's list): a link is its own identity; a kernel name is the listed
// port's adapter or sysfs path; anything else (a pseudo-terminal, a port the
// list does not have) has none.
TDeviceIdentity IdentityOf(const std::string& path, const std::vector<TPresentPort>& present,
                           const TDeviceLookup& lookup);

// Where the identified device is now, to open: the link while it stands and
// leads to a device; the present port of the same adapter (one port only:
// look-alikes that cannot be told apart are none) or sysfs path. "" while it
// is away, always for None, and for Bound, whose name the caller resolves.
std::string DeviceNowAt(const TDeviceIdentity& identity, const std::vector<TPresentPort>& present,
                        const TDeviceLookup& lookup);

// What the port-list entry (as the operator named it) reaching path is, on
// this machine: Bound for a name the port finder resolves ("COMn" on Linux,
// every name on Windows, where the system keeps names with their adapters),
// else IdentityOf over this machine's ports.
TDeviceIdentity PortIdentity(const std::string& entry, const std::string& path);
// DeviceNowAt over this machine's ports.
std::string DeviceNowAt(const TDeviceIdentity& identity);

}  // namespace vostrel

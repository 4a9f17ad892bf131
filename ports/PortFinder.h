// Which device each of the window's port names "COM1".."COM6" reaches on
// Linux, and the texts the operator sees about it. Resolution is cheap and is
// meant to be done afresh whenever a name is picked, so adapters plugged in
// later are found; a session's bindings keep a name on the adapter it reached
// first, so an unplugged station's name never lands on another station.
#pragma once

#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace vostrel {

// A serial port that is there now.
struct TPresentPort {
    enum class TKind { BuiltIn, Usb, Other };
    std::string Path;  // "/dev/ttyUSB0"
    TKind Kind = TKind::Other;
    std::string Location;     // USB port path such as "1-1.2"; empty when not known or not USB
    std::string Description;  // "FTDI FT232R USB UART, s/n A12345"; may be empty
    // The adapter's own serial number; "" when it has none. Cheap clones share
    // one. Last, and "{}" so older four-field initialisers stay warning-free.
    std::string SerialNumber{};
    // A USB port's interface ("1.0"; "1.0/1" for a driver's second port on
    // one interface): one of a multi-port adapter's ports.
    std::string Interface{};
    // The tty's own sysfs path, all links resolved; "" when not known.
    std::string SysPath{};
};

// What one port name reaches.
struct TPortChoice {
    std::string Name;         // "COM1"
    std::string Path;         // what to open; empty: nothing there
    std::string Target;       // for a pinned name: where its link leads, when that is known
    std::string Description;  // of the present port reached; may be empty
    bool Pinned = false;      // Path is the administrator's /dev/COMn
    // The name is bound to an adapter that is unplugged now: Path is empty and
    // Description is the adapter's last one.
    bool Away = false;
    std::string AwayFrom{};  // then: its last path, or /dev/COMn for a link that is gone
};

// What one name has been bound to in this session. An adapter is known by its
// serial number, else by its socket, else by its path and sysfs path; its
// interface always counts. The rest helps tell look-alikes apart and is kept
// up to date as it moves.
struct TPortBinding {
    // Link: the name's own /dev/COMn, whose link never reached a present port.
    enum class TTo { Nothing, Adapter, Link };
    TTo To = TTo::Nothing;
    bool ByLink = false;  // an administrator's link gave the adapter this name
    std::string SerialNumber;
    std::string Location;
    std::string Path;         // where it was last reached
    std::string Description;  // its last description
    std::string Interface{};
    std::string SysPath{};
};

// One session's bindings (one window's), kept and updated by ResolveComPorts:
// Names[0] is COM1's; missing entries are unbound, so a default-constructed
// one is a fresh session. Plain data: copy it into a worker and back.
struct TPortBindings {
    std::vector<TPortBinding> Names;
};

using TPathTest = std::function<bool(const std::string&)>;
using TPathMap = std::function<std::string(const std::string&)>;

// The order the unpinned names follow: built-in UARTs, then USB adapters by
// the socket they are plugged into (a port without a known location after
// those with one), then the rest; device names break ties, numbers compared
// as numbers ("ttyS2" before "ttyS10").
bool PortBefore(const TPresentPort& a, const TPresentPort& b);

// COM1..COM<count>. A name whose /dev/COMn stands (by `exists`: true for a
// link even when it leads nowhere) is pinned to it, and bound to the present
// port it reaches (after `realPath`, "" when unresolvable) or else to the link.
// Other bound names reach their adapter wherever it now is, or are Away;
// unbound ones take the remaining ports in PortBefore order and are bound.
// `bindings` is updated; nullptr is a fresh session.
std::vector<TPortChoice> ResolveComPorts(const std::vector<TPresentPort>& present, const TPathTest& exists,
                                         const TPathMap& realPath, int count = 6, TPortBindings* bindings = nullptr);

// One port as the system's port list reports it.
struct TListedPort {
    std::string Name;  // "ttyUSB0"
    std::string Path;  // "/dev/ttyUSB0"
    std::string Product;
    std::string Manufacturer;
    std::string SerialNumber;
    std::optional<std::uint16_t> VendorId;
    std::optional<std::uint16_t> ProductId;
};

// The USB port path ("1-1.2") in the resolved sysfs path of a tty's device,
// taken from its interface directory ("1-1.2:1.0"); "" when it is not on USB.
std::string UsbLocation(const std::string& deviceRealPath);
// The interface ("1.0") of the same directory; "" when it is not on USB.
std::string UsbInterface(const std::string& deviceRealPath);

// The listed ports that really are serial ports, ordered by PortBefore, with
// kind, location and description filled from sysClassTty (normally
// /sys/class/tty). Pseudo-terminals are dropped; so are UARTs whose sysfs
// "type" says no chip answers. UARTs the list missed (it may leave out ports
// it could not open) are added when their node exists under devDir.
std::vector<TPresentPort> PresentPorts(const std::vector<TListedPort>& listed, const std::string& sysClassTty,
                                       const std::string& devDir);

// This machine's present ports, from QSerialPortInfo and sysfs.
std::vector<TPresentPort> ListPresentPorts();

// Whether a directory entry stands at path: a node, a file or a link, even a
// dangling or looping one (lstat), so a broken /dev/COMn still pins its name.
bool EntryExists(const std::string& path);

// ResolveComPorts over the given present ports and this machine's /dev.
std::vector<TPortChoice> FindComPorts(const std::vector<TPresentPort>& present, int count = 6,
                                      TPortBindings* bindings = nullptr);
// The same over this machine's ports.
std::vector<TPortChoice> FindComPorts(int count = 6, TPortBindings* bindings = nullptr);

// ---- What the window uses, on every system ----

// The entries of the port list: "COM1" to "COM6", and on Windows every other
// port present after them, by its own name.
std::vector<std::string> PortListEntries();

// What each name of the port list reaches now, for the names this system
// resolves: "COM1" to "COM6" on Linux (FindComPorts), every present port and
// "COM1" to "COM6" on Windows, where the names are the system's own.
std::vector<TPortChoice> FindPortChoices(const std::vector<TPresentPort>& present, TPortBindings* bindings);

// What an entry opens when no choice names a device for it: on Linux "/dev/"
// and a "COMn" name, anything else as it stands; on Windows "\\.\" and the name.
std::string DefaultDevicePath(const std::string& entry);

// Whether other programs could hold the device without our knowing: a real
// serial device on Linux, where opening it is not exclusive by itself (not a
// pseudo-terminal, whose other end is meant to be held). Never on Windows,
// where the open itself refuses a port another program has.
bool IsSharedDevice(const std::string& path);

// The port list's tooltip for one name.
QString PortToolTip(const TPortChoice& choice);

// For the open failure of an Away name: which adapter it waits for and that no
// other will be opened in its place; "" when the name is not Away.
QString AwayText(const TPortChoice& choice);

// The ports found, for the informative text of an open failure.
QString PresentPortsText(const std::vector<TPresentPort>& present);

// Other processes holding devicePath open, as "minicom (PID 1234)", by PID.
// Only processes whose descriptors can be read count (the same user's, or all
// for root); the calling process never does.
std::vector<std::string> PortHolders(const std::string& devicePath);

// Whether two paths name one device (a link and its target, two links; on
// Windows "\\.\COM3" and "com3").
bool SameDevice(const std::string& a, const std::string& b);

}  // namespace vostrel

// The ports a Linux machine has: the system's port list checked against
// sysfs, and the names resolved over this machine's /dev.
#include "PortFinder.h"
#include "PortIdentity.h"
#include "SysFiles.h"

#include <QSerialPortInfo>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <set>
#include <string_view>
#include <utility>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace vostrel {

namespace {

bool PathExists(const std::string& path)
{
    return ::access(path.c_str(), F_OK) == 0;
}

// "1-1.2" or "3-10": bus, a dash, then port numbers joined by dots.
bool IsUsbPortPath(std::string_view s)
{
    const std::size_t dash = s.find('-');
    if (dash == 0 || dash == std::string_view::npos)
        return false;
    if (!std::all_of(s.begin(), s.begin() + static_cast<std::ptrdiff_t>(dash), IsDigit))
        return false;
    std::string_view ports = s.substr(dash + 1);
    bool digitSeen = false;
    for (const char c : ports) {
        if (IsDigit(c)) {
            digitSeen = true;
        } else if (c == '.' && digitSeen) {
            digitSeen = false;
        } else {
            return false;
        }
    }
    return digitSeen;
}

// "1.0": configuration and interface numbers.
bool IsUsbInterfaceSuffix(std::string_view s)
{
    const std::size_t dot = s.find('.');
    if (dot == 0 || dot == std::string_view::npos || dot + 1 == s.size())
        return false;
    return std::all_of(s.begin(), s.end(), [](char c) { return IsDigit(c) || c == '.'; }) &&
           s.find('.', dot + 1) == std::string_view::npos;
}

// The serial core gives every UART a "type"; 0 means no chip answered at
// probe time, as with the legacy ttyS1..ttyS31 slots on most PCs.
std::optional<long> UartType(const std::string& sysDir)
{
    const auto text = ReadSmallFile(sysDir + "/type");
    if (!text || text->empty())
        return std::nullopt;
    char* end = nullptr;
    errno = 0;
    const long type = std::strtol(text->c_str(), &end, 10);
    if (errno != 0 || end == text->c_str() || *end != '\0')
        return std::nullopt;
    return type;
}

bool IsPseudoTerminal(const TListedPort& port)
{
    return StartsWith(port.Path, "/dev/pts/") || StartsWith(port.Name, "pts") || port.Name == "ptmx";
}

bool HasBuiltInName(std::string_view name)
{
    static constexpr std::string_view kPrefixes[] = {"ttyS", "ttyAMA", "ttymxc", "ttyO", "ttyTHS", "ttyMSM", "ttyPS"};
    return std::any_of(std::begin(kPrefixes), std::end(kPrefixes), [&](std::string_view p) {
        return StartsWith(name, p) && name.size() > p.size() && IsDigit(name[p.size()]);
    });
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix)
{
    if (prefix.size() > s.size())
        return false;
    return std::equal(prefix.begin(), prefix.end(), s.begin(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
    });
}

std::string Hex4(std::uint16_t v)
{
    char buf[8];
    std::snprintf(buf, sizeof buf, "%04x", static_cast<unsigned>(v));
    return buf;
}

std::string DescribeListed(const TListedPort& port, TPresentPort::TKind kind)
{
    std::string text;
    // Many products already carry the maker's name ("FTDI FT232R ...").
    if (!port.Manufacturer.empty() && !StartsWithNoCase(port.Product, port.Manufacturer)) {
        text = port.Manufacturer;
        if (!port.Product.empty())
            text += " " + port.Product;
    } else {
        text = port.Product;
    }
    if (text.empty() && port.VendorId) {
        text = "USB " + Hex4(*port.VendorId);
        if (port.ProductId)
            text += ":" + Hex4(*port.ProductId);
    }
    if (!port.SerialNumber.empty())
        text += (text.empty() ? "s/n " : ", s/n ") + port.SerialNumber;
    if (text.empty() && kind == TPresentPort::TKind::BuiltIn)
        text = "встроенный последовательный порт";
    return text;
}

TPresentPort::TKind KindOf(const TListedPort& port, bool serialCore)
{
    if (StartsWith(port.Name, "ttyUSB") || StartsWith(port.Name, "ttyACM"))
        return TPresentPort::TKind::Usb;
    if (serialCore || HasBuiltInName(port.Name))
        return TPresentPort::TKind::BuiltIn;
    if (port.VendorId)
        return TPresentPort::TKind::Usb;
    return TPresentPort::TKind::Other;
}

std::string FromQt(const QString& s)
{
    return s.toStdString();
}

// The interface directory's name ("1-1.2:1.0") in a device's sysfs path.
std::string_view UsbInterfaceDirectory(std::string_view rest)
{
    // ttyACM's device is the interface itself, ttyUSB's sits one level below it.
    while (!rest.empty()) {
        const std::size_t slash = rest.rfind('/');
        const std::string_view part = slash == std::string_view::npos ? rest : rest.substr(slash + 1);
        const std::size_t colon = part.find(':');
        if (colon != std::string_view::npos && IsUsbPortPath(part.substr(0, colon)) &&
            IsUsbInterfaceSuffix(part.substr(colon + 1)))
            return part;
        if (slash == std::string_view::npos)
            break;
        rest = rest.substr(0, slash);
    }
    return {};
}

// Is path a link itself, not what it leads to.
bool IsLinkEntry(const std::string& path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

}  // namespace

std::string UsbLocation(const std::string& deviceRealPath)
{
    const std::string_view dir = UsbInterfaceDirectory(deviceRealPath);
    return std::string(dir.substr(0, dir.find(':')));
}

std::string UsbInterface(const std::string& deviceRealPath)
{
    const std::string_view dir = UsbInterfaceDirectory(deviceRealPath);
    const std::size_t colon = dir.find(':');
    return colon == std::string_view::npos ? std::string{} : std::string(dir.substr(colon + 1));
}

std::vector<TPresentPort> PresentPorts(const std::vector<TListedPort>& listed, const std::string& sysClassTty,
                                       const std::string& devDir)
{
    std::vector<TPresentPort> ports;
    std::set<std::string> seen;
    for (const auto& port : listed) {
        if (IsPseudoTerminal(port) || port.Name.empty())
            continue;
        seen.insert(port.Name);
        const std::string sysDir = sysClassTty + "/" + port.Name;
        const std::optional<long> type = UartType(sysDir);
        if (type && *type == 0)
            continue;
        TPresentPort present;
        present.Path = port.Path.empty() ? devDir + "/" + port.Name : port.Path;
        present.Kind = KindOf(port, type.has_value());
        present.SysPath = RealPath(sysDir);
        if (present.Kind == TPresentPort::TKind::Usb) {
            const std::string device = RealPath(sysDir + "/device");
            present.Location = UsbLocation(device);
            present.Interface = UsbInterface(device);
            // A driver with several ports on one interface numbers them.
            const auto number = ReadSmallFile(sysDir + "/device/port_number");
            if (!present.Interface.empty() && number && !number->empty() && *number != "0")
                present.Interface += "/" + *number;
        }
        present.Description = DescribeListed(port, present.Kind);
        present.SerialNumber = port.SerialNumber;
        ports.push_back(std::move(present));
    }
    // The list may leave out a UART it could not open (busy, or no access),
    // which would shift every later name; sysfs tells without opening it.
    for (const auto& name : DirectoryEntries(sysClassTty)) {
        if (seen.count(name) != 0)
            continue;
        const std::optional<long> type = UartType(sysClassTty + "/" + name);
        if (!type || *type == 0 || !PathExists(devDir + "/" + name))
            continue;
        TListedPort uart;
        uart.Name = name;
        TPresentPort present;
        present.Path = devDir + "/" + name;
        present.Kind = TPresentPort::TKind::BuiltIn;
        present.Description = DescribeListed(uart, present.Kind);
        present.SysPath = RealPath(sysClassTty + "/" + name);
        ports.push_back(std::move(present));
    }
    std::stable_sort(ports.begin(), ports.end(), PortBefore);
    return ports;
}

std::vector<TPresentPort> ListPresentPorts()
{
    std::vector<TListedPort> listed;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        TListedPort port;
        port.Name = FromQt(info.portName());
        port.Path = FromQt(info.systemLocation());
        port.Product = FromQt(info.description().trimmed());
        port.Manufacturer = FromQt(info.manufacturer().trimmed());
        port.SerialNumber = FromQt(info.serialNumber().trimmed());
        if (info.hasVendorIdentifier())
            port.VendorId = info.vendorIdentifier();
        if (info.hasProductIdentifier())
            port.ProductId = info.productIdentifier();
        listed.push_back(std::move(port));
    }
    return PresentPorts(listed, "/sys/class/tty", "/dev");
}

bool EntryExists(const std::string& path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

std::vector<TPortChoice> FindComPorts(const std::vector<TPresentPort>& present, int count, TPortBindings* bindings)
{
    return ResolveComPorts(present, EntryExists, RealPath, count, bindings);
}

std::vector<std::string> PortListEntries()
{
    std::vector<std::string> names;
    for (int i = 1; i <= 6; ++i)
        names.push_back("COM" + std::to_string(i));
    return names;
}

std::vector<TPortChoice> FindPortChoices(const std::vector<TPresentPort>& present, TPortBindings* bindings)
{
    return FindComPorts(present, 6, bindings);
}

std::string DefaultDevicePath(const std::string& entry)
{
    // "COMn" without a port behind it: the administrator's name, which then
    // fails to open; anything else is a path.
    const bool comName =
        entry.size() > 3 && StartsWith(entry, "COM") && std::all_of(entry.begin() + 3, entry.end(), IsDigit);
    return comName ? "/dev/" + entry : entry;
}

bool IsSharedDevice(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISCHR(st.st_mode))
        return false;
    // Pseudo-terminal slaves (Unix 98 ptys).
    const unsigned major = ::major(st.st_rdev);
    return major < 136 || major > 143;
}

std::vector<TPortChoice> FindComPorts(int count, TPortBindings* bindings)
{
    return FindComPorts(ListPresentPorts(), count, bindings);
}

TDeviceIdentity PortIdentity(const std::string& entry, const std::string& path)
{
    if (DefaultDevicePath(entry) != entry) {
        TDeviceIdentity bound;
        bound.By = TDeviceIdentity::TBy::Bound;
        return bound;
    }
    return IdentityOf(path, ListPresentPorts(), {IsLinkEntry, RealPath});
}

std::string DeviceNowAt(const TDeviceIdentity& identity)
{
    if (identity.By == TDeviceIdentity::TBy::None || identity.By == TDeviceIdentity::TBy::Bound)
        return {};
    // A link is looked at by itself: the list of ports, asked twice a second
    // while a device is away, is walked only when it can tell.
    const bool needsList = identity.By != TDeviceIdentity::TBy::Link;
    return DeviceNowAt(identity, needsList ? ListPresentPorts() : std::vector<TPresentPort>{}, {IsLinkEntry, RealPath});
}

}  // namespace vostrel

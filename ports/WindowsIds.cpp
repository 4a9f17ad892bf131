#include "WindowsIds.h"

#include <algorithm>
#include <cctype>
#include <set>

namespace vostrel {

namespace {

char Upper(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

std::optional<std::uint16_t> HexField(std::string_view id, std::string_view key)
{
    std::string upper(id);
    std::transform(upper.begin(), upper.end(), upper.begin(), Upper);
    const std::size_t at = upper.find(key);
    if (at == std::string::npos || at + key.size() + 4 > upper.size())
        return std::nullopt;
    std::uint16_t value = 0;
    for (std::size_t i = at + key.size(); i < at + key.size() + 4; ++i) {
        const char c = upper[i];
        int digit = 0;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            return std::nullopt;
        value = static_cast<std::uint16_t>(value * 16 + digit);
    }
    // "VID_04031" is no four-digit id.
    const std::size_t end = at + key.size() + 4;
    if (end < upper.size() && std::isxdigit(static_cast<unsigned char>(upper[end])))
        return std::nullopt;
    return value;
}

bool StartsWithUpper(std::string_view text, std::string_view prefix)
{
    if (text.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (Upper(text[i]) != prefix[i])
            return false;
    return true;
}

std::string UpperText(std::string_view text)
{
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), Upper);
    return out;
}

// "USB\VID_2341&PID_8036&MI_00\..." is one function of a composite device.
bool IsCompositeFunction(std::string_view instanceId)
{
    if (!StartsWithUpper(instanceId, "USB\\"))
        return false;
    const std::string upper = UpperText(instanceId.substr(0, instanceId.find('\\', 4)));
    return upper.find("&MI_") != std::string::npos;
}

// A USB device as a whole, not one function of a composite device.
bool IsWholeUsbDevice(std::string_view instanceId)
{
    return StartsWithUpper(instanceId, "USB\\") && !IsCompositeFunction(instanceId);
}

// The nodes from the port up to its USB adapter, the adapter last; empty
// when no USB adapter is among what is known of its parents.
std::vector<TDeviceNode> AdapterChain(const TWindowsPort& port)
{
    std::vector<TDeviceNode> chain{{port.InstanceId, port.BusDescription}};
    for (const TDeviceNode& parent : port.Parents) {
        if (IsWholeUsbDevice(chain.back().InstanceId))
            break;
        chain.push_back(parent);
    }
    if (!IsWholeUsbDevice(chain.back().InstanceId))
        chain.clear();
    return chain;
}

// "USB Serial Port (COM7)" without its own port name.
std::string WithoutPortName(std::string text, const std::string& name)
{
    const std::string suffix = " (" + name + ")";
    if (text.size() > suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0)
        text.erase(text.size() - suffix.size());
    return text;
}

}  // namespace

TUsbIds UsbIdsOf(std::string_view hardwareId)
{
    return {HexField(hardwareId, "VID_"), HexField(hardwareId, "PID_")};
}

std::string SerialNumberOf(std::string_view instanceId)
{
    if (instanceId.substr(0, 4) != "USB\\" && instanceId.substr(0, 4) != "usb\\")
        return {};
    const std::size_t last = instanceId.rfind('\\');
    if (last == std::string_view::npos || last + 1 >= instanceId.size() || last < 4)
        return {};
    const std::string_view part = instanceId.substr(last + 1);
    if (part.find('&') != std::string_view::npos)
        return {};
    return std::string(part);
}

std::string AdapterSerialNumber(const TWindowsPort& port)
{
    const std::vector<TDeviceNode> chain = AdapterChain(port);
    return chain.empty() ? std::string() : SerialNumberOf(chain.back().InstanceId);
}

std::string AdapterDescription(const TWindowsPort& port)
{
    const bool generic = UpperText(port.Service) == "USBSER" || UpperText(port.Manufacturer) == "MICROSOFT";
    std::string reported = port.BusDescription;
    for (const TDeviceNode& node : AdapterChain(port)) {
        if (reported.empty())
            reported = node.BusDescription;
    }
    if (generic && !reported.empty())
        return reported;
    std::string text = WithoutPortName(port.FriendlyName, port.Name);
    if (!generic && !port.Manufacturer.empty() && text.find(port.Manufacturer) == std::string::npos &&
        port.Manufacturer.front() != '(')
        text = port.Manufacturer + (text.empty() ? "" : " " + text);
    return text;
}

std::vector<TWindowsPort> MergeWindowsPorts(const std::vector<TWindowsPort>& ports)
{
    std::vector<TWindowsPort> merged;
    std::set<int> numbers;
    std::set<std::string> others;
    for (const TWindowsPort& port : ports) {
        if (port.Name.empty() || StartsWithUpper(port.Name, "LPT"))
            continue;
        const int n = ComNumberOf(port.Name);
        if (n > 0 ? !numbers.insert(n).second : !others.insert(UpperText(port.Name)).second)
            continue;
        merged.push_back(port);
    }
    return merged;
}

int ComNumberOf(std::string_view portName)
{
    if (portName.size() < 4 || Upper(portName[0]) != 'C' || Upper(portName[1]) != 'O' || Upper(portName[2]) != 'M')
        return 0;
    int n = 0;
    for (std::size_t i = 3; i < portName.size(); ++i) {
        const char c = portName[i];
        if (c < '0' || c > '9' || n > 99999)
            return 0;
        n = n * 10 + (c - '0');
    }
    return n;
}

std::vector<std::string> WindowsPortNames(const std::vector<std::string>& present, int fixed)
{
    std::vector<std::string> names;
    for (int i = 1; i <= fixed; ++i)
        names.push_back("COM" + std::to_string(i));
    std::set<int> numbers;
    std::set<std::string> others;
    for (const std::string& name : present) {
        const int n = ComNumberOf(name);
        if (n > fixed)
            numbers.insert(n);
        else if (n == 0 && !name.empty())
            others.insert(name);
    }
    for (const int n : numbers)
        names.push_back("COM" + std::to_string(n));
    names.insert(names.end(), others.begin(), others.end());
    return names;
}

}  // namespace vostrel

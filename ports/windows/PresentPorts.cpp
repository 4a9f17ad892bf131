// The ports a Windows machine has, from its device manager and registry. "COM1" to "COM6"
// and every other port are the system's own names: Windows itself keeps a
// name with its adapter, so no binding of ours is needed.
#include "PortFinder.h"
#include "PortIdentity.h"
#include "SetupApiPorts.h"
#include "WindowsIds.h"

#include <algorithm>
#include <cctype>

namespace vostrel {

namespace {

const std::string kDevicePrefix = "\\\\.\\";

TPresentPort Present(const TWindowsPort& port)
{
    TPresentPort present;
    present.Path = kDevicePrefix + port.Name;
    const TUsbIds ids = UsbIdsOf(port.HardwareId);
    present.SerialNumber = AdapterSerialNumber(port);
    if (ids.VendorId) {
        present.Kind = TPresentPort::TKind::Usb;
        present.Location = port.Location;
    } else if (port.HardwareId.rfind("ACPI\\", 0) == 0) {
        present.Kind = TPresentPort::TKind::BuiltIn;
    }
    std::string text = AdapterDescription(port);
    if (!present.SerialNumber.empty())
        text += (text.empty() ? "s/n " : ", s/n ") + present.SerialNumber;
    present.Description = text;
    return present;
}

std::string NameOf(const TPresentPort& port)
{
    return port.Path.rfind(kDevicePrefix, 0) == 0 ? port.Path.substr(kDevicePrefix.size()) : port.Path;
}

std::vector<std::string> NamesOf(const std::vector<TPresentPort>& present)
{
    std::vector<std::string> names;
    for (const TPresentPort& port : present)
        names.push_back(NameOf(port));
    return names;
}

}  // namespace

std::vector<TPresentPort> ListPresentPorts()
{
    std::vector<TPresentPort> present;
    for (const TWindowsPort& port : ListWindowsPorts())
        present.push_back(Present(port));
    std::stable_sort(present.begin(), present.end(), PortBefore);
    return present;
}

std::vector<std::string> PortListEntries()
{
    return WindowsPortNames(NamesOf(ListPresentPorts()));
}

std::vector<TPortChoice> FindPortChoices(const std::vector<TPresentPort>& present, TPortBindings* /*bindings*/)
{
    std::vector<TPortChoice> choices;
    for (const std::string& name : WindowsPortNames(NamesOf(present))) {
        TPortChoice choice;
        choice.Name = name;
        const auto port = std::find_if(present.begin(), present.end(), [&](const TPresentPort& p) {
            return ComNumberOf(NameOf(p)) == ComNumberOf(name) && (ComNumberOf(name) > 0 || NameOf(p) == name);
        });
        // A port the device manager does not list may still open (a virtual
        // one); the name is then tried as it stands.
        if (port != present.end()) {
            choice.Path = port->Path;
            choice.Description = port->Description;
        }
        choices.push_back(std::move(choice));
    }
    return choices;
}

std::string DefaultDevicePath(const std::string& entry)
{
    return entry.rfind("\\\\", 0) == 0 ? entry : kDevicePrefix + entry;
}

TDeviceIdentity PortIdentity(const std::string& /*entry*/, const std::string& /*path*/)
{
    // The device manager keeps a COM name with its adapter.
    TDeviceIdentity bound;
    bound.By = TDeviceIdentity::TBy::Bound;
    return bound;
}

std::string DeviceNowAt(const TDeviceIdentity& /*identity*/)
{
    return {};
}

bool IsSharedDevice(const std::string& /*path*/)
{
    return false;
}

std::vector<std::string> PortHolders(const std::string& /*devicePath*/)
{
    // Windows names no holder of a port; its exclusive open refuses one.
    return {};
}

bool SameDevice(const std::string& a, const std::string& b)
{
    // "\\.\COM3" and "com3" are one port.
    const auto bare = [](std::string s) {
        if (s.rfind("\\\\.\\", 0) == 0)
            s.erase(0, 4);
        for (char& c : s)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return s;
    };
    return bare(a) == bare(b);
}

}  // namespace vostrel

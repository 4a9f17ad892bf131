#include "PortIdentity.h"

#include <algorithm>

namespace vostrel {

namespace {

using TBy = TDeviceIdentity::TBy;

bool SamePort(const TPresentPort& port, const std::string& path, const std::string& real, const TDeviceLookup& lookup)
{
    if (port.Path == path)
        return true;
    return !real.empty() && lookup.RealPath(port.Path) == real;
}

// The one port that fits, else "": two look-alikes are not guessed between.
template <typename TFits>
std::string OnlyPort(const std::vector<TPresentPort>& present, TFits fits)
{
    const TPresentPort* found = nullptr;
    for (const TPresentPort& port : present) {
        if (!fits(port))
            continue;
        if (found != nullptr)
            return {};
        found = &port;
    }
    return found != nullptr ? found->Path : std::string{};
}

}  // namespace

TDeviceIdentity IdentityOf(const std::string& path, const std::vector<TPresentPort>& present,
                           const TDeviceLookup& lookup)
{
    TDeviceIdentity id;
    if (lookup.IsLink(path)) {
        id.By = TBy::Link;
        id.Link = path;
        return id;
    }
    const std::string real = lookup.RealPath(path);
    const auto port = std::find_if(present.begin(), present.end(),
                                   [&](const TPresentPort& p) { return SamePort(p, path, real, lookup); });
    if (port == present.end())
        return id;
    if (port->Kind == TPresentPort::TKind::Usb && (!port->SerialNumber.empty() || !port->Location.empty())) {
        id.By = TBy::Adapter;
        id.SerialNumber = port->SerialNumber;
        id.Location = port->Location;
        id.Interface = port->Interface;
    } else if (port->Kind == TPresentPort::TKind::BuiltIn && !port->SysPath.empty()) {
        id.By = TBy::Device;
        id.SysPath = port->SysPath;
    }
    return id;
}

std::string DeviceNowAt(const TDeviceIdentity& identity, const std::vector<TPresentPort>& present,
                        const TDeviceLookup& lookup)
{
    const auto usb = [&](const TPresentPort& p) {
        return p.Kind == TPresentPort::TKind::Usb && p.SerialNumber == identity.SerialNumber &&
               p.Interface == identity.Interface;
    };
    switch (identity.By) {
    case TBy::Link:
        return lookup.IsLink(identity.Link) && !lookup.RealPath(identity.Link).empty() ? identity.Link : std::string{};
    case TBy::Adapter:
        if (identity.SerialNumber.empty())
            return OnlyPort(present, [&](const TPresentPort& p) { return usb(p) && p.Location == identity.Location; });
        // Clones share a serial number: then the socket tells them apart.
        if (const std::string at = OnlyPort(present, usb); !at.empty())
            return at;
        return OnlyPort(present, [&](const TPresentPort& p) { return usb(p) && p.Location == identity.Location; });
    case TBy::Device:
        return OnlyPort(present, [&](const TPresentPort& p) { return p.SysPath == identity.SysPath; });
    case TBy::None:
    case TBy::Bound:
        break;
    }
    return {};
}

}  // namespace vostrel

#include "SetupApiPorts.h"

#include <windows.h>

#include <cfgmgr32.h>
// The class GUID is defined here, not taken from a library.
#include <initguid.h>
#include <devguid.h>
#include <setupapi.h>

#include <memory>

namespace vostrel {

namespace {

std::string Utf8(const wchar_t* text, std::size_t length)
{
    if (length == 0)
        return {};
    const int wide = static_cast<int>(length);
    const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, text, wide, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0)
        return {};
    std::string out(static_cast<std::size_t>(bytes), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text, wide, out.data(), bytes, nullptr, nullptr);
    return out;
}

// A registry string up to its first NUL, so a multi-string gives its first entry.
std::string Utf8Z(const wchar_t* text, std::size_t maxChars)
{
    std::size_t n = 0;
    while (n < maxChars && text[n] != L'\0')
        ++n;
    return Utf8(text, n);
}

std::string Property(HDEVINFO set, SP_DEVINFO_DATA& device, DWORD property)
{
    wchar_t buffer[1024] = {};
    DWORD type = 0;
    if (!::SetupDiGetDeviceRegistryPropertyW(set, &device, property, &type, reinterpret_cast<BYTE*>(buffer),
                                             sizeof buffer - sizeof(wchar_t), nullptr))
        return {};
    if (type != REG_SZ && type != REG_MULTI_SZ && type != REG_EXPAND_SZ)
        return {};
    return Utf8Z(buffer, sizeof buffer / sizeof buffer[0]);
}

std::string PortName(HDEVINFO set, SP_DEVINFO_DATA& device)
{
    const HKEY key = ::SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (key == INVALID_HANDLE_VALUE)
        return {};
    wchar_t buffer[256] = {};
    DWORD size = sizeof buffer - sizeof(wchar_t);
    DWORD type = 0;
    const LONG status = ::RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
    ::RegCloseKey(key);
    if (status != ERROR_SUCCESS || type != REG_SZ)
        return {};
    return Utf8Z(buffer, size / sizeof(wchar_t));
}

std::string InstanceId(DEVINST instance)
{
    wchar_t buffer[MAX_DEVICE_ID_LEN + 1] = {};
    if (::CM_Get_Device_IDW(instance, buffer, MAX_DEVICE_ID_LEN, 0) != CR_SUCCESS)
        return {};
    return Utf8Z(buffer, MAX_DEVICE_ID_LEN);
}

}  // namespace

std::vector<TWindowsPort> ListWindowsPorts()
{
    std::vector<TWindowsPort> ports;
    const HDEVINFO set = ::SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE)
        return ports;
    const std::unique_ptr<void, decltype(&::SetupDiDestroyDeviceInfoList)> owner(set, ::SetupDiDestroyDeviceInfoList);
    for (DWORD i = 0;; ++i) {
        SP_DEVINFO_DATA device{};
        device.cbSize = sizeof device;
        if (!::SetupDiEnumDeviceInfo(set, i, &device))
            break;
        TWindowsPort port;
        port.Name = PortName(set, device);
        // Printer ports share the class; they are no line to a station.
        if (port.Name.empty() || port.Name.rfind("LPT", 0) == 0)
            continue;
        port.FriendlyName = Property(set, device, SPDRP_FRIENDLYNAME);
        port.Manufacturer = Property(set, device, SPDRP_MFG);
        port.HardwareId = Property(set, device, SPDRP_HARDWAREID);
        port.Location = Property(set, device, SPDRP_LOCATION_INFORMATION);
        port.InstanceId = InstanceId(device.DevInst);
        DEVINST parent = 0;
        if (::CM_Get_Parent(&parent, device.DevInst, 0) == CR_SUCCESS)
            port.ParentInstanceId = InstanceId(parent);
        ports.push_back(std::move(port));
    }
    return ports;
}

}  // namespace vostrel

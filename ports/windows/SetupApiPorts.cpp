#include "SetupApiPorts.h"

#include <windows.h>

#include <cfgmgr32.h>
// The class GUID is defined here, not taken from a library.
#include <devguid.h>
#include <initguid.h>
#include <setupapi.h>

#include <memory>

namespace vostrel {

namespace {

// GUID_DEVINTERFACE_COMPORT, whose header wants the driver kit's types.
const GUID kComPortInterface = {0x86e0d1e0, 0x8089, 0x11d0, {0x9c, 0xe4, 0x08, 0x00, 0x3e, 0x30, 0x1f, 0x73}};
// DEVPKEY_Device_BusReportedDeviceDesc, kept here as the GUID above is.
const DEVPROPKEY kBusReportedDeviceDesc = {
    {0x540b947e, 0x8b40, 0x45bc, {0xa8, 0xa2, 0x6a, 0x0b, 0x89, 0x4c, 0xbd, 0xa2}}, 4};

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

// What the device itself reported on its bus (a USB product string).
std::string BusDescription(DEVINST instance)
{
    wchar_t buffer[512] = {};
    DEVPROPTYPE type = 0;
    ULONG size = sizeof buffer - sizeof(wchar_t);
    if (::CM_Get_DevNode_PropertyW(instance, &kBusReportedDeviceDesc, &type, reinterpret_cast<BYTE*>(buffer), &size,
                                   0) != CR_SUCCESS ||
        type != DEVPROP_TYPE_STRING)
        return {};
    return Utf8Z(buffer, size / sizeof(wchar_t));
}

// The present devices of a setup class, or those with a device interface.
void AddDevices(const GUID& guid, DWORD flags, std::vector<TWindowsPort>& ports)
{
    const HDEVINFO set = ::SetupDiGetClassDevsW(&guid, nullptr, nullptr, DIGCF_PRESENT | flags);
    if (set == INVALID_HANDLE_VALUE)
        return;
    const std::unique_ptr<void, decltype(&::SetupDiDestroyDeviceInfoList)> owner(set, ::SetupDiDestroyDeviceInfoList);
    for (DWORD i = 0;; ++i) {
        SP_DEVINFO_DATA device{};
        device.cbSize = sizeof device;
        if (!::SetupDiEnumDeviceInfo(set, i, &device))
            break;
        TWindowsPort port;
        port.Name = PortName(set, device);
        if (port.Name.empty())
            continue;
        port.FriendlyName = Property(set, device, SPDRP_FRIENDLYNAME);
        port.Manufacturer = Property(set, device, SPDRP_MFG);
        port.HardwareId = Property(set, device, SPDRP_HARDWAREID);
        port.Location = Property(set, device, SPDRP_LOCATION_INFORMATION);
        port.Service = Property(set, device, SPDRP_SERVICE);
        port.InstanceId = InstanceId(device.DevInst);
        port.BusDescription = BusDescription(device.DevInst);
        // Two levels reach a multi-port adapter's composite device from a
        // port on one of its functions; which of them is the adapter is
        // decided by the ids (AdapterSerialNumber).
        DEVINST node = device.DevInst;
        for (int level = 0; level < 2; ++level) {
            DEVINST parent = 0;
            if (::CM_Get_Parent(&parent, node, 0) != CR_SUCCESS)
                break;
            port.Parents.push_back({InstanceId(parent), BusDescription(parent)});
            node = parent;
        }
        ports.push_back(std::move(port));
    }
}

// HKLM\HARDWARE\DEVICEMAP\SERIALCOMM: every serial device's port name, as
// each driver writes it, installed through a Ports class or not.
void AddSerialComm(std::vector<TWindowsPort>& ports)
{
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_QUERY_VALUE, &key) !=
        ERROR_SUCCESS)
        return;
    for (DWORD i = 0;; ++i) {
        wchar_t device[256] = {};
        DWORD deviceChars = sizeof device / sizeof device[0];
        wchar_t name[256] = {};
        DWORD size = sizeof name - sizeof(wchar_t);
        DWORD type = 0;
        const LONG status =
            ::RegEnumValueW(key, i, device, &deviceChars, nullptr, &type, reinterpret_cast<BYTE*>(name), &size);
        if (status == ERROR_MORE_DATA)
            continue;
        if (status != ERROR_SUCCESS)
            break;
        if (type != REG_SZ)
            continue;
        TWindowsPort port;
        port.Name = Utf8Z(name, size / sizeof(wchar_t));
        ports.push_back(std::move(port));
    }
    ::RegCloseKey(key);
}

}  // namespace

std::vector<TWindowsPort> ListWindowsPorts()
{
    std::vector<TWindowsPort> ports;
    AddDevices(GUID_DEVCLASS_PORTS, 0, ports);
    AddDevices(kComPortInterface, DIGCF_DEVICEINTERFACE, ports);
    AddSerialComm(ports);
    return MergeWindowsPorts(ports);
}

}  // namespace vostrel

// What Windows' own strings say about a port: USB ids, serial numbers, the
// adapter's name, the ports its lists give, and the entries the port list
// offers. Ids as Windows' device manager shows them
// for FTDI, CH340, Prolific and CDC adapters.
#include "WindowsIds.h"

#include <gtest/gtest.h>

namespace vostrel {
namespace {

TEST(WindowsIds, UsbIdsAndSerialNumbers)
{
    struct TRow {
        const char* Id;
        std::optional<std::uint16_t> Vid, Pid;
    };
    const TRow ids[] = {
        {"USB\\VID_0403&PID_6001&REV_0600", 0x0403, 0x6001},
        {"FTDIBUS\\VID_0403+PID_6001+A12345A\\0000", 0x0403, 0x6001},
        {"usb\\vid_1a86&pid_7523", 0x1A86, 0x7523},
        {"USB\\VID_067B&PID_23A3&REV_0300", 0x067B, 0x23A3},
        {"ACPI\\PNP0501", std::nullopt, std::nullopt},
        {"USB\\VID_04G3&PID_600", std::nullopt, std::nullopt},  // not hex, too short
        {"USB\\VID_04031&PID_60011", std::nullopt, std::nullopt},
        {"", std::nullopt, std::nullopt},
    };
    for (const TRow& row : ids) {
        SCOPED_TRACE(row.Id);
        const TUsbIds got = UsbIdsOf(row.Id);
        EXPECT_EQ(got.VendorId, row.Vid);
        EXPECT_EQ(got.ProductId, row.Pid);
    }

    const std::pair<const char*, const char*> serials[] = {
        {"USB\\VID_0403&PID_6001\\A12345", "A12345"},
        {"USB\\VID_2341&PID_0043\\75237333536351F0F0C1", "75237333536351F0F0C1"},
        // Made up by Windows for an adapter without a serial number.
        {"USB\\VID_1A86&PID_7523\\5&2C8B4A2C&0&2", ""},
        {"FTDIBUS\\VID_0403+PID_6001+A12345A\\0000", ""},
        {"ACPI\\PNP0501\\1", ""},
        {"USB\\VID_0403&PID_6001\\", ""},
        {"USB\\", ""},
    };
    for (const auto& [id, serial] : serials) {
        SCOPED_TRACE(id);
        EXPECT_EQ(SerialNumberOf(id), serial);
    }
}

TEST(WindowsIds, AnAdapterIsKnownByItsOwnSerialNumberAndName)
{
    struct TRow {
        const char* Name;
        TWindowsPort Port;
        const char* Serial;
        const char* Description;
    };
    // parents: the devices above the port, nearest first, as
    // {instance id, bus-reported description}.
    auto port = [](std::string friendly, std::string mfg, std::string service, std::string bus, std::string id,
                   std::vector<TDeviceNode> parents) {
        TWindowsPort p;
        p.Name = "COM7";
        p.FriendlyName = std::move(friendly);
        p.Manufacturer = std::move(mfg);
        p.Service = std::move(service);
        p.BusDescription = std::move(bus);
        p.InstanceId = std::move(id);
        p.Parents = std::move(parents);
        return p;
    };
    const TDeviceNode hub{"USB\\VID_05E3&PID_0610\\HUB0001", "USB2.0 Hub"};
    const TDeviceNode rootHub{"USB\\ROOT_HUB30\\4&1", ""};
    const TRow rows[] = {
        {"FTDI: the port sits on the adapter",
         port("USB Serial Port (COM7)", "FTDI", "FTSER2K", "", "FTDIBUS\\VID_0403+PID_6001+A12345A\\0000",
              {{"USB\\VID_0403&PID_6001\\A12345", "FT232R USB UART"}, hub}),
         "A12345", "FTDI USB Serial Port"},
        {"CDC behind a hub with a serial number: not the hub's",
         port("USB Serial Device (COM7)", "Microsoft", "usbser", "Arduino Uno", "USB\\VID_2341&PID_0043\\7523733353635",
              {hub, rootHub}),
         "7523733353635", "Arduino Uno"},
        {"an adapter without a serial number behind such a hub",
         port("USB-SERIAL CH340 (COM7)", "wch.cn", "CH341SER_A64", "USB Serial",
              "USB\\VID_1A86&PID_7523\\5&2C8B4A2C&0&2", {hub, rootHub}),
         "", "wch.cn USB-SERIAL CH340"},
        {"a single-function adapter without a product string: never the hub's",
         port("USB Serial Device (COM7)", "Microsoft", "usbser", "", "USB\\VID_1234&PID_5678\\SN1", {hub, rootHub}),
         "SN1", "USB Serial Device"},
        {"a function of a composite device: the device's",
         port("USB Serial Device (COM7)", "Microsoft", "usbser", "", "USB\\VID_2E8A&PID_000A&MI_00\\6&1A2B&0&0000",
              {{"USB\\VID_2E8A&PID_000A\\E660583883", "Pico"}, hub}),
         "E660583883", "Pico"},
        {"a function with a name of its own",
         port("USB Serial Device (COM7)", "Microsoft", "usbser", "Debug UART",
              "USB\\VID_2E8A&PID_000A&MI_02\\6&1A2B&0&0002", {{"USB\\VID_2E8A&PID_000A\\E660583883", "Pico"}, hub}),
         "E660583883", "Debug UART"},
        {"a port of a multi-port adapter under its maker's driver: the composite device's",
         port("USB Serial Port (COM7)", "FTDI", "FTSER2K", "", "FTDIBUS\\VID_0403+PID_6011+FT5X6Y7ZB\\0000",
              {{"USB\\VID_0403&PID_6011&MI_01\\6&2A3B&0&0001", "Quad RS232-HS"},
               {"USB\\VID_0403&PID_6011\\FT5X6Y7Z", "Quad RS232-HS"}}),
         "FT5X6Y7Z", "FTDI USB Serial Port"},
        {"a multi-port adapter on Windows' driver, nothing reported below the device",
         port("USB Serial Device (COM7)", "Microsoft", "usbser", "", "USB\\VID_1209&PID_0001&MI_02\\6&3C&0&0002",
              {{"USB\\VID_1209&PID_0001\\DUAL01", "Dual RS-232"}, hub}),
         "DUAL01", "Dual RS-232"},
        {"a driver's own bus two levels up, not yet at the adapter: no number",
         port("USB Serial Port (COM7)", "FTDI", "FTSER2K", "", "FTDIBUS\\VID_0403+PID_6011+FT5X6Y7ZB\\0000",
              {{"USB\\VID_0403&PID_6011&MI_01\\6&2A3B&0&0001", ""}}),
         "", "FTDI USB Serial Port"},
        {"a built-in port",
         port("Communications Port (COM7)", "(Standard port types)", "Serial", "", "ACPI\\PNP0501\\1",
              {{"ACPI\\PNP0A08\\0", ""}, {"ACPI\\HPET\\0", ""}}),
         "", "Communications Port"},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.Name);
        EXPECT_EQ(AdapterSerialNumber(row.Port), row.Serial);
        EXPECT_EQ(AdapterDescription(row.Port), row.Description);
    }
}

TEST(WindowsIds, EveryListedPortOnceFirstListDescribingIt)
{
    auto named = [](const char* name, const char* friendly = "") {
        TWindowsPort p;
        p.Name = name;
        p.FriendlyName = friendly;
        return p;
    };
    struct TRow {
        const char* Name;
        std::vector<TWindowsPort> Ports;
        std::vector<std::pair<std::string, std::string>> Expected;  // name, friendly name
    };
    const TRow rows[] = {
        {"Ports class, then interface and registry copies dropped",
         {named("COM3", "USB Serial Port (COM3)"), named("COM3", "from the interface"), named("COM3")},
         {{"COM3", "USB Serial Port (COM3)"}}},
        {"a modem and a virtual pair only in the later lists",
         {named("COM1", "Communications Port (COM1)"), named("COM4", "Modem"), named("CNCA0"), named("CNCB0"),
          named("COM1"), named("COM12")},
         {{"COM1", "Communications Port (COM1)"}, {"COM4", "Modem"}, {"CNCA0", ""}, {"CNCB0", ""}, {"COM12", ""}}},
        {"names in any case",
         {named("com9", "first"), named("COM9"), named("cnca0"), named("CNCA0")},
         {{"com9", "first"}, {"cnca0", ""}}},
        {"no printer port, no nameless entry",
         {named("LPT1", "Printer Port (LPT1)"), named(""), named("COM2")},
         {{"COM2", ""}}},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.Name);
        std::vector<std::pair<std::string, std::string>> got;
        for (const TWindowsPort& p : MergeWindowsPorts(row.Ports))
            got.emplace_back(p.Name, p.FriendlyName);
        EXPECT_EQ(got, row.Expected);
    }
}

TEST(WindowsIds, ListOffersComOneToSixThenEveryOtherPort)
{
    struct TRow {
        const char* Name;
        std::vector<std::string> Present;
        std::vector<std::string> Expected;
    };
    const std::vector<std::string> six{"COM1", "COM2", "COM3", "COM4", "COM5", "COM6"};
    auto with = [&six](std::vector<std::string> more) {
        std::vector<std::string> all = six;
        all.insert(all.end(), more.begin(), more.end());
        return all;
    };
    const TRow rows[] = {
        {"nothing present", {}, six},
        {"built-in ports only", {"COM1", "COM2"}, six},
        {"adapters numbered high, in number order",
         {"COM12", "COM1", "COM7", "COM10"},
         with({"COM7", "COM10", "COM12"})},
        {"one name once", {"COM9", "COM9", "com9"}, with({"COM9"})},
        {"other names after the COM numbers", {"CNCB0", "COM8", "CNCA0"}, with({"COM8", "CNCA0", "CNCB0"})},
        {"no empty entry, no COM0", {"", "COM0", "COM"}, with({"COM", "COM0"})},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.Name);
        EXPECT_EQ(WindowsPortNames(row.Present), row.Expected);
    }
}

}  // namespace
}  // namespace vostrel

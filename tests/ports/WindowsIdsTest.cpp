// What Windows' own strings say about a port: USB ids, serial numbers, and
// the entries the port list offers. Ids as Windows' device manager shows them
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
        {"adapters numbered high, in number order", {"COM12", "COM1", "COM7", "COM10"}, with({"COM7", "COM10", "COM12"})},
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

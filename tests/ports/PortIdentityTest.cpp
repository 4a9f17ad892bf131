// Which device a port that went away comes back as: its identity taken from
// made-up port lists and links when it first opens, looked for in the list
// and links of the moment it is looked for again.
#include "PortIdentity.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace vostrel {

namespace {

using TKind = TPresentPort::TKind;

TPresentPort Usb(const std::string& path, const std::string& location, const std::string& serial,
                 const std::string& interface = "1.0")
{
    TPresentPort port{path, TKind::Usb, location, "", serial};
    port.Interface = interface;
    return port;
}

TPresentPort Uart(const std::string& path, const std::string& sysPath)
{
    TPresentPort port{path, TKind::BuiltIn, "", ""};
    port.SysPath = sysPath;
    return port;
}

// What the system shows at one moment: the ports listed and the links, each
// with where it leads ("" for nowhere). Any other path resolves to itself.
struct TMoment {
    std::vector<TPresentPort> Present;
    std::map<std::string, std::string> Links;

    TDeviceLookup Lookup() const
    {
        return {[this](const std::string& path) { return Links.count(path) != 0; },
                [this](const std::string& path) {
                    const auto link = Links.find(path);
                    return link == Links.end() ? path : link->second;
                }};
    }
};

TEST(PortIdentityTest, APortComesBackOnlyAsTheSameDevice)
{
    const std::string byId = "/dev/serial/by-id/usb-FTDI_FT232R_A1-if00-port0";
    const std::string pcSys = "/sys/devices/pnp0/00:05/tty/ttyS0";
    struct TRow {
        const char* Name;
        std::string Named;  // as the operator gave it
        TMoment First;      // when it opened
        TMoment Later;      // when it is looked for again
        std::string Expected;
    };
    const std::vector<TRow> rows = {
        {"kernel name reused by another adapter: away",
         "/dev/ttyUSB0",
         {{Usb("/dev/ttyUSB0", "1-1", "A1")}, {}},
         {{Usb("/dev/ttyUSB0", "1-2", "B2")}, {}},
         ""},
        {"the same adapter back under another kernel name and socket",
         "/dev/ttyUSB0",
         {{Usb("/dev/ttyUSB0", "1-1", "A1")}, {}},
         {{Usb("/dev/ttyUSB0", "1-2", "B2"), Usb("/dev/ttyUSB1", "1-3", "A1")}, {}},
         "/dev/ttyUSB1"},
        {"by-id link standing and reaching a device",
         byId,
         {{Usb("/dev/ttyUSB0", "1-1", "A1")}, {{byId, "/dev/ttyUSB0"}}},
         {{Usb("/dev/ttyUSB2", "1-1", "A1")}, {{byId, "/dev/ttyUSB2"}}},
         byId},
        {"by-id link gone with its adapter",
         byId,
         {{}, {{byId, "/dev/ttyUSB0"}}},
         {{Usb("/dev/ttyUSB0", "1-1", "B2")}, {}},
         ""},
        {"by-id link left dangling", byId, {{}, {{byId, "/dev/ttyUSB0"}}}, {{}, {{byId, ""}}}, ""},
        {"plain symlink to a pty, leading to a new one",
         "/tmp/station",
         {{}, {{"/tmp/station", "/dev/pts/4"}}},
         {{}, {{"/tmp/station", "/dev/pts/7"}}},
         "/tmp/station"},
        {"pty by its kernel name, the number taken again: never", "/dev/pts/9", {}, {}, ""},
        {"adapter without serial number by its USB path and interface",
         "/dev/ttyUSB0",
         {{Usb("/dev/ttyUSB0", "1-1", "")}, {}},
         {{Usb("/dev/ttyUSB0", "1-2", ""), Usb("/dev/ttyUSB3", "1-1", "")}, {}},
         "/dev/ttyUSB3"},
        {"adapter without serial number: another interface in its socket is not it",
         "/dev/ttyUSB0",
         {{Usb("/dev/ttyUSB0", "1-1", "", "1.0")}, {}},
         {{Usb("/dev/ttyUSB0", "1-1", "", "1.1")}, {}},
         ""},
        {"second port of a dual adapter, both renumbered",
         "/dev/ttyUSB1",
         {{Usb("/dev/ttyUSB0", "1-1", "D1", "1.0"), Usb("/dev/ttyUSB1", "1-1", "D1", "1.1")}, {}},
         {{Usb("/dev/ttyUSB3", "1-1", "D1", "1.1"), Usb("/dev/ttyUSB2", "1-1", "D1", "1.0")}, {}},
         "/dev/ttyUSB3"},
        {"clones sharing a serial number told apart by socket",
         "/dev/ttyUSB1",
         {{Usb("/dev/ttyUSB0", "1-1", "0001"), Usb("/dev/ttyUSB1", "1-2", "0001")}, {}},
         {{Usb("/dev/ttyUSB0", "1-2", "0001"), Usb("/dev/ttyUSB1", "1-1", "0001")}, {}},
         "/dev/ttyUSB0"},
        {"clones that cannot be told apart: not guessed",
         "/dev/ttyUSB1",
         {{Usb("/dev/ttyUSB0", "1-1", "0001"), Usb("/dev/ttyUSB1", "1-2", "0001")}, {}},
         {{Usb("/dev/ttyUSB0", "1-3", "0001"), Usb("/dev/ttyUSB1", "1-4", "0001")}, {}},
         ""},
        {"built-in UART by its sysfs path",
         "/dev/ttyS0",
         {{Uart("/dev/ttyS0", pcSys)}, {}},
         {{Uart("/dev/ttyS0", pcSys)}, {}},
         "/dev/ttyS0"},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.Name);
        const TDeviceIdentity identity = IdentityOf(row.Named, row.First.Present, row.First.Lookup());
        EXPECT_EQ(DeviceNowAt(identity, row.Later.Present, row.Later.Lookup()), row.Expected);
    }
}

}  // namespace

}  // namespace vostrel

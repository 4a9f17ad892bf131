// Which device each port name reaches: the ordering, pinning and binding rules
// on made-up port lists and sessions, links on a real folder, the sysfs reading
// on a made-up tree, and the holder lookup on a real pseudo-terminal held by a
// child process.
#include "PortFinder.h"
#include "ChildGuard.h"
#include "SysFiles.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace vostrel {

namespace {

namespace fs = std::filesystem;
using TKind = TPresentPort::TKind;

TPresentPort Uart(const std::string& path)
{
    return {path, TKind::BuiltIn, "", ""};
}

TPresentPort Adapter(const std::string& path, const std::string& location, const std::string& description = "")
{
    return {path, TKind::Usb, location, description};
}

TPresentPort OtherPort(const std::string& path)
{
    return {path, TKind::Other, "", ""};
}

// An adapter with a serial number, described by it alone.
TPresentPort Serial(const std::string& path, const std::string& location, const std::string& serial)
{
    return {path, TKind::Usb, location, "s/n " + serial, serial};
}

// The same port as the system's sysfs and USB interface show it.
TPresentPort Seen(TPresentPort port, const std::string& interface, const std::string& sysPath = "")
{
    port.Interface = interface;
    port.SysPath = sysPath;
    return port;
}

// "" for nothing there, "/dev/COM1 => /dev/ttyUSB1" for a pinned name and
// where its link leads, "away /dev/ttyUSB0 (s/n A1)" for an unplugged adapter
// and its last description, else the path.
std::string Render(const TPortChoice& choice)
{
    if (choice.Away)
        return "away " + choice.AwayFrom + (choice.Description.empty() ? "" : " (" + choice.Description + ")");
    if (!choice.Pinned)
        return choice.Path;
    return choice.Path + " => " + choice.Target;
}

const std::vector<std::string> kNothing(6);

struct TResolveRow {
    const char* Name;
    std::vector<TPresentPort> Present;
    std::map<std::string, std::string> Links;  // /dev/COMn and where it leads
    std::vector<std::string> Expected;         // Render() of COM1..COM6
};

TEST(PortFinderTest, ResolvesNamesToPresentPorts)
{
    const std::vector<TResolveRow> rows = {
        {"built-in ports only, numbers compared as numbers",
         {Uart("/dev/ttyS10"), Uart("/dev/ttyS2"), Uart("/dev/ttyS0")},
         {},
         {"/dev/ttyS0", "/dev/ttyS2", "/dev/ttyS10", "", "", ""}},
        {"nothing at all", {}, {}, kNothing},
        {"adapters only, by socket",
         {Adapter("/dev/ttyUSB0", "1-10"), Adapter("/dev/ttyACM0", "1-1.3"), Adapter("/dev/ttyUSB1", "1-1.2"),
          Adapter("/dev/ttyUSB2", "1-2")},
         {},
         {"/dev/ttyUSB1", "/dev/ttyACM0", "/dev/ttyUSB2", "/dev/ttyUSB0", "", ""}},
        {"a port below a hub after the hub's earlier sockets",
         {Adapter("/dev/ttyUSB0", "1-1.4.1"), Adapter("/dev/ttyUSB1", "1-1.4"), Adapter("/dev/ttyUSB2", "1-1.10")},
         {},
         {"/dev/ttyUSB1", "/dev/ttyUSB0", "/dev/ttyUSB2", "", "", ""}},
        {"both kinds: built-in first, unknown socket after known ones, other ports last",
         {Adapter("/dev/ttyACM0", ""), OtherPort("/dev/rfcomm0"), Adapter("/dev/ttyUSB3", "2-1"), Uart("/dev/ttyS1"),
          Uart("/dev/ttyS0")},
         {},
         {"/dev/ttyS0", "/dev/ttyS1", "/dev/ttyUSB3", "/dev/ttyACM0", "/dev/rfcomm0", ""}},
        {"adapters replugged: the socket keeps the name, not the ttyUSB number",
         {Adapter("/dev/ttyUSB0", "1-1.3"), Adapter("/dev/ttyUSB1", "1-1.2")},
         {},
         {"/dev/ttyUSB1", "/dev/ttyUSB0", "", "", "", ""}},
        {"adapter moved to a later socket moves after the other one",
         {Adapter("/dev/ttyUSB0", "1-1.4"), Adapter("/dev/ttyUSB1", "1-1.3")},
         {},
         {"/dev/ttyUSB1", "/dev/ttyUSB0", "", "", "", ""}},
        {"/dev/COM1 pinned to a later adapter, which is not counted again",
         {Uart("/dev/ttyS0"), Adapter("/dev/ttyUSB0", "1-1.2"), Adapter("/dev/ttyUSB1", "1-1.3")},
         {{"/dev/COM1", "/dev/ttyUSB1"}},
         {"/dev/COM1 => /dev/ttyUSB1", "/dev/ttyS0", "/dev/ttyUSB0", "", "", ""}},
        {"/dev/COM2 pinned to the first port: COM1 takes the next one",
         {Uart("/dev/ttyS0"), Uart("/dev/ttyS1"), Adapter("/dev/ttyUSB0", "1-1")},
         {{"/dev/COM2", "/dev/ttyS0"}},
         {"/dev/ttyS1", "/dev/COM2 => /dev/ttyS0", "/dev/ttyUSB0", "", "", ""}},
        {"/dev/COM3 leading to no present port takes none from the others",
         {Uart("/dev/ttyS0"), Adapter("/dev/ttyUSB0", "1-1")},
         {{"/dev/COM3", "/dev/pts/4"}},
         {"/dev/ttyS0", "/dev/ttyUSB0", "/dev/COM3 => /dev/pts/4", "", "", ""}},
        {"/dev/COM6 with nothing present",
         {},
         {{"/dev/COM6", "/dev/ttyUSB5"}},
         {"", "", "", "", "", "/dev/COM6 => /dev/ttyUSB5"}},
        {"more than six ports: the first six in order",
         {Adapter("/dev/ttyUSB5", "1-6"), Adapter("/dev/ttyUSB4", "1-5"), Adapter("/dev/ttyUSB3", "1-4"),
          Adapter("/dev/ttyUSB2", "1-3"), Adapter("/dev/ttyUSB1", "1-2"), Adapter("/dev/ttyUSB0", "1-1"),
          Uart("/dev/ttyS1"), Uart("/dev/ttyS0")},
         {},
         {"/dev/ttyS0", "/dev/ttyS1", "/dev/ttyUSB0", "/dev/ttyUSB1", "/dev/ttyUSB2", "/dev/ttyUSB3"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Name);
        const auto exists = [&](const std::string& path) { return row.Links.count(path) != 0; };
        const auto realPath = [&](const std::string& path) {
            const auto link = row.Links.find(path);
            return link == row.Links.end() ? path : link->second;
        };
        const std::vector<TPortChoice> choices = ResolveComPorts(row.Present, exists, realPath);
        ASSERT_EQ(choices.size(), 6u);
        for (std::size_t i = 0; i < choices.size(); ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(choices[i].Name, "COM" + std::to_string(i + 1));
            EXPECT_EQ(Render(choices[i]), row.Expected[i]);
        }
    }
}

// One resolution within a session: the ports present, the links standing in
// /dev (a link to "" leads nowhere: dangling or looping) and the Render() of
// COM1..COM6 expected.
struct TStep {
    std::vector<TPresentPort> Present;
    std::map<std::string, std::string> Links;
    std::vector<std::string> Expected;
};

struct TSessionRow {
    const char* Name;
    std::vector<TStep> Steps;
};

TEST(PortFinderTest, NamesStayWithTheirAdaptersForTheSession)
{
    const TPresentPort a = Serial("/dev/ttyUSB0", "1-1", "A1");
    const TPresentPort b = Serial("/dev/ttyUSB1", "1-2", "B2");
    const std::vector<TSessionRow> rows = {
        {"pinned adapter unplugged: its name waits for it, the other keeps its own",
         {{{a, b}, {{"/dev/COM1", "/dev/ttyUSB0"}}, {"/dev/COM1 => /dev/ttyUSB0", "/dev/ttyUSB1", "", "", "", ""}},
          {{b}, {}, {"away /dev/ttyUSB0 (s/n A1)", "/dev/ttyUSB1", "", "", "", ""}},
          // Back before its link is: found by serial number under another path.
          {{b, Serial("/dev/ttyUSB2", "1-1", "A1")}, {}, {"/dev/ttyUSB2", "/dev/ttyUSB1", "", "", "", ""}},
          {{b, Serial("/dev/ttyUSB2", "1-1", "A1")},
           {{"/dev/COM1", "/dev/ttyUSB2"}},
           {"/dev/COM1 => /dev/ttyUSB2", "/dev/ttyUSB1", "", "", "", ""}}}},
        {"unpinned adapter unplugged: later names do not shift; back in its socket without serial",
         {{{Uart("/dev/ttyS0"), Adapter("/dev/ttyUSB0", "1-1", "CH340"), Adapter("/dev/ttyUSB1", "1-2")},
           {},
           {"/dev/ttyS0", "/dev/ttyUSB0", "/dev/ttyUSB1", "", "", ""}},
          {{Uart("/dev/ttyS0"), Adapter("/dev/ttyUSB1", "1-2")},
           {},
           {"/dev/ttyS0", "away /dev/ttyUSB0 (CH340)", "/dev/ttyUSB1", "", "", ""}},
          {{Uart("/dev/ttyS0"), Adapter("/dev/ttyUSB1", "1-2"), Adapter("/dev/ttyUSB2", "1-1", "CH340")},
           {},
           {"/dev/ttyS0", "/dev/ttyUSB2", "/dev/ttyUSB1", "", "", ""}}}},
        {"adapter without serial in another socket is another adapter, even under the old path",
         {{{Adapter("/dev/ttyUSB0", "1-1")}, {}, {"/dev/ttyUSB0", "", "", "", "", ""}},
          {{}, {}, {"away /dev/ttyUSB0", "", "", "", "", ""}},
          {{Adapter("/dev/ttyUSB0", "1-3")}, {}, {"away /dev/ttyUSB0", "/dev/ttyUSB0", "", "", "", ""}}}},
        {"adapter with serial back in another socket keeps its name; its old socket does not",
         {{{a, b}, {}, {"/dev/ttyUSB0", "/dev/ttyUSB1", "", "", "", ""}},
          {{b}, {}, {"away /dev/ttyUSB0 (s/n A1)", "/dev/ttyUSB1", "", "", "", ""}},
          {{b, Serial("/dev/ttyUSB2", "1-4", "A1"), Adapter("/dev/ttyUSB0", "1-1")},
           {},
           {"/dev/ttyUSB2", "/dev/ttyUSB1", "/dev/ttyUSB0", "", "", ""}}}},
        {"a new adapter while one is away takes the next free name, even in the away one's socket",
         {{{Adapter("/dev/ttyUSB0", "1-1"), Adapter("/dev/ttyUSB1", "1-2"), Adapter("/dev/ttyUSB2", "1-3")},
           {},
           {"/dev/ttyUSB0", "/dev/ttyUSB1", "/dev/ttyUSB2", "", "", ""}},
          {{Adapter("/dev/ttyUSB0", "1-1"), Adapter("/dev/ttyUSB2", "1-3")},
           {},
           {"/dev/ttyUSB0", "away /dev/ttyUSB1", "/dev/ttyUSB2", "", "", ""}},
          {{Adapter("/dev/ttyUSB0", "1-1"), Adapter("/dev/ttyUSB2", "1-3"), Serial("/dev/ttyUSB1", "1-2", "D4")},
           {},
           {"/dev/ttyUSB0", "away /dev/ttyUSB1", "/dev/ttyUSB2", "/dev/ttyUSB1", "", ""}}}},
        {"two adapters sharing a serial number keep their names by socket",
         {{{Serial("/dev/ttyUSB0", "1-1", "0001"), Serial("/dev/ttyUSB1", "1-2", "0001")},
           {},
           {"/dev/ttyUSB0", "/dev/ttyUSB1", "", "", "", ""}},
          // Enumerated the other way round.
          {{Serial("/dev/ttyUSB1", "1-1", "0001"), Serial("/dev/ttyUSB0", "1-2", "0001")},
           {},
           {"/dev/ttyUSB1", "/dev/ttyUSB0", "", "", "", ""}},
          // One unplugged: the other is not taken for it.
          {{Serial("/dev/ttyUSB0", "1-2", "0001")},
           {},
           {"away /dev/ttyUSB1 (s/n 0001)", "/dev/ttyUSB0", "", "", "", ""}},
          {{Serial("/dev/ttyUSB0", "1-2", "0001"), Serial("/dev/ttyUSB3", "1-1", "0001")},
           {},
           {"/dev/ttyUSB3", "/dev/ttyUSB0", "", "", "", ""}}}},
        {"two ports of one adapter (one serial, one socket) keep their order when renumbered",
         {{{Serial("/dev/ttyUSB0", "1-1", "D1"), Serial("/dev/ttyUSB1", "1-1", "D1")},
           {},
           {"/dev/ttyUSB0", "/dev/ttyUSB1", "", "", "", ""}},
          {{Serial("/dev/ttyUSB3", "1-1", "D1"), Serial("/dev/ttyUSB2", "1-1", "D1")},
           {},
           {"/dev/ttyUSB2", "/dev/ttyUSB3", "", "", "", ""}}}},
        {"a port known by its kernel name alone: that name on another device is not it",
         {{{Seen(OtherPort("/dev/ttyX0"), "", "/sys/devices/a/tty/ttyX0")}, {}, {"/dev/ttyX0", "", "", "", "", ""}},
          {{Seen(OtherPort("/dev/ttyX0"), "", "/sys/devices/b/tty/ttyX0")},
           {},
           {"away /dev/ttyX0", "/dev/ttyX0", "", "", "", ""}}}},
        {"each port of a dual adapter keeps its own interface when the other goes",
         {{{Seen(Serial("/dev/ttyUSB0", "1-1", "D1"), "1.0"), Seen(Serial("/dev/ttyUSB1", "1-1", "D1"), "1.1")},
           {},
           {"/dev/ttyUSB0", "/dev/ttyUSB1", "", "", "", ""}},
          {{Seen(Serial("/dev/ttyUSB0", "1-1", "D1"), "1.1")},
           {},
           {"away /dev/ttyUSB0 (s/n D1)", "/dev/ttyUSB0", "", "", "", ""}}}},
        {"a link that appears later pins the name; when it goes the name stays with its adapter",
         {{{a}, {}, {"/dev/ttyUSB0", "", "", "", "", ""}},
          {{a, b}, {{"/dev/COM2", "/dev/ttyUSB1"}}, {"/dev/ttyUSB0", "/dev/COM2 => /dev/ttyUSB1", "", "", "", ""}},
          {{b}, {}, {"away /dev/ttyUSB0 (s/n A1)", "/dev/ttyUSB1", "", "", "", ""}}}},
        {"a link wins over the name's earlier adapter, which takes the next free name",
         {{{a, b}, {}, {"/dev/ttyUSB0", "/dev/ttyUSB1", "", "", "", ""}},
          {{a, b},
           {{"/dev/COM1", "/dev/ttyUSB1"}},
           {"/dev/COM1 => /dev/ttyUSB1", "/dev/ttyUSB1", "/dev/ttyUSB0", "", "", ""}},
          // The link gone with its adapter: never the next port in order.
          {{a}, {}, {"away /dev/ttyUSB1 (s/n B2)", "away /dev/ttyUSB1 (s/n B2)", "/dev/ttyUSB0", "", "", ""}}}},
        {"links leading nowhere stay pinned, and their names wait once the links go",
         {{{a}, {{"/dev/COM1", ""}, {"/dev/COM2", ""}}, {"/dev/COM1 => ", "/dev/COM2 => ", "/dev/ttyUSB0", "", "", ""}},
          {{a, b}, {}, {"away /dev/COM1", "away /dev/COM2", "/dev/ttyUSB0", "/dev/ttyUSB1", "", ""}}}},
        {"a link left dangling by its adapter keeps the adapter for the name",
         {{{a}, {{"/dev/COM1", "/dev/ttyUSB0"}}, {"/dev/COM1 => /dev/ttyUSB0", "", "", "", "", ""}},
          {{}, {{"/dev/COM1", ""}}, {"/dev/COM1 => ", "", "", "", "", ""}},
          // Back under another path: still COM1's, though its link is stale.
          {{Serial("/dev/ttyUSB1", "1-1", "A1")}, {{"/dev/COM1", ""}}, {"/dev/COM1 => ", "", "", "", "", ""}},
          {{Serial("/dev/ttyUSB1", "1-1", "A1")}, {}, {"/dev/ttyUSB1", "", "", "", "", ""}}}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Name);
        TPortBindings session;
        for (std::size_t s = 0; s < row.Steps.size(); ++s) {
            SCOPED_TRACE("step " + std::to_string(s + 1));
            const TStep& step = row.Steps[s];
            const auto exists = [&](const std::string& path) { return step.Links.count(path) != 0; };
            const auto realPath = [&](const std::string& path) {
                const auto link = step.Links.find(path);
                return link == step.Links.end() ? path : link->second;
            };
            std::vector<std::string> got;
            for (const auto& choice : ResolveComPorts(step.Present, exists, realPath, 6, &session))
                got.push_back(Render(choice));
            EXPECT_EQ(got, step.Expected);
        }
    }
}

TEST(PortFinderTest, NamesCarryTheDescriptionOfThePortReached)
{
    const std::string ftdi = "FTDI FT232R USB UART, s/n A12345";
    const std::vector<TPresentPort> present = {Uart("/dev/ttyS0"), Adapter("/dev/ttyUSB0", "1-1.2", ftdi)};
    struct TRow {
        const char* Name;
        std::map<std::string, std::string> Links;
        std::vector<std::string> Expected;  // Description of COM1..COM3
    };
    const std::vector<TRow> rows = {
        {"unpinned", {}, {"", ftdi, ""}},
        {"adapter pinned as COM3", {{"/dev/COM3", "/dev/ttyUSB0"}}, {"", "", ftdi}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Name);
        const auto exists = [&](const std::string& path) { return row.Links.count(path) != 0; };
        const auto realPath = [&](const std::string& path) {
            const auto link = row.Links.find(path);
            return link == row.Links.end() ? path : link->second;
        };
        std::vector<std::string> got;
        for (const auto& choice : ResolveComPorts(present, exists, realPath, 3))
            got.push_back(choice.Description);
        EXPECT_EQ(got, row.Expected);
    }
}

TEST(PortFinderTest, UsbLocationComesFromTheInterfaceDirectory)
{
    struct TRow {
        const char* Name;
        std::string DevicePath;
        std::string Expected;
        std::string Interface;
    };
    const std::vector<TRow> rows = {
        {"usb-serial port below its interface", "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-1/1-1.2/1-1.2:1.0/ttyUSB0",
         "1-1.2", "1.0"},
        {"second interface of a dual adapter", "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-1/1-1.2/1-1.2:1.1/ttyUSB1",
         "1-1.2", "1.1"},
        {"ACM: the device is the interface", "/sys/devices/pci0000:00/0000:00:14.0/usb3/3-4/3-4:1.2", "3-4", "1.2"},
        {"behind two hubs", "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-1/1-1.4/1-1.4.3/1-1.4.3:1.0/ttyUSB1",
         "1-1.4.3", "1.0"},
        {"two-digit bus and port", "/sys/devices/pci0000:00/0000:00:14.0/usb10/10-12/10-12:1.0", "10-12", "1.0"},
        {"built-in UART", "/sys/devices/pnp0/00:00/00:00:0/00:00:0.0", "", ""},
        {"PCI serial card", "/sys/devices/pci0000:00/0000:00:1e.0/0000:05:00.0", "", ""},
        {"no device", "", "", ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Name);
        EXPECT_EQ(UsbLocation(row.DevicePath), row.Expected);
        EXPECT_EQ(UsbInterface(row.DevicePath), row.Interface);
    }
}

// A made-up /sys/class/tty, devices tree and /dev under a temporary folder.
class FakeSysfs {
public:
    FakeSysfs()
    {
        std::string pattern = ::testing::TempDir() + "portfinder.XXXXXX";
        const char* made = ::mkdtemp(pattern.data());
        m_root = made != nullptr ? made : "";
        if (!m_root.empty()) {
            fs::create_directories(m_root + "/class/tty");
            fs::create_directories(m_root + "/dev");
        }
    }
    ~FakeSysfs()
    {
        std::error_code ec;
        if (!m_root.empty())
            fs::remove_all(m_root, ec);
    }
    FakeSysfs(const FakeSysfs&) = delete;
    FakeSysfs& operator=(const FakeSysfs&) = delete;

    bool Ok() const { return !m_root.empty(); }
    std::string ClassTty() const { return m_root + "/class/tty"; }
    std::string Dev() const { return m_root + "/dev"; }

    // type: the UART type attribute, "" for a tty without one; device: its
    // device directory below devices/, "" for none.
    void AddTty(const std::string& name, const std::string& type, const std::string& device, bool node)
    {
        const std::string dir = ClassTty() + "/" + name;
        fs::create_directories(dir);
        if (!type.empty())
            std::ofstream(dir + "/type") << type << "\n";
        if (!device.empty()) {
            const std::string target = m_root + "/devices/" + device;
            fs::create_directories(target);
            fs::create_directory_symlink(target, dir + "/device");
        }
        if (node)
            std::ofstream(Dev() + "/" + name).put('\0');
    }

private:
    std::string m_root;
};

struct TSysTty {
    std::string Name;
    std::string Type;
    std::string Device;
    bool Node;
};

TListedPort Listed(const std::string& name, const std::string& manufacturer = "", const std::string& product = "",
                   const std::string& serial = "", std::optional<std::uint16_t> vid = std::nullopt,
                   std::optional<std::uint16_t> pid = std::nullopt)
{
    return {name, "/dev/" + name, product, manufacturer, serial, vid, pid};
}

const char* KindName(TKind kind)
{
    switch (kind) {
    case TKind::BuiltIn:
        return "built-in";
    case TKind::Usb:
        return "usb";
    case TKind::Other:
        return "other";
    }
    return "?";
}

const std::string kUsbDevices = "pci0000:00/0000:00:14.0/usb1/1-1";
const std::string kUartDescription = "встроенный последовательный порт";

TEST(PortFinderTest, PresentPortsFromTheListAndSysfs)
{
    struct TRow {
        const char* Name;
        std::vector<TSysTty> Sys;
        std::vector<TListedPort> Listed;
        std::vector<std::string> Expected;  // "path | kind | location | description"
    };
    const std::vector<TRow> rows = {
        {"real UART kept, phantom slots dropped",
         {{"ttyS0", "4", "pnp0/00:00", true}, {"ttyS1", "0", "platform/serial8250", true}},
         {Listed("ttyS1"), Listed("ttyS0")},
         {"/dev/ttyS0 | built-in |  | " + kUartDescription}},
        {"a UART the list left out is added; one without a node is not",
         {{"ttyS0", "4", "pnp0/00:00", true}, {"ttyS1", "4", "pnp0/00:01", false}, {"ttyS2", "0", "", true}},
         {},
         {"$dev/ttyS0 | built-in |  | " + kUartDescription}},
        {"adapters: socket from sysfs, text from the list",
         {{"ttyUSB0", "", kUsbDevices + "/1-1.3/1-1.3:1.0/ttyUSB0", true},
          {"ttyACM0", "", kUsbDevices + "/1-1.2/1-1.2:1.0", true}},
         {Listed("ttyUSB0", "FTDI", "FT232R USB UART", "A12345", 0x0403, 0x6001),
          Listed("ttyACM0", "Arduino LLC", "", "", 0x2341, 0x0043)},
         {"/dev/ttyACM0 | usb | 1-1.2 | Arduino LLC", "/dev/ttyUSB0 | usb | 1-1.3 | FTDI FT232R USB UART, s/n A12345"}},
        {"product naming its maker, and an adapter known only by its IDs",
         {{"ttyUSB0", "", kUsbDevices + "/1-1.1/1-1.1:1.0/ttyUSB0", true},
          {"ttyUSB1", "", kUsbDevices + "/1-1.5/1-1.5:1.0/ttyUSB1", true}},
         {Listed("ttyUSB1", "", "", "", 0x067b, 0x2303),
          Listed("ttyUSB0", "Prolific", "Prolific USB-Serial Controller", "", 0x067b, 0x2303)},
         {"/dev/ttyUSB0 | usb | 1-1.1 | Prolific USB-Serial Controller", "/dev/ttyUSB1 | usb | 1-1.5 | USB 067b:2303"}},
        {"pseudo-terminals are not serial ports",
         {},
         {{"pts/3", "/dev/pts/3", "", "", "", std::nullopt, std::nullopt}, Listed("ptmx")},
         {}},
        {"a port with vendor ID but no sysfs entry, and one of unknown kind",
         {{"ttyS0", "4", "pnp0/00:00", true}},
         {Listed("rfcomm0"), Listed("ttyGPS0", "u-blox AG", "u-blox 7 - GPS/GNSS Receiver", "", 0x1546, 0x01a7),
          Listed("ttyS0")},
         {"/dev/ttyS0 | built-in |  | " + kUartDescription,
          "/dev/ttyGPS0 | usb |  | u-blox AG u-blox 7 - GPS/GNSS Receiver", "/dev/rfcomm0 | other |  | "}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Name);
        FakeSysfs sys;
        ASSERT_TRUE(sys.Ok());
        for (const auto& tty : row.Sys)
            sys.AddTty(tty.Name, tty.Type, tty.Device, tty.Node);
        std::vector<std::string> got;
        for (const auto& port : PresentPorts(row.Listed, sys.ClassTty(), sys.Dev())) {
            std::string path = port.Path;
            if (path.rfind(sys.Dev(), 0) == 0)
                path = "$dev" + path.substr(sys.Dev().size());
            got.push_back(path + " | " + KindName(port.Kind) + " | " + port.Location + " | " + port.Description);
        }
        EXPECT_EQ(got, row.Expected);
    }
}

// Real dangling and looping links, found by lstat, pin their names too.
TEST(PortFinderTest, BrokenLinksOnARealFolderPinTheirNames)
{
    FakeSysfs sys;
    ASSERT_TRUE(sys.Ok());
    const std::string dir = sys.Dev();
    for (const char* node : {"ttyUSB0", "ttyUSB1"})
        std::ofstream(dir + "/" + node).put('\0');
    ASSERT_EQ(::symlink((dir + "/nowhere").c_str(), (dir + "/COM1").c_str()), 0);
    ASSERT_EQ(::symlink((dir + "/COM3").c_str(), (dir + "/COM2").c_str()), 0);
    ASSERT_EQ(::symlink((dir + "/COM2").c_str(), (dir + "/COM3").c_str()), 0);
    ASSERT_EQ(::symlink((dir + "/ttyUSB1").c_str(), (dir + "/COM4").c_str()), 0);

    struct TRow {
        const char* Name;
        std::string Path;
        bool Expected;
    };
    const std::vector<TRow> rows = {
        {"dangling link", dir + "/COM1", true},  {"looping link", dir + "/COM2", true},
        {"link to a node", dir + "/COM4", true}, {"node", dir + "/ttyUSB0", true},
        {"nothing there", dir + "/COM5", false}, {"below a dangling link", dir + "/COM1/x", false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Name);
        EXPECT_EQ(EntryExists(row.Path), row.Expected);
    }

    // The window's /dev is this folder.
    const auto here = [&](const std::string& path) {
        return path.rfind("/dev/", 0) == 0 ? dir + path.substr(4) : path;
    };
    const auto exists = [&](const std::string& path) { return EntryExists(here(path)); };
    const auto realPath = [&](const std::string& path) { return RealPath(here(path)); };
    const std::vector<TPresentPort> present = {Adapter(dir + "/ttyUSB0", "1-1"), Adapter(dir + "/ttyUSB1", "1-2")};
    std::vector<std::string> got;
    for (const auto& choice : ResolveComPorts(present, exists, realPath))
        got.push_back(Render(choice));
    const std::vector<std::string> expected = {
        "/dev/COM1 => ", "/dev/COM2 => ", "/dev/COM3 => ", "/dev/COM4 => " + dir + "/ttyUSB1", dir + "/ttyUSB0", ""};
    EXPECT_EQ(got, expected);
}

TEST(PortFinderTest, PresentPortsKeepTheSerialNumber)
{
    FakeSysfs sys;
    ASSERT_TRUE(sys.Ok());
    sys.AddTty("ttyS0", "4", "pnp0/00:00", true);
    sys.AddTty("ttyUSB0", "", kUsbDevices + "/1-1.3/1-1.3:1.0/ttyUSB0", true);
    sys.AddTty("ttyUSB1", "", kUsbDevices + "/1-1.4/1-1.4:1.0/ttyUSB1", true);
    const std::vector<TListedPort> listed = {Listed("ttyUSB1", "QinHeng", "CH340", "", 0x1a86, 0x7523),
                                             Listed("ttyUSB0", "FTDI", "FT232R USB UART", "A12345", 0x0403, 0x6001),
                                             Listed("ttyS0")};
    std::vector<std::string> got;
    for (const auto& port : PresentPorts(listed, sys.ClassTty(), sys.Dev()))
        got.push_back(port.Path + " " + port.SerialNumber);
    const std::vector<std::string> expected = {"/dev/ttyS0 ", "/dev/ttyUSB0 A12345", "/dev/ttyUSB1 "};
    EXPECT_EQ(got, expected);
}

TEST(PortFinderTest, PhantomPortsOnlyLeaveEveryNameEmpty)
{
    FakeSysfs sys;
    ASSERT_TRUE(sys.Ok());
    for (const char* name : {"ttyS0", "ttyS1", "ttyS2", "ttyS3"})
        sys.AddTty(name, "0", "platform/serial8250", true);
    const std::vector<TListedPort> listed = {Listed("ttyS0"), Listed("ttyS1"), Listed("ttyS2"), Listed("ttyS3")};
    const auto present = PresentPorts(listed, sys.ClassTty(), sys.Dev());
    EXPECT_TRUE(present.empty());
    const auto choices = ResolveComPorts(
        present, [](const std::string&) { return false; }, [](const std::string& p) { return p; });
    std::vector<std::string> paths;
    for (const auto& choice : choices)
        paths.push_back(choice.Path);
    EXPECT_EQ(paths, kNothing);
}

TEST(PortFinderTest, ToolTipSaysWhatTheNameReaches)
{
    struct TRow {
        const char* Name;
        TPortChoice Choice;
        std::string Expected;
    };
    const std::vector<TRow> rows = {
        {"nothing there",
         {"COM4", "", "", "", false},
         "Порт не найден: в компьютере нет такого последовательного порта"},
        {"adapter with its description",
         {"COM2", "/dev/ttyUSB0", "", "FTDI FT232R USB UART, s/n A12345", false},
         "/dev/ttyUSB0 — FTDI FT232R USB UART, s/n A12345"},
        {"port without description", {"COM1", "/dev/rfcomm0", "", "", false}, "/dev/rfcomm0"},
        {"pinned to a present adapter",
         {"COM1", "/dev/COM1", "/dev/ttyUSB1", "FTDI FT232R USB UART, s/n A12345", true},
         "/dev/COM1 → /dev/ttyUSB1 — FTDI FT232R USB UART, s/n A12345"},
        {"pinned where the link leads is unknown", {"COM3", "/dev/COM3", "", "", true}, "/dev/COM3"},
        {"adapter unplugged",
         {"COM2", "", "", "FTDI FT232R USB UART, s/n A12345", false, true, "/dev/ttyUSB0"},
         "Адаптер отключён: /dev/ttyUSB0 — FTDI FT232R USB UART, s/n A12345. COM2 откроет только его."},
        {"link gone",
         {"COM1", "", "", "", false, true, "/dev/COM1"},
         "Порт /dev/COM1 исчез: адаптер отключён. COM1 откроет только /dev/COM1."},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Name);
        EXPECT_EQ(PortToolTip(row.Choice).toStdString(), row.Expected);
    }
}

TEST(PortFinderTest, AwayTextNamesTheAdapterWaitedFor)
{
    struct TRow {
        const char* Name;
        TPortChoice Choice;
        std::string Expected;
    };
    const std::vector<TRow> rows = {
        {"adapter unplugged",
         {"COM2", "", "", "FTDI FT232R USB UART, s/n A12345", false, true, "/dev/ttyUSB0"},
         "COM2 закреплён за адаптером /dev/ttyUSB0 (FTDI FT232R USB UART, s/n A12345), а он отключён. "
         "Подключите его снова; другой адаптер под этим именем не откроется."},
        {"adapter without description",
         {"COM3", "", "", "", false, true, "/dev/ttyUSB1"},
         "COM3 закреплён за адаптером /dev/ttyUSB1, а он отключён. "
         "Подключите его снова; другой адаптер под этим именем не откроется."},
        {"link gone",
         {"COM1", "", "", "", false, true, "/dev/COM1"},
         "COM1 закреплён за /dev/COM1, а его больше нет. "
         "Подключите адаптер снова; другой адаптер под этим именем не откроется."},
        {"present port", {"COM2", "/dev/ttyUSB0", "", "FTDI", false}, ""},
        {"nothing there", {"COM4", "", "", "", false}, ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Name);
        EXPECT_EQ(AwayText(row.Choice).toStdString(), row.Expected);
    }
}

TEST(PortFinderTest, FoundPortsText)
{
    struct TRow {
        const char* Name;
        std::vector<TPresentPort> Present;
        std::string Expected;
    };
    const std::vector<TRow> rows = {
        {"none", {}, "Последовательные порты не найдены."},
        {"one without description", {Uart("/dev/ttyS0")}, "Найден порт: /dev/ttyS0."},
        {"two, one described",
         {Uart("/dev/ttyS0"), Adapter("/dev/ttyUSB0", "1-1", "FTDI FT232R USB UART")},
         "Найдены порты: /dev/ttyS0, /dev/ttyUSB0 (FTDI FT232R USB UART)."},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Name);
        EXPECT_EQ(PresentPortsText(row.Present).toStdString(), row.Expected);
    }
}

// A child that opens the terminal, says so through a pipe and waits to be killed.
pid_t StartHolder(const std::string& path, const char* name)
{
    int ready[2];
    if (::pipe(ready) != 0)
        return -1;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(ready[0]);
        ::prctl(PR_SET_NAME, name, 0, 0, 0);
        const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY);
        if (fd < 0)
            ::_exit(1);
        const char ok = 1;
        if (::write(ready[1], &ok, 1) != 1)
            ::_exit(1);
        for (;;)
            ::pause();
    }
    ::close(ready[1]);
    char ok = 0;
    const bool opened = pid > 0 && ::read(ready[0], &ok, 1) == 1;
    ::close(ready[0]);
    if (pid > 0 && !opened) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        return -1;
    }
    return pid;
}

TEST(PortFinderTest, HoldersOfARealTerminal)
{
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
        if (master >= 0)
            ::close(master);
        GTEST_SKIP() << "no pseudo-terminals on this machine";
    }
    const std::string slave = ::ptsname(master);

    std::string pattern = ::testing::TempDir() + "portfinder-link.XXXXXX";
    const char* dir = ::mkdtemp(pattern.data());
    ASSERT_NE(dir, nullptr);
    const std::string link = std::string(dir) + "/COM1";
    ASSERT_EQ(::symlink(slave.c_str(), link.c_str()), 0);

    TChildGuard holder(StartHolder(slave, "pty-holder"));
    const pid_t child = holder.Pid();
    ASSERT_GT(child, 0);
    // The caller holding it too must not name itself.
    const int own = ::open(slave.c_str(), O_RDWR | O_NOCTTY);
    EXPECT_GE(own, 0);

    const std::vector<std::string> childOnly = {"pty-holder (PID " + std::to_string(child) + ")"};
    struct TRow {
        const char* Name;
        std::string Path;
        std::vector<std::string> Expected;
    };
    const std::vector<TRow> held = {
        {"the terminal's own path", slave, childOnly},
        {"a link to it, as /dev/COMn would be", link, childOnly},
        {"a path nobody holds", std::string(dir) + "/missing", {}},
    };
    for (const auto& row : held) {
        SCOPED_TRACE(row.Name);
        EXPECT_EQ(PortHolders(row.Path), row.Expected);
    }

    holder.Stop();
    {
        SCOPED_TRACE("after the child is gone");
        EXPECT_EQ(PortHolders(slave), std::vector<std::string>{});
    }

    if (own >= 0)
        ::close(own);
    ::close(master);
    std::error_code ec;
    fs::remove_all(dir, ec);
}

}  // namespace

}  // namespace vostrel

// Which device each port name reaches: the ordering and pinning rule on made-up
// port lists, the sysfs reading on a made-up tree, and the holder lookup on a
// real pseudo-terminal held by a child process.
#include "PortFinder.h"

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

// "" for nothing there, "/dev/COM1 => /dev/ttyUSB1" for a pinned name and
// where its link leads, else the path.
std::string Render(const TPortChoice& choice)
{
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
    };
    const std::vector<TRow> rows = {
        {"usb-serial port below its interface", "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-1/1-1.2/1-1.2:1.0/ttyUSB0",
         "1-1.2"},
        {"second interface of a dual adapter", "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-1/1-1.2/1-1.2:1.1/ttyUSB1",
         "1-1.2"},
        {"ACM: the device is the interface", "/sys/devices/pci0000:00/0000:00:14.0/usb3/3-4/3-4:1.2", "3-4"},
        {"behind two hubs", "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-1/1-1.4/1-1.4.3/1-1.4.3:1.0/ttyUSB1",
         "1-1.4.3"},
        {"two-digit bus and port", "/sys/devices/pci0000:00/0000:00:14.0/usb10/10-12/10-12:1.0", "10-12"},
        {"built-in UART", "/sys/devices/pnp0/00:00/00:00:0/00:00:0.0", ""},
        {"PCI serial card", "/sys/devices/pci0000:00/0000:00:1e.0/0000:05:00.0", ""},
        {"no device", "", ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Name);
        EXPECT_EQ(UsbLocation(row.DevicePath), row.Expected);
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
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Name);
        EXPECT_EQ(PortToolTip(row.Choice).toStdString(), row.Expected);
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

    const pid_t child = StartHolder(slave, "pty-holder");
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

    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
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

// The port component against real pseudo-terminals: the test holds the master
// side and plays the station.
#include "ChildGuard.h"
#include "CommInt.h"
#include "SerialTestSupport.h"
#include "TermiosRate.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <future>
#include <grp.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace vostrel {

namespace {

class CommPortPty : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!station.Ok())
            GTEST_SKIP() << "no pseudo-terminals on this machine";
        port.SetDeviceName(station.SlavePath());
        port.SetMonitorEvents(0);
    }
    termios LineTermios()
    {
        // Termios requests on the master act on the slave side.
        termios t{};
        EXPECT_EQ(::tcgetattr(station.Master(), &t), 0);
        return t;
    }
    PtyStation station;
    TComm port;
};

constexpr int kNoOtherUser = 255;

// errno of a plain open() of path made by another process that is not root, 0
// when it opened; kNoOtherUser when such a process cannot be made here.
int PlainOpenErrorAsOtherUser(const std::string& path)
{
    const char* name = path.c_str();
    const pid_t child = ::fork();
    if (child < 0)
        return kNoOtherUser;
    if (child == 0) {
        constexpr uid_t kNobody = 65534;
        if (::geteuid() == 0 && (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0))
            ::_exit(kNoOtherUser);
        const int fd = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK);
        ::_exit(fd >= 0 ? 0 : errno);
    }
    int status = 0;
    if (TEMP_FAILURE_RETRY(::waitpid(child, &status, 0)) != child || !WIFEXITED(status))
        return kNoOtherUser;
    return WEXITSTATUS(status);
}

}  // namespace

TEST(CommPort, ClosedPortRefusesTransfers)
{
    TComm c;
    // No count, nothing to discard or apply; transfers fail on the missing descriptor.
    EXPECT_EQ(c.InputCount(), -1);
    c.PurgeInput();
    c.ClosePort();
    c.ApplyLineSettings();
    std::uint8_t b = 0;
    EXPECT_EQ(MessageOf([&] { c.ReadBytes(&b, 1); }), "Read error (Error: 9) ");
    EXPECT_EQ(MessageOf([&] { c.WriteBytes(&b, 1); }), "Write error (Error: 9) ");
}

TEST(CommPort, DeviceNamesResolve)
{
    struct Row {
        const char* name;
        const char* path;
        const char* link;
    };
    const Row rows[] = {
        {"COM1", "/dev/ttyS0", "/dev/COM1"},
        {"com2", "/dev/ttyS1", "/dev/COM2"},
        {"Com9", "/dev/ttyS8", "/dev/COM9"},
        {"\\\\.\\COM12", "/dev/ttyS11", "/dev/COM12"},
        {"/dev/pts/7", "/dev/pts/7", nullptr},
        {"COM0", "COM0", nullptr},
        {"COMX", "COMX", nullptr},
        {"COM", "COM", nullptr},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        if (r.link && ::access(r.link, F_OK) == 0)
            EXPECT_EQ(ResolveDevicePath(r.name), r.link);  // an administrator's link wins
        else
            EXPECT_EQ(ResolveDevicePath(r.name), r.path);
    }
}

TEST(CommPort, OpenFailuresLeaveThePortClosed)
{
    char dir[] = "/tmp/vostrel-serial-XXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    const std::string file = std::string(dir) + "/plain";
    ASSERT_EQ(::close(::open(file.c_str(), O_CREAT | O_WRONLY, 0600)), 0);

    // A terminal that opens but refuses the line the port asks for.
    PtyStation station;
    OwnerLoop owner;
    struct Row {
        const char* label;
        std::string device;
        std::string message;
        std::int32_t code;
        std::function<void(TComm&)> prepare;
    };
    const auto none = [](TComm&) {};
    std::vector<Row> rows = {
        {"missing device", std::string(dir) + "/absent", "Error accessing specified device (Error: 2) ", 2, none},
        {"directory", dir, "Error accessing specified device (Error: 21) ", EISDIR, none},
        {"regular file", file, "Invalid device handle, access denied (Error: -1) ", -1, none},
        {"character device, not a terminal", "/dev/null", "Invalid device handle, access denied (Error: -1) ", -1,
         none},
    };
    const std::vector<Row> ptyRows = {
        {"line settings refused", station.SlavePath(), "Error updating DataControlBlock (Error: 22) ", EINVAL,
         [](TComm& c) { c.SetDatabits(da4); }},
        {"queues refused, watcher running", station.SlavePath(), "Error initializing Read/Write Buffers (Error: 22) ",
         EINVAL,
         [&](TComm& c) {
             c.SetReadBufSize(0);
             c.SetMonitorEvents(kAllCommEvents);
             c.SetDispatcher(owner.Dispatcher());
         }},
    };
    if (station.Ok())
        rows.insert(rows.end(), ptyRows.begin(), ptyRows.end());
    if (::access("/dev/ttyS8", F_OK) != 0 && ::access("/dev/COM9", F_OK) != 0)
        rows.push_back({"COM9 absent", "COM9", "Error accessing specified device (Error: 2) ", 2, none});
    for (const Row& r : rows) {
        SCOPED_TRACE(r.label);
        TComm c;
        c.SetMonitorEvents(0);
        c.SetDeviceName(r.device);
        r.prepare(c);
        std::int32_t code = 0;
        EXPECT_EQ(MessageOf([&] { c.OpenPort(); }, &code), r.message);
        EXPECT_EQ(code, r.code);
        EXPECT_FALSE(c.IsOpen());
        EXPECT_EQ(c.InputCount(), -1);
    }
    // The refused terminal was let go: its exclusive lock went with it.
    TComm again;
    again.SetMonitorEvents(0);
    again.SetDeviceName(station.SlavePath());
    if (station.Ok()) {
        EXPECT_NO_THROW(again.OpenPort());
    }
    ::unlink(file.c_str());
    ::rmdir(dir);
}

TEST(CommPort, CloseWaitsForOutputWithinWriteTimeout)
{
    // ptys report no output queue, so the wait runs against one that drains
    // by a byte at each look while the line moves.
    struct Row {
        const char* label;
        std::int32_t limitMs;
        bool moving;
        bool drained;
    };
    const Row rows[] = {
        {"limit, line moving", 20000, true, true},    {"limit, line stopped", 100, false, false},
        {"zero limit: left at once", 0, true, false}, {"no limit, line moving", -1, true, true},
        {"no limit, line stopped", -1, false, false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.label);
        const auto start = std::chrono::steady_clock::now();
        int left = 50;
        const auto queued = [&] {
            if (std::chrono::steady_clock::now() - start > std::chrono::seconds(20))
                return 0;  // a wait that never gives up ends here, as drained
            if (r.moving && left > 0)
                --left;
            return left;
        };
        EXPECT_EQ(WaitForDrain(queued, r.limitMs, 200), r.drained);
        EXPECT_EQ(left == 0, r.drained);
    }
}

TEST_F(CommPortPty, DeviceIsHeldExclusively)
{
    port.OpenPort();
    ASSERT_TRUE(port.IsOpen());
    {
        TComm second;
        second.SetMonitorEvents(0);
        second.SetDeviceName(station.SlavePath());
        std::int32_t code = 0;
        const std::string msg = MessageOf([&] { second.OpenPort(); }, &code);
        EXPECT_EQ(msg.rfind("Error accessing specified device (Error: ", 0), 0u) << msg;
        // Plain users are stopped by TIOCEXCL, privileged ones by the lock.
        EXPECT_TRUE(code == EBUSY || code == EWOULDBLOCK) << code;
        EXPECT_FALSE(second.IsOpen());
        port.ClosePort();
        second.OpenPort();
        EXPECT_TRUE(second.IsOpen());
    }

    // Another process holding the advisory lock keeps us out too.
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const int fd = ::open(station.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        const char ok = (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0) ? '1' : '0';
        (void)!::write(ready[1], &ok, 1);
        ::pause();
        ::_exit(0);
    }
    TChildGuard holder(child);
    char ok = 0;
    ASSERT_EQ(::read(ready[0], &ok, 1), 1);
    EXPECT_EQ(ok, '1');
    std::int32_t code = 0;
    EXPECT_EQ(MessageOf([&] { port.OpenPort(); }, &code),
              "Error accessing specified device (Error: " + std::to_string(EWOULDBLOCK) + ") ");
    EXPECT_FALSE(port.IsOpen());
    holder.Stop();
    ::close(ready[0]);
    ::close(ready[1]);
    port.OpenPort();
    EXPECT_TRUE(port.IsOpen());
}

TEST_F(CommPortPty, APlainOpenByAnotherUserIsRefused)
{
    // TIOCEXCL: an open() that asks for no lock still fails, unless root makes it.
    const std::string path = station.SlavePath();
    if (::geteuid() == 0) {
        ASSERT_EQ(::chmod(path.c_str(), 0666), 0) << "the other user needs access to the line";
    }
    struct Row {
        const char* label;
        std::function<void()> step;
        int error;
    };
    const Row rows[] = {
        {"free line", [] {}, 0},
        {"held by the port", [&] { port.OpenPort(); }, EBUSY},
        {"released by ClosePort", [&] { port.ClosePort(); }, 0},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.label);
        r.step();
        const int error = PlainOpenErrorAsOtherUser(path);
        if (error == kNoOtherUser)
            GTEST_SKIP() << "no process other than root can be made here (root passes TIOCEXCL)";
        EXPECT_EQ(error, r.error) << std::strerror(error);
    }
}

TEST_F(CommPortPty, ReadsOnlyWhatHasArrivedAndPurgesInputOnly)
{
    port.OpenPort();
    std::uint8_t b = 0xEE;
    EXPECT_EQ(port.ReadBytes(&b, 1), 0);
    EXPECT_EQ(port.InputCount(), 0);

    station.Send({0x10, 0x00, 0x03});
    ASSERT_TRUE(WaitUntil([&] { return port.InputCount() == 3; }, 5000));
    EXPECT_EQ(port.ReadBytes(&b, 1), 1);
    EXPECT_EQ(b, 0x10);
    EXPECT_EQ(port.InputCount(), 2);
    port.PurgeInput();
    EXPECT_EQ(port.InputCount(), 0);
    EXPECT_EQ(port.ReadBytes(&b, 1), 0);

    // Output queued before a purge still reaches the station.
    const std::uint8_t out[] = {0x10, 0x08, 0x03};
    EXPECT_EQ(port.WriteBytes(out, 3), 3);
    port.PurgeInput();
    EXPECT_EQ(station.Receive(3), std::vector<std::uint8_t>({0x10, 0x08, 0x03}));
}

TEST_F(CommPortPty, LineIsARawEightBitPipe)
{
    port.SetBaudRate(br4800);
    port.SetFlowControl(fcNone);
    port.OpenPort();
    std::vector<std::uint8_t> all(256);
    for (int i = 0; i < 256; ++i)
        all[i] = static_cast<std::uint8_t>(i);

    for (std::uint8_t v : all)
        ASSERT_EQ(port.WriteBytes(&v, 1), 1);
    EXPECT_EQ(station.Receive(256), all);  // no CR/LF mapping, no output processing

    station.Send(all);  // XON/XOFF, ^C, ^D, DEL and CR pass untouched
    std::vector<std::uint8_t> got;
    WaitUntil(
        [&] {
            std::uint8_t buf[64];
            const std::int32_t n = port.ReadBytes(buf, sizeof buf);
            got.insert(got.end(), buf, buf + std::max(n, 0));
            return got.size() >= all.size();
        },
        5000);
    EXPECT_EQ(got, all);
}

TEST_F(CommPortPty, SettingsRulesWhileOpen)
{
    port.OpenPort();
    std::int32_t code = 0;
    EXPECT_EQ(MessageOf([&] { port.OpenPort(); }, &code), "Port already assigned (open) (Error: -1) ");
    EXPECT_EQ(code, -1);

    port.SetDeviceName(station.SlavePath());  // same name: nothing happens
    port.SetReadBufSize(4096);
    port.SetWriteBufSize(2048);
    port.SetMonitorEvents(0);
    const std::vector<std::pair<const char*, std::function<void()>>> refused = {
        {"DeviceName", [&] { port.SetDeviceName("COM1"); }},
        {"ReadBufSize", [&] { port.SetReadBufSize(1024); }},
        {"WriteBufSize", [&] { port.SetWriteBufSize(1024); }},
        {"MonitorEvents", [&] { port.SetMonitorEvents(EventBit(evRxChar)); }},
    };
    for (const auto& [label, change] : refused) {
        SCOPED_TRACE(label);
        code = 0;
        EXPECT_EQ(MessageOf(change, &code), "Port already assigned (open) (Error: -1) ");
        EXPECT_EQ(code, -1);
    }
    EXPECT_EQ(port.DeviceName(), station.SlavePath());
    EXPECT_EQ(port.ReadBufSize(), 4096);
    EXPECT_EQ(port.MonitorEvents(), 0);

    // Line settings change at once while open.
    port.SetBaudRate(br19200);
    const termios t = LineTermios();
    EXPECT_EQ(::cfgetospeed(&t), B19200);

    port.ClosePort();
    EXPECT_FALSE(port.IsOpen());
    port.SetDeviceName("COM1");
    EXPECT_EQ(port.DeviceName(), "COM1");
}

TEST_F(CommPortPty, FlagWordFollowsFlowControlAndOptions)
{
    // A tty left with XON/XOFF on: fcDefault does not take it over, so 0x11
    // and 0x13 from the station are data and do not stop our output.
    termios before = LineTermios();
    before.c_iflag |= IXON | IXOFF;
    ASSERT_EQ(::tcsetattr(station.Master(), TCSANOW, &before), 0);
    port.OpenPort();
    EXPECT_EQ(port.LineSettings().Flags & (dcbOutX | dcbInX), 0u);
    EXPECT_EQ(LineTermios().c_iflag & (IXON | IXOFF), 0u);
    station.Send({0x13, 0x41});
    std::vector<std::uint8_t> got;
    WaitUntil(
        [&] {
            std::uint8_t buf[8];
            const std::int32_t n = port.ReadBytes(buf, sizeof buf);
            got.insert(got.end(), buf, buf + std::max(n, 0));
            return got.size() >= 2;
        },
        5000);
    EXPECT_EQ(got, std::vector<std::uint8_t>({0x13, 0x41}));
    const std::uint8_t reply = 0x42;
    EXPECT_EQ(port.WriteBytes(&reply, 1), 1);
    EXPECT_EQ(station.Receive(1), std::vector<std::uint8_t>({0x42}));

    EXPECT_EQ(port.LineSettings().Flags & dcbBinary, dcbBinary);
    EXPECT_EQ(port.LineSettings().XonLim, 1024);
    EXPECT_EQ(port.LineSettings().XoffLim, 1024);

    struct Row {
        const char* label;
        TCommOptions options;
        std::uint32_t bits;
    };
    const Row rows[] = {
        {"none", 0, 0},
        {"parity check", OptionBit(coParityCheck), 0x0002},
        {"dsr sensitivity + null strip", OptionBit(coDsrSensitivity) | OptionBit(coNullStrip), 0x0840},
        {"all five", 0x1F, 0x0002 | 0x0040 | 0x0080 | 0x0400 | 0x0800},
    };
    port.SetFlowControl(fcNone);
    for (const Row& r : rows) {
        SCOPED_TRACE(r.label);
        port.SetOptions(r.options);
        EXPECT_EQ(port.LineSettings().Flags, 1u + r.bits);
        EXPECT_EQ((LineTermios().c_iflag & INPCK) != 0, (r.bits & dcbParity) != 0);
        EXPECT_EQ(LineTermios().c_iflag & (IXON | IXOFF), 0u);
        EXPECT_EQ(LineTermios().c_cflag & CRTSCTS, 0u);
    }

    port.SetOptions(0);
    port.SetFlowControl(fcSoftware);
    EXPECT_EQ(port.LineSettings().Flags & 0x0300u, 0x0300u);
    EXPECT_EQ(LineTermios().c_iflag & (IXON | IXOFF), tcflag_t(IXON | IXOFF));
    // fcDefault keeps the device's own word, which now carries XON/XOFF.
    port.SetFlowControl(fcDefault);
    port.SetOptions(OptionBit(coIgnoreXOff));
    EXPECT_EQ(port.LineSettings().Flags & 0x0380u, 0x0380u);
    EXPECT_EQ(LineTermios().c_iflag & (IXON | IXOFF), tcflag_t(IXON | IXOFF));

    port.SetFlowControl(fcCTS);
    EXPECT_EQ(port.LineSettings().Flags & 0x2004u, 0x2004u);
    EXPECT_NE(LineTermios().c_cflag & CRTSCTS, 0u);
    // Linux has no DTR/DSR handshake: refused, the line keeps what it had.
    EXPECT_THROW(port.SetFlowControl(fcDTR), ECommError);
    EXPECT_EQ(port.LineSettings().Flags & 0x2004u, 0x2004u);
    port.SetFlowControl(fcNone);
    EXPECT_EQ(port.LineSettings().Flags, 1u + 0x0080u);
    EXPECT_EQ(LineTermios().c_cflag & CRTSCTS, 0u);
}

TEST_F(CommPortPty, LineSettingsReachTheTerminal)
{
    // The window's settings: 4800 bit/s, 8 data bits, no parity, one stop bit.
    port.SetBaudRate(br4800);
    port.SetFlowControl(fcNone);
    port.OpenPort();
    termios t = LineTermios();
    EXPECT_EQ(::cfgetospeed(&t), B4800);
    EXPECT_EQ(::cfgetispeed(&t), B4800);
    EXPECT_EQ(t.c_cflag & CSIZE, tcflag_t(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(t.c_cflag & (CREAD | CLOCAL), tcflag_t(CREAD | CLOCAL));
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_iflag & (ICRNL | ISTRIP | IXON), 0u);
    EXPECT_EQ(t.c_cc[VMIN], 0);
    EXPECT_EQ(t.c_cc[VTIME], 0);
    EXPECT_EQ(ReadBaudRate(station.Master()), 4800u);

    // A pty keeps stop bits, speeds and flow control; it has no parity and
    // no character size (the translation of those is checked on its own).
    port.SetStopbits(sb20);
    EXPECT_NE(LineTermios().c_cflag & CSTOPB, 0u);
    port.SetStopbits(sb10);
    EXPECT_EQ(LineTermios().c_cflag & CSTOPB, 0u);
    port.SetOptions(OptionBit(coParityCheck));
    EXPECT_NE(LineTermios().c_iflag & INPCK, 0u);

    // Every rate; B0 marks those without a Bxxx constant. Each of these is
    // followed by a standard rate, which must set the input rate back too.
    struct RateRow {
        TBaudrate rate;
        std::uint32_t bps;
        speed_t constant;
    };
    const RateRow rates[] = {
        {br110, 110, B110},       {br300, 300, B300},          {br600, 600, B600},     {br1200, 1200, B1200},
        {br2400, 2400, B2400},    {br4800, 4800, B4800},       {br9600, 9600, B9600},  {br14400, 14400, B0},
        {br19200, 19200, B19200}, {br38400, 38400, B38400},    {br56000, 56000, B0},   {br57600, 57600, B57600},
        {br128000, 128000, B0},   {br115200, 115200, B115200}, {br256000, 256000, B0},
    };
    for (const RateRow& r : rates) {
        SCOPED_TRACE(r.bps);
        port.SetBaudRate(r.rate);
        EXPECT_EQ(port.LineSettings().BaudRate, r.bps);
        EXPECT_EQ(ReadBaudRate(station.Master()), r.bps);
        EXPECT_EQ(LineSpeeds(station.Master()), std::make_pair(r.bps, r.bps)) << "input, output";
        if (r.constant != B0) {
            const termios line = LineTermios();
            EXPECT_EQ(::cfgetospeed(&line), r.constant);
            EXPECT_EQ(::cfgetispeed(&line), r.constant);
        }
    }

    port.EventChars().SetXonChar(0x05);
    port.EventChars().SetXoffChar(0x06);
    EXPECT_EQ(LineTermios().c_cc[VSTART], 0x05);
    EXPECT_EQ(LineTermios().c_cc[VSTOP], 0x06);
    TCommEventChars defaults(nullptr);
    port.EventChars().Assign(defaults);
    EXPECT_EQ(LineTermios().c_cc[VSTART], 17);
    EXPECT_EQ(port.LineSettings().XoffChar, 19);

    EXPECT_EQ(MessageOf([&] { port.SetDatabits(da4); }),
              "Error updating DataControlBlock (Error: " + std::to_string(EINVAL) + ") ");
    EXPECT_EQ(port.Databits(), da4);  // stored all the same
    EXPECT_TRUE(port.IsOpen());
}

TEST_F(CommPortPty, WriteGivesUpAfterWriteTimeout)
{
    port.SetWriteTimeout(200);
    port.OpenPort();
    // The station never reads: the pty's buffers fill and a write must give up.
    std::vector<std::uint8_t> chunk(4096, 0x55);
    std::int32_t last = 0;
    for (int i = 0; i < 1024 && last != -1; ++i)
        last = port.WriteBytes(chunk.data(), static_cast<std::int32_t>(chunk.size()));
    ASSERT_EQ(last, -1);
    EXPECT_EQ(port.WriteBytes(chunk.data(), 1), -1);

    // Once the station reads, the line takes bytes again: nothing was left pending.
    station.Receive(1u << 20, 1000);
    EXPECT_EQ(port.WriteBytes(chunk.data(), 1), 1);
}

TEST_F(CommPortPty, HangUpEndsInErrorsNotInAHang)
{
    port.OpenPort();
    station.Send({0x10});
    ASSERT_TRUE(WaitUntil([&] { return port.InputCount() == 1; }, 5000));
    station.HangUp();

    // Every call must come back; generous limits keep this about hangs, not speed.
    auto readAll = std::async(std::launch::async, [&] {
        std::vector<std::string> outcomes;
        std::uint8_t b = 0;
        for (int i = 0; i < 3; ++i) {
            try {
                outcomes.push_back("read " + std::to_string(port.ReadBytes(&b, 1)));
            } catch (const ECommError& e) {
                outcomes.push_back(e.what());
            }
        }
        try {
            outcomes.push_back("write " + std::to_string(port.WriteBytes(&b, 1)));
        } catch (const ECommError& e) {
            outcomes.push_back(e.what());
        }
        try {
            outcomes.push_back("count " + std::to_string(port.InputCount()));
        } catch (const ECommError& e) {
            outcomes.push_back(e.what());
        }
        return outcomes;
    });
    ASSERT_EQ(readAll.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    const auto outcomes = readAll.get();
    ASSERT_EQ(outcomes.size(), 5u);
    // The byte that arrived before the hang-up may still be read; then the line fails.
    EXPECT_EQ(outcomes[2], "Read error (Error: " + std::to_string(EIO) + ") ");
    EXPECT_TRUE(outcomes[3] == "write -1" || outcomes[3].rfind("Write error (Error: ", 0) == 0) << outcomes[3];
    // A wait polling the count must notice the hang-up, not see a silent line.
    EXPECT_EQ(outcomes[4], "Read error (Error: " + std::to_string(EIO) + ") ");
    port.ClosePort();
    EXPECT_FALSE(port.IsOpen());
}

// What an owner's sleep on the descriptor sees: ready exactly while a byte
// waits or the line has failed; a closed port leaves it quiet, not invalid.
// The device itself tells a hang-up from input.
TEST_F(CommPortPty, TheInputWaitDescriptorIsReadyOnlyForInputOrAFailure)
{
    EXPECT_EQ(port.InputWaitDescriptor(), -1);
    port.OpenPort();
    const int fd = port.InputWaitDescriptor();
    ASSERT_GE(fd, 0);
    const auto ready = [fd](int ms) {
        pollfd p{fd, POLLIN, 0};
        return ::poll(&p, 1, ms) == 1 && p.revents != 0;
    };
    struct Row {
        const char* label;
        std::function<void()> act;
        bool ready;
        bool hungUp = false;
    };
    std::uint8_t b = 0;
    const Row rows[] = {
        {"silent line", [] {}, false},
        {"a byte", [&] { station.Send({0x10}); }, true},
        {"the byte read", [&] { ASSERT_EQ(port.ReadBytes(&b, 1), 1); }, false},
        {"a byte purged",
         [&] {
             station.Send({0x10});
             ASSERT_TRUE(ready(5000));
             port.PurgeInput();
         },
         false},
        {"closed with a byte waiting",
         [&] {
             station.Send({0x10});
             ASSERT_TRUE(ready(5000));
             port.ClosePort();
         },
         false},
        {"open again",
         [&] {
             port.OpenPort();
             ASSERT_EQ(port.InputWaitDescriptor(), fd);
         },
         false},
        {"hung up", [&] { station.HangUp(); }, true, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        row.act();
        // Generous for the ready rows; the quiet ones cost their 200 ms.
        EXPECT_EQ(ready(row.ready ? 5000 : 200), row.ready);
        EXPECT_EQ(port.LineHungUp(), row.hungUp);
    }
}

TEST_F(CommPortPty, AWriteWaitingForRoomEndsOnHangUpOrClose)
{
    std::vector<std::uint8_t> chunk(4096, 0x33);
    auto fill = [&] {
        port.SetWriteTimeout(100);
        std::int32_t last = 0;
        for (int i = 0; i < 1024 && last != -1; ++i)
            last = port.WriteBytes(chunk.data(), static_cast<std::int32_t>(chunk.size()));
        ASSERT_EQ(last, -1);
        port.SetWriteTimeout(-1);  // from now on a write waits without limit
    };
    struct Row {
        const char* label;
        std::function<void()> end;
    };
    const Row rows[] = {
        {"close from the owner's thread", [&] { port.ClosePort(); }},
        {"hang-up", [&] { station.HangUp(); }},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.label);
        port.OpenPort();
        fill();
        auto blocked = std::async(std::launch::async, [&] {
            try {
                return std::to_string(port.WriteBytes(chunk.data(), 1));
            } catch (const ECommError& e) {
                return std::string(e.what());
            }
        });
        EXPECT_EQ(blocked.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout)
            << "the line is full: the write has to wait";
        r.end();
        ASSERT_EQ(blocked.wait_for(std::chrono::seconds(20)), std::future_status::ready);
        const std::string outcome = blocked.get();
        EXPECT_TRUE(outcome == "-1" || outcome.rfind("Write error", 0) == 0) << outcome;
        port.ClosePort();
        EXPECT_FALSE(port.IsOpen());
    }
}

}  // namespace vostrel

// The record-to-termios translation on its own, including what a pty cannot show.
#include "LineTermios.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

namespace vostrel {

namespace {

// A line in the state a fresh terminal is in: cooked, echoing, translating.
termios CookedLine()
{
    termios t{};
    t.c_iflag = ICRNL | IXON | IXANY | IMAXBEL | BRKINT | ISTRIP | INLCR | IGNCR | PARMRK;
    t.c_oflag = OPOST | ONLCR;
    t.c_lflag = ICANON | ECHO | ECHOE | ECHOK | ISIG | IEXTEN;
    t.c_cflag = CS7 | PARENB | CSTOPB | CRTSCTS | HUPCL;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 5;
    ::cfsetspeed(&t, B9600);
    return t;
}

TDcb Record(std::uint8_t size, std::uint8_t parity, std::uint8_t stop, std::uint32_t flags = dcbBinary)
{
    TDcb d;
    d.BaudRate = 4800;
    d.ByteSize = size;
    d.Parity = parity;
    d.StopBits = stop;
    d.Flags = flags;
    d.XonChar = 17;
    d.XoffChar = 19;
    return d;
}

}  // namespace

TEST(LineTermios, FrameSettings)
{
    struct Row {
        const char* label;
        TDcb dcb;
        tcflag_t want;
    };
    const Row rows[] = {
        {"8N1", Record(8, paNone, sb10), CS8},
        {"7O1", Record(7, paOdd, sb10), CS7 | PARENB | PARODD},
        {"7E2", Record(7, paEven, sb20), CS7 | PARENB | CSTOPB},
        {"8M1 mark", Record(8, paMark, sb10), CS8 | PARENB | PARODD | CMSPAR},
        {"8S1 space", Record(8, paSpace, sb10), CS8 | PARENB | CMSPAR},
        {"5N1.5", Record(5, paNone, sb15), CS5 | CSTOPB},
        {"6N1", Record(6, paNone, sb10), CS6},
    };
    const tcflag_t frame = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS;
    for (const Row& r : rows) {
        SCOPED_TRACE(r.label);
        termios t = CookedLine();
        bool custom = true;
        ASSERT_EQ(TermiosFromDcb(r.dcb, t, custom), 0);
        EXPECT_FALSE(custom);
        EXPECT_EQ(t.c_cflag & frame, r.want);
        EXPECT_EQ(t.c_cflag & (CREAD | CLOCAL | HUPCL), tcflag_t(CREAD | CLOCAL | HUPCL));
        // Raw whatever the line was before.
        EXPECT_EQ(t.c_iflag, 0u);
        EXPECT_EQ(t.c_oflag & OPOST, 0u);
        EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ECHOE | ECHOK | ISIG | IEXTEN), 0u);
        EXPECT_EQ(t.c_cc[VMIN], 0);
        EXPECT_EQ(t.c_cc[VTIME], 0);
        EXPECT_EQ(::cfgetospeed(&t), B4800);

        TDcb back;
        DcbFromTermios(t, 0, back);
        EXPECT_EQ(back.ByteSize, r.dcb.ByteSize);
        EXPECT_EQ(back.Parity, r.dcb.Parity);
        EXPECT_EQ(back.StopBits == sb10, r.dcb.StopBits == sb10);
    }
}

TEST(LineTermios, RejectsWhatTermiosCannotExpress)
{
    struct Row {
        const char* label;
        TDcb dcb;
    };
    TDcb noRate = Record(8, paNone, sb10);
    noRate.BaudRate = 0;
    const Row rows[] = {
        {"4 data bits", Record(4, paNone, sb10)},
        {"9 data bits", Record(9, paNone, sb10)},
        {"parity code 5", Record(8, 5, sb10)},
        {"stop code 3", Record(8, paNone, 3)},
        {"rate 0", noRate},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.label);
        termios t = CookedLine();
        const termios before = t;
        bool custom = false;
        EXPECT_EQ(TermiosFromDcb(r.dcb, t, custom), EINVAL);
        EXPECT_EQ(std::memcmp(&t, &before, sizeof t), 0) << "left untouched";
    }
}

TEST(LineTermios, FlagWordMapsToTermiosWhereLinuxHasIt)
{
    struct Row {
        const char* label;
        std::uint32_t flags;
        tcflag_t iflag;
        tcflag_t cflag;
    };
    const Row rows[] = {
        {"binary only", 0x0001, 0, 0},
        {"parity check", 0x0003, INPCK, 0},
        {"CTS flow + RTS handshake", 0x2005, 0, CRTSCTS},
        {"CTS flow alone", 0x0005, 0, CRTSCTS},
        {"RTS handshake alone", 0x2001, 0, CRTSCTS},
        {"XON/XOFF both ways", 0x0301, IXON | IXOFF, 0},
        {"XON/XOFF output only", 0x0101, IXON, 0},
        {"no Linux form: DTR on, sensitivity, continue, error char, null, abort",
         0x0001 | 0x0010 | 0x0040 | 0x0080 | 0x0400 | 0x0800 | 0x4000, 0, 0},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.label);
        termios t = CookedLine();
        bool custom = false;
        ASSERT_EQ(TermiosFromDcb(Record(8, paNone, sb10, r.flags), t, custom), 0);
        EXPECT_EQ(t.c_iflag, r.iflag);
        EXPECT_EQ(t.c_cflag & CRTSCTS, r.cflag);

        // Reading back gives the same word when the device-only bits are remembered.
        TDcb back;
        DcbFromTermios(t, r.flags, back);
        const std::uint32_t expressible = r.flags & (dcbParity | dcbOutX | dcbInX);
        const std::uint32_t fromLine = back.Flags & ~kDeviceOnlyFlags & ~dcbOutxCtsFlow;
        EXPECT_EQ(fromLine, dcbBinary | expressible);
        EXPECT_EQ((back.Flags & dcbOutxCtsFlow) != 0, r.cflag != 0);
        if (r.cflag == 0)
            EXPECT_EQ(back.Flags & kDeviceOnlyFlags, r.flags & kDeviceOnlyFlags);
        else
            EXPECT_EQ(back.Flags & dcbRtsControlMask, dcbRtsControlHandshake);
    }
}

// The word a port writes (the Windows record as it is) and the line Linux
// makes of it, on a port whose last user left every bit it could set.
TEST(LineTermios, EachFlowChoiceSetsOnlyItsOwnBits)
{
    const std::uint32_t leftOver = 0x5FD7;  // CTS flow, DTR/RTS on, XON/XOFF, abort, the five options
    struct Row {
        const char* label;
        TFlowControl flow;
        std::uint32_t lastWritten;
        std::uint32_t flags;
        int error;
        tcflag_t iflag, cflag;
    };
    const Row rows[] = {
        {"none", fcNone, 0x0301, 0x0001, 0, 0, 0},
        {"RTS/CTS", fcCTS, 0x0301, 0x2005, 0, 0, CRTSCTS},
        {"DTR/DSR: none on Linux", fcDTR, 0x0301, 0x0029, EINVAL, 0, 0},
        {"XON/XOFF", fcSoftware, 0, 0x0301, 0, IXON | IXOFF, 0},
        {"driver's lines, no XON/XOFF of its own", fcDefault, 0x1011, 0x1015, 0, 0, CRTSCTS},
        {"driver's lines, XON/XOFF as this port set them", fcDefault, 0x0301, 0x1315, 0, IXON | IXOFF, CRTSCTS},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.label);
        const std::uint32_t flags = LineFlags(r.flow, 0, leftOver, r.lastWritten);
        EXPECT_EQ(flags, r.flags);
        termios t = CookedLine();
        bool custom = false;
        EXPECT_EQ(TermiosFromDcb(Record(8, paNone, sb10, flags), t, custom), r.error);
        if (r.error == 0) {
            EXPECT_EQ(t.c_iflag, r.iflag);
            EXPECT_EQ(t.c_cflag & CRTSCTS, r.cflag);
        }
    }
}

}  // namespace vostrel

// The component on Windows without a line: closed-port behaviour, the
// settings' rules and the open failures with their texts and codes.
#include "CommInt.h"
#include "WineSupport.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>

namespace vostrel {

TEST(CommPort, ClosedPortRefusesTransfers)
{
    TComm c;
    EXPECT_FALSE(c.IsOpen());
    EXPECT_EQ(c.InputCount(), -1);
    c.PurgeInput();
    c.ClosePort();
    c.ApplyLineSettings();
    std::uint8_t b = 0;
    // The platform refuses the invalid handle; its code comes with the text.
    std::int32_t code = 0;
    std::string message = MessageOf([&] { c.ReadBytes(&b, 1); }, &code);
    EXPECT_EQ(message, "Read error (Error: " + std::to_string(code) + ") ");
    EXPECT_GT(code, 0);
    code = 0;
    message = MessageOf([&] { c.WriteBytes(&b, 1); }, &code);
    EXPECT_EQ(message, "Write error (Error: " + std::to_string(code) + ") ");
    EXPECT_GT(code, 0);
}

TEST(CommPort, DefaultsAndClosedSettings)
{
    TComm c;
    EXPECT_EQ(c.DeviceName(), "Com2");
    EXPECT_EQ(c.ReadTimeout(), 1000);
    EXPECT_EQ(c.WriteTimeout(), 1000);
    EXPECT_EQ(c.ReadBufSize(), 4096);
    EXPECT_EQ(c.WriteBufSize(), 2048);
    EXPECT_EQ(c.MonitorEvents(), kAllCommEvents);
    EXPECT_EQ(c.BaudRate(), br9600);
    EXPECT_EQ(c.FlowControl(), fcDefault);
    EXPECT_EQ(c.EventChars().XonChar(), 17);
    EXPECT_EQ(c.EventChars().XoffChar(), 19);
    // While closed everything may change and nothing reaches a device.
    c.SetDeviceName("COM7");
    c.SetReadBufSize(100);
    c.SetWriteBufSize(100);
    c.SetMonitorEvents(0);
    c.SetBaudRate(br4800);
    c.SetFlowControl(fcNone);
    c.EventChars().SetEvtChar(0x7E);
    EXPECT_EQ(c.DeviceName(), "COM7");
    EXPECT_EQ(c.EventChars().EvtChar(), 0x7E);
    EXPECT_FALSE(c.IsOpen());
}

TEST(CommPort, OpenFailuresLeaveThePortClosed)
{
    // A COM name no machine has: the system's "file not found".
    {
        TComm c;
        c.SetMonitorEvents(0);
        c.SetDeviceName("COM199");
        std::int32_t code = 0;
        EXPECT_EQ(MessageOf([&] { c.OpenPort(); }, &code), "Error accessing specified device (Error: 2) ");
        EXPECT_EQ(code, 2);
        EXPECT_FALSE(c.IsOpen());
    }
    // A plain file opens but is no character device.
    char dir[MAX_PATH] = {};
    ASSERT_GT(::GetTempPathA(MAX_PATH, dir), 0u);
    const std::string file = std::string(dir) + "vostrel-not-a-port.txt";
    std::ofstream(file) << "x";
    {
        TComm c;
        c.SetMonitorEvents(0);
        c.SetDeviceName(file);
        std::int32_t code = 0;
        EXPECT_EQ(MessageOf([&] { c.OpenPort(); }, &code), "Invalid device handle, access denied (Error: -1) ");
        EXPECT_EQ(code, -1);
        EXPECT_FALSE(c.IsOpen());
        // The handle was released: the file can be removed at once.
        EXPECT_TRUE(::DeleteFileA(file.c_str())) << ::GetLastError();
    }
}

TEST(CommPort, ACharacterDeviceThatIsNoPortFailsAfterOpening)
{
    // NUL is a character device without the communications calls: the open
    // goes through, the time-outs fail, and the device is let go again.
    TComm c;
    c.SetMonitorEvents(0);
    c.SetDeviceName("NUL");
    std::int32_t code = 0;
    const std::string message = MessageOf([&] { c.OpenPort(); }, &code);
    if (message == "(no ECommError)")
        GTEST_SKIP() << "this system accepts the communications calls on NUL";
    EXPECT_EQ(message, "Error updating CommTimeouts (Error: " + std::to_string(code) + ") ");
    EXPECT_GT(code, 0);
    EXPECT_FALSE(c.IsOpen());
    EXPECT_EQ(c.InputCount(), -1);
}

}  // namespace vostrel

// The command-line exchange stopped at each of its pauses: before the first
// byte of packet 09 a stop means no packet 09 and a goodbye; after it, the
// packet goes out whole.
#include "StationDriver.h"

#include "FakeLink.h"
#include "Packets.h"
#include "StationSimulator.h"

#include <gtest/gtest.h>

#include <limits>

namespace vostrel {

namespace {

// Packet 00 with data 00: the station's greeting and the utility's goodbye.
const TByteArray kPacket00{0x10, 0x00, 0x00, 0x01, 0xB0, 0x10, 0x03};

// A host whose stop comes with its n-th sleep once armed.
class StoppingHost : public FakeHost {
public:
    using FakeHost::FakeHost;
    void Sleep(std::uint32_t ms) override
    {
        if (armed && ++sleeps >= stopAt)
            stopped = true;
        FakeHost::Sleep(ms);
    }
    bool armed = false;
    int sleeps = 0;
    int stopAt = std::numeric_limits<int>::max();
    bool stopped = false;
};

struct Outcome {
    bool programmed = false;
    TByteArray afterAnswer;  // the utility's bytes from programming on
};

Outcome StopWhileProgramming(int stopAt)
{
    FakeClock clock;
    FakePort port(clock);
    StoppingHost host(clock);
    host.stopAt = stopAt;
    port.Arrive(10, kPacket00);
    port.Arrive(400, StationAnswerLine(DefaultStationBlock()));
    TStationDriver driver(port, host, [&host] { return host.stopped; });

    TByteArray block;
    EXPECT_EQ(driver.WaitAndRead("COM1", block), TStationDriver::TRead::Read);
    const std::size_t before = port.written.size();
    host.armed = true;
    Outcome out;
    out.programmed = driver.Program(block);
    driver.Goodbye();
    out.afterAnswer.assign(port.written.begin() + static_cast<std::ptrdiff_t>(before), port.written.end());
    return out;
}

}  // namespace

TEST(StationDriver, AStopBeforePacket09SaysGoodbyeAndOneAfterItsFirstByteFinishesIt)
{
    const TByteArray packet09 = StopWhileProgramming(std::numeric_limits<int>::max()).afterAnswer;
    ASSERT_GT(packet09.size(), 34u);
    ASSERT_EQ(packet09[1], kPacketProgram);
    // Sleeps 1 and 2 are the two pauses before the packet; from 3 on the stop
    // comes between its bytes.
    for (int stopAt = 1; stopAt <= 12; ++stopAt) {
        SCOPED_TRACE("stop with sleep " + std::to_string(stopAt));
        const Outcome out = StopWhileProgramming(stopAt);
        const bool before = stopAt <= 2;
        EXPECT_EQ(out.programmed, !before);
        EXPECT_EQ(out.afterAnswer, before ? kPacket00 : packet09);
    }
}

}  // namespace vostrel

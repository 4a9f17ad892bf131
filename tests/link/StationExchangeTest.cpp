// The station exchange stopped at each of its pauses: before the first byte
// of packet 09 a stop means no packet 09 and a goodbye; after it, the packet
// goes out whole. A stop during the station's answer still takes the answer
// and leaves the station connected for its goodbye.
#include "StationExchange.h"

#include "FakeLink.h"
#include "Packets.h"
#include "StationSimulator.h"

#include <gtest/gtest.h>

#include <limits>

namespace vostrel {

namespace {

// Packet 00 with data 00: the station's greeting and the utility's goodbye.
const TByteArray kPacket00{0x10, 0x00, 0x00, 0x01, 0xB0, 0x10, 0x03};

// The command line's rule: a stop gives up the exchange except while the
// station's answer is awaited. The stop comes with the n-th sleep once armed.
class StoppingHost : public IExchangeHost {
public:
    explicit StoppingHost(FakeClock& clock) : base(clock) {}
    void AppendLog(const std::string& line) override { base.AppendLog(line); }
    void ProcessMessages() override { base.ProcessMessages(); }
    std::uint32_t GetTickCount() override { return base.GetTickCount(); }
    void Sleep(std::uint32_t ms) override
    {
        if (armed && ++sleeps >= stopAt)
            stopped = true;
        base.Sleep(ms);
    }
    bool StopWaiting() override { return stopped; }
    bool Abandoned() override { return stopped && !answering; }
    bool Connected() override { return connected; }
    void SetConnected(bool c) override { connected = c; }
    void Step(TExchangeStep step) override
    {
        if (step == TExchangeStep::Confirmed)
            answering = true;
        if (step == TExchangeStep::Answered)
            answering = false;
    }

    FakeHost base;
    bool armed = false;
    int sleeps = 0;
    int stopAt = std::numeric_limits<int>::max();
    bool stopped = false;
    bool connected = false;
    bool answering = false;
};

struct Outcome {
    TStationExchange::TRead read = TStationExchange::TRead::Interrupted;
    bool programmed = false;
    TByteArray afterConfirm;  // the utility's bytes after packet 08
};

// armRead: the stop counts sleeps from the start of the wait; otherwise from
// programming on.
Outcome StopAt(int stopAt, bool armRead)
{
    FakeClock clock;
    FakePort port(clock);
    StoppingHost host(clock);
    host.stopAt = stopAt;
    host.armed = armRead;
    port.Arrive(10, kPacket00);
    port.Arrive(400, StationAnswerLine(DefaultStationBlock()));
    TStationExchange exchange(port, host);

    Outcome out;
    TByteArray block;
    out.read = exchange.WaitAndRead("COM1", block);
    const std::size_t confirmEnd = std::min<std::size_t>(port.written.size(), 7);
    if (out.read == TStationExchange::TRead::Read) {
        host.SetConnected(true);
        host.armed = true;
        TByteArray sent;
        if (!host.stopped)
            out.programmed = exchange.Program([&] { return block; }, sent);
    }
    exchange.Goodbye();
    out.afterConfirm.assign(port.written.begin() + static_cast<std::ptrdiff_t>(confirmEnd), port.written.end());
    return out;
}

}  // namespace

TEST(StationExchange, AStopBeforePacket09SaysGoodbyeAndOneAfterItsFirstByteFinishesIt)
{
    const TByteArray packet09 = StopAt(std::numeric_limits<int>::max(), false).afterConfirm;
    ASSERT_GT(packet09.size(), 34u);
    ASSERT_EQ(packet09[1], kPacketProgram);
    // Sleeps 1 and 2 are the two pauses before the packet; from 3 on the stop
    // comes between its bytes.
    for (int stopAt = 1; stopAt <= 12; ++stopAt) {
        SCOPED_TRACE("stop with sleep " + std::to_string(stopAt));
        const Outcome out = StopAt(stopAt, false);
        const bool before = stopAt <= 2;
        EXPECT_EQ(out.programmed, !before);
        EXPECT_EQ(out.afterConfirm, before ? kPacket00 : packet09);
    }
}

// The encoding is fenced by a 30 ms pause on each side before packet 09's
// first byte goes out, on the line as in the window.
TEST(StationExchange, ThirtyMillisecondsStandOnEachSideOfTheEncodingBeforePacket09)
{
    FakeClock clock;
    FakePort port(clock);
    StoppingHost host(clock);
    host.SetConnected(true);
    TStationExchange exchange(port, host);
    const std::uint32_t start = clock.now;
    std::uint32_t encodedAt = 0;
    TByteArray sent;
    ASSERT_TRUE(exchange.Program(
        [&] {
            encodedAt = clock.now;
            return DefaultStationBlock();
        },
        sent));
    ASSERT_FALSE(port.writeTimes.empty());
    // Message passes add a tick or two; the pauses themselves never shrink.
    EXPECT_GE(encodedAt - start, 30u);
    EXPECT_LE(encodedAt - start, 35u);
    EXPECT_GE(port.writeTimes.front() - encodedAt, 30u);
    EXPECT_LE(port.writeTimes.front() - encodedAt, 35u);
    EXPECT_FALSE(host.Connected());
}

TEST(StationExchange, AStopWhileReadingConfirmsOnlyBeforePacket08AndSaysGoodbyeAfterIt)
{
    // Sleep 1 is the 20 ms wait pass, 2 the 50 ms before packet 08, 3 to 9
    // the 1 ms after each of its bytes; the answer is collected without
    // sleeping.
    const struct {
        const char* name;
        int stopAt;
        TStationExchange::TRead read;
        TByteArray afterConfirm;
    } rows[] = {
        {"in the wait", 1, TStationExchange::TRead::Interrupted, {}},
        {"before packet 08", 2, TStationExchange::TRead::Interrupted, {}},
        {"inside packet 08", 4, TStationExchange::TRead::Read, kPacket00},
        {"after packet 08", 9, TStationExchange::TRead::Read, kPacket00},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const Outcome out = StopAt(row.stopAt, true);
        EXPECT_EQ(out.read, row.read);
        EXPECT_FALSE(out.programmed);
        EXPECT_EQ(out.afterConfirm, row.afterConfirm);
    }
}

}  // namespace vostrel

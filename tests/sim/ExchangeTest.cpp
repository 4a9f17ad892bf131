// A whole exchange at the level of the line: the link's packet operations
// through the project's TComm on the simulator's pty.
#include "CommLink.h"
#include "Packets.h"
#include "ParamBlock.h"
#include "StationSimulator.h"

#include <gtest/gtest.h>

#include <future>

namespace vostrel {

using namespace std::chrono_literals;

namespace {

const TByteArray kGreeting{0x10, 0x00, 0x00, 0x01, 0xB0, 0x10, 0x03};
const TByteArray kConfirm{0x10, 0x08, 0x00, 0x06, 0x70, 0x10, 0x03};

bool SameSet(const TParameterSet& a, const TParameterSet& b)
{
    return a.StepCode == b.StepCode && a.RxFreq == b.RxFreq && a.TxFreq == b.TxFreq && a.Simplex == b.Simplex &&
           a.PowerCode == b.PowerCode && a.BaudCode == b.BaudCode && a.FlowCode == b.FlowCode &&
           a.XoffAfter == b.XoffAfter && a.RxPause == b.RxPause && a.AirSpeedCode == b.AirSpeedCode &&
           a.KodCode == b.KodCode && a.KodPaketSize == b.KodPaketSize;
}

struct Line {
    explicit Line(StationConfig config = {}) : sim(std::move(config))
    {
        vostrel::OpenStationLine(comm, sim.SlavePath());
    }
    StationSimulator sim;
    TComm comm;
    vostrel::TCommBytePort port{comm};
    vostrel::TClockHost host;
};

// The utility's wait: purge, then poll every 20 ms until a byte waits.
bool WaitForStation(Line& line, std::chrono::milliseconds limit)
{
    line.port.PurgeInput();
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        line.host.Sleep(20);
        if (line.port.InputCount() >= 1)
            return true;
    }
    return false;
}

}  // namespace

TEST(ExchangeTest, ReadsAndProgramsTheStationThroughTComm)
{
    // The station at the line's own pace, as the utility meets it.
    StationConfig config;
    config.GreetOnWait = true;
    config.GreetDelay = 50ms;
    config.ByteInterval = kLineByteTime;
    Line line(config);

    // The component's purge is what tells the station a wait has begun.
    ASSERT_TRUE(WaitForStation(line, 3s));
    const TByteArray greeting = CollectUntilEtx(line.port, line.host);
    EXPECT_EQ(greeting, kGreeting);
    EXPECT_TRUE(IsGreeting(greeting));

    line.host.Log.clear();
    SendPacket(line.port, line.host, BuildPacket(kPacketConfirm, {0x00}), true, false);
    line.port.PurgeInput();
    const TByteArray collected = CollectFor(line.port, line.host, 1000);
    // A good station's answer passes the check the window makes.
    TByteArray block;
    EXPECT_EQ(ExtractCheckedBlock(collected, block), TAnswerStatus::Ok);
    EXPECT_EQ(block, DefaultStationBlock());
    EXPECT_EQ(collected, StationAnswerLine(DefaultStationBlock()));
    EXPECT_EQ(line.host.Log.size(), kConfirm.size() + collected.size());
    ASSERT_TRUE(line.sim.WaitFor([&] { return line.sim.Packets().size() == 1; }, 2s));
    EXPECT_EQ(line.sim.Packets()[0].Line, kConfirm);
    EXPECT_TRUE(line.sim.Packets()[0].CrcOk);

    TParameterSet shown;
    ASSERT_TRUE(DecodeBlock(block, TParameterSet{}, shown));
    TParameterSet stored;
    ASSERT_TRUE(DecodeBlock(line.sim.LastAnsweredBlock(), TParameterSet{}, stored));
    EXPECT_TRUE(SameSet(shown, stored));

    // The operator changes a few fields and programs.
    shown.RxFreq[1] = 151000.0L;
    shown.PowerCode[1] = 2;
    shown.XoffAfter = 16.0L;  // 0x10 in byte 16: one more doubled byte
    TNullLog log;
    const TByteArray programmed = EncodeBlock(shown, log);
    line.host.Log.clear();
    SendPacket(line.port, line.host, BuildPacket(kPacketProgram, programmed), false, true);
    EXPECT_TRUE(line.host.Log.empty());
    ASSERT_TRUE(line.sim.WaitFor([&] { return line.sim.ProgrammedBlocks().size() == 1; }, 2s));
    const ReceivedPacket p = line.sim.ProgrammedBlocks()[0];
    EXPECT_EQ(p.Data, programmed);
    EXPECT_TRUE(p.CrcOk);
    const auto dles =
        std::count(programmed.begin(), programmed.end(), 0x10) + ((p.Crc >> 8) == 0x10) + ((p.Crc & 0xFF) == 0x10);
    EXPECT_EQ(p.Line.size(), 40u + static_cast<std::size_t>(dles));
    TParameterSet reread;
    ASSERT_TRUE(DecodeBlock(p.Data, TParameterSet{}, reread));
    EXPECT_EQ(reread.RxFreq[1], 151000.0L);
    EXPECT_EQ(reread.XoffAfter, 16.0L);

    // Closing packet.
    SendPacket(line.port, line.host, BuildPacket(kPacketClosing, {0x00}), true, false);
    EXPECT_TRUE(line.sim.WaitFor([&] { return line.sim.GoodbyeCount() == 1; }, 2s));
}

TEST(ExchangeTest, HangUpDuringCollectionEndsIt)
{
    StationConfig config;
    config.AnswerDelay = 200ms;
    Line line(config);
    line.sim.SetFault(StationFault::HangUp);

    line.sim.SendGreeting();
    ASSERT_TRUE(line.sim.WaitFor([&] { return line.sim.GreetingCount() == 1; }, 2s));
    EXPECT_TRUE(IsGreeting(CollectUntilEtx(line.port, line.host)));
    SendPacket(line.port, line.host, BuildPacket(kPacketConfirm, {0x00}), true, false);
    line.port.PurgeInput();

    auto collecting = std::async(std::launch::async, [&] {
        try {
            const TByteArray got = CollectFor(line.port, line.host, 1000);
            return got.empty() ? std::string("ended") : std::string("bytes");
        } catch (const ECommError&) {
            return std::string("ECommError");
        }
    });
    // Generous: the window is 1 s; a hang would never finish.
    ASSERT_EQ(collecting.wait_for(20s), std::future_status::ready);
    const std::string outcome = collecting.get();
    EXPECT_TRUE(outcome == "ended" || outcome == "ECommError") << outcome;
    RecordProperty("outcome", outcome);
    EXPECT_TRUE(line.sim.IsDead());
}

}  // namespace vostrel

// The simulator on real ptys, with this test playing the utility on the slave.
#include "StationSimulator.h"
#include "ChildGuard.h"
#include "Packets.h"
#include "SlaveEnd.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <string>

#include <sys/stat.h>
#include <sys/wait.h>

namespace vostrel {

using namespace std::chrono_literals;

namespace {

TByteArray Hex(const std::string& text)
{
    TByteArray out;
    for (std::size_t i = 0; i + 1 < text.size();) {
        if (text[i] == ' ') {
            ++i;
            continue;
        }
        out.push_back(static_cast<std::uint8_t>(std::stoi(text.substr(i, 2), nullptr, 16)));
        i += 2;
    }
    return out;
}

TByteArray Cat(TByteArray a, const TByteArray& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Plain bit-by-bit CRC-16/MODBUS; the line carries it low byte first.
std::uint16_t Modbus(const TByteArray& bytes)
{
    std::uint16_t crc = 0xFFFF;
    for (std::uint8_t b : bytes) {
        crc ^= b;
        for (int k = 0; k < 8; ++k)
            crc = static_cast<std::uint16_t>((crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1);
    }
    return crc;
}

// Doubled 0x10 from index `from` on made single again (a packet's line: from 2).
TByteArray Undouble(const TByteArray& line, std::size_t from = 2)
{
    TByteArray out;
    for (std::size_t i = 0; i < line.size(); ++i) {
        out.push_back(line[i]);
        if (i >= from && line[i] == 0x10 && i + 1 < line.size() && line[i + 1] == 0x10)
            ++i;
    }
    return out;
}

const TByteArray kGreeting = Hex("10 00 00 01 B0 10 03");
const TByteArray kConfirm = Hex("10 08 00 06 70 10 03");
const TByteArray kClosing = Hex("10 00 00 01 B0 10 03");

// ZPCH1 rx 145575.0 (N 15246), ZPCH2 rx 150000.0 (15600), ZPCH1 tx 145575.0
// (11646), ZPCH2 tx 160000.0 (12800); mode 0x10 (2400, RMK7, none, 9600);
// size 24; pause 10 ms = 3356 units; Xoff 100; power DF; calibration bytes of
// the worked example with byte 24 from set B.
const TByteArray kDefaultBlock = Hex("00 EE 39 00 F3 C1 00 B5 F9 00 C8 01 10 18 0D 1C 64 DF"
                                     " F1 F1 E9 EE E0 EA 42 1B 06 06 1E 2E 1E 18 44 37");

StationConfig Quick()
{
    StationConfig c;
    c.AnswerDelay = 20ms;
    c.GreetDelay = 20ms;
    return c;
}

// Packet 08 and up to `expect` bytes of the answer, as the utility sees them;
// then `quiet` of listening for anything more, which is appended.
TByteArray Confirm(SlaveEnd& slave, std::size_t expect, std::chrono::milliseconds quiet = 100ms)
{
    slave.Write(kConfirm);
    slave.Purge();  // the utility discards its input after packet 08
    TByteArray got = expect > 0 ? slave.Read(expect, 3s) : TByteArray{};
    return Cat(got, slave.ReadFor(quiet));
}

// vostrel-station run through the shell; its first line of output is the
// slave path.
struct StationProgram {
    TChildGuard child;
    std::FILE* out = nullptr;
    std::string path;

    bool Start(const std::string& options)
    {
        const std::string command = std::string(VOSTREL_STATION_PATH) + " " + options;
        int fds[2];
        if (::pipe(fds) != 0)
            return false;
        const pid_t pid = ::fork();
        if (pid < 0)
            return false;
        if (pid == 0) {
            ::dup2(fds[1], 1);
            ::execl("/bin/sh", "sh", "-c", ("exec " + command).c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        child.Reset(pid);
        ::close(fds[1]);
        out = ::fdopen(fds[0], "r");
        char line[256] = {};
        if (std::fgets(line, sizeof line, out) == nullptr)
            return false;
        path = line;
        path.erase(path.find_last_not_of('\n') + 1);
        return true;
    }

    // SIGTERM (SIGKILL if it does not end), then everything it printed after
    // the path, and its exit status.
    std::string Stop(int& status)
    {
        status = child.Stop();
        std::string rest;
        char line[256];
        while (out != nullptr && std::fgets(line, sizeof line, out) != nullptr)
            rest += line;
        if (out != nullptr)
            std::fclose(out);
        out = nullptr;
        return rest;
    }

    ~StationProgram()
    {
        int status = 0;
        Stop(status);
    }
};

}  // namespace

TEST(StationSimulatorTest, GreetsAndAnswersConfirmationWithItsBlock)
{
    StationSimulator sim(Quick());
    SlaveEnd slave(sim.SlavePath());
    ASSERT_TRUE(slave.IsOpen());

    EXPECT_EQ(DefaultStationBlock(), kDefaultBlock);

    sim.SendGreeting();
    EXPECT_EQ(slave.Read(7, 2s), kGreeting);
    EXPECT_EQ(slave.ReadFor(100ms), TByteArray{}) << "nothing follows the greeting";

    const TByteArray answer = Confirm(slave, 41);
    ASSERT_GE(answer.size(), 40u);
    // The mode byte 0x10 is doubled on the line: 41 bytes, unless the CRC also holds 0x10.
    EXPECT_EQ(TByteArray(answer.begin(), answer.begin() + 16), Hex("10 01 00 EE 39 00 F3 C1 00 B5 F9 00 C8 01 10 10"));
    const TByteArray packet = Undouble(answer);
    ASSERT_EQ(packet.size(), 40u);
    EXPECT_EQ(TByteArray(packet.begin() + 2, packet.begin() + 36), kDefaultBlock);
    const std::uint16_t crc = Modbus(TByteArray(packet.begin() + 1, packet.begin() + 36));
    EXPECT_EQ(packet[36], crc & 0xFF);
    EXPECT_EQ(packet[37], crc >> 8);
    EXPECT_EQ(TByteArray(packet.end() - 2, packet.end()), Hex("10 03"));
    EXPECT_EQ(answer, StationAnswerLine(kDefaultBlock));

    ASSERT_TRUE(sim.WaitFor([&] { return sim.Packets().size() == 1; }, 2s));
    const ReceivedPacket p = sim.Packets()[0];
    EXPECT_EQ(p.Number, 0x08);
    EXPECT_TRUE(p.CrcOk);
    EXPECT_EQ(p.Line, kConfirm);
    EXPECT_EQ(sim.ReceivedBytes(), kConfirm);
    EXPECT_EQ(sim.AnswerCount(), 1);
    EXPECT_EQ(sim.LastAnsweredBlock(), kDefaultBlock);

    // The answer never comes before its configured delay after the ETX of 08.
    const auto trace = sim.Trace();
    SimClock::time_point etx{}, first{};
    for (const auto& b : trace) {
        if (!b.FromStation)
            etx = b.Time;
        else if (etx != SimClock::time_point{} && first == SimClock::time_point{})
            first = b.Time;
    }
    EXPECT_GE(first - etx, 20ms);
    for (std::size_t i = 1; i < trace.size(); ++i)
        EXPECT_LE(trace[i - 1].Time, trace[i].Time);
}

TEST(StationSimulatorTest, AnswersWithTheBlockItWasGivenDoublingEveryDle)
{
    struct Row {
        const char* name;
        TByteArray block;
        std::size_t dles;  // data bytes 0x10
    };
    TByteArray twoDles(34, 0x00);
    twoDles[12] = twoDles[13] = 0x10;
    const Row rows[] = {
        {"zeros", TByteArray(34, 0x00), 0},
        {"bytes 12 and 13 are DLE", twoDles, 2},
        {"all DLE", TByteArray(34, 0x10), 34},
    };
    StationSimulator sim(Quick());
    SlaveEnd slave(sim.SlavePath());
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        sim.SetBlock(row.block);
        const TByteArray answer = Confirm(slave, StationAnswerLine(row.block).size());
        const TByteArray packet = Undouble(answer);
        ASSERT_EQ(packet.size(), 40u);
        const std::size_t crcDles = (packet[36] == 0x10) + (packet[37] == 0x10);
        EXPECT_EQ(answer.size(), 40 + row.dles + crcDles);
        EXPECT_EQ(TByteArray(packet.begin() + 2, packet.begin() + 36), row.block);
        const std::uint16_t crc = Modbus(TByteArray(packet.begin() + 1, packet.begin() + 36));
        EXPECT_EQ(packet[36], crc & 0xFF);
        EXPECT_EQ(packet[37], crc >> 8);
        if (row.dles == 2) {
            // Four DLE in a row at line positions 14 to 17.
            EXPECT_EQ(TByteArray(answer.begin() + 13, answer.begin() + 19), Hex("00 10 10 10 10 00"));
        }
    }
}

TEST(StationSimulatorTest, RecordsProgrammingPacketsUndoingTheDoubling)
{
    // Lines as the utility writes packet 09, from the packet tables.
    TByteArray twoDles(34, 0x00);
    twoDles[12] = twoDles[13] = 0x10;
    TByteArray endsIn3C(33, 0x00);
    endsIn3C.push_back(0x3C);
    struct Row {
        const char* name;
        TByteArray line;
        TByteArray block;
        bool crcOk;
    };
    const Row rows[] = {
        {"zeros, CRC 7A01", Cat(Cat(Hex("10 09"), TByteArray(34, 0)), Hex("7A 01 10 03")), TByteArray(34, 0), true},
        {"DLE data doubled, CRC 799D",
         Cat(Cat(Cat(Cat(Hex("10 09"), TByteArray(12, 0)), Hex("10 10 10 10")), TByteArray(20, 0)), Hex("79 9D 10 03")),
         twoDles, true},
        {"CRC low byte DLE doubled, CRC 7A10", Cat(Cat(Hex("10 09"), TByteArray(33, 0)), Hex("3C 7A 10 10 10 03")),
         endsIn3C, true},
        {"wrong CRC", Cat(Cat(Hex("10 09"), TByteArray(34, 0)), Hex("7A 02 10 03")), TByteArray(34, 0), false},
    };
    StationSimulator sim(Quick());
    SlaveEnd slave(sim.SlavePath());
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        const Row& row = rows[i];
        SCOPED_TRACE(row.name);
        ASSERT_TRUE(slave.Write(row.line));
        ASSERT_TRUE(sim.WaitFor([&] { return sim.ProgrammedBlocks().size() == i + 1; }, 2s));
        const ReceivedPacket p = sim.ProgrammedBlocks().back();
        EXPECT_EQ(p.Data, row.block);
        EXPECT_EQ(p.CrcOk, row.crcOk);
        EXPECT_EQ(p.Line, row.line);
    }
    EXPECT_EQ(slave.ReadFor(100ms), TByteArray{}) << "packet 09 is not answered";
    EXPECT_EQ(sim.GoodbyeCount(), 0);
}

TEST(StationSimulatorTest, CountsGoodbyesWithARightCrcOnly)
{
    StationSimulator sim(Quick());
    SlaveEnd slave(sim.SlavePath());
    // A stray byte and a broken packet ahead do not hide the packets after them.
    slave.Write(Hex("55 10 00 00 01 B1 10 03"));
    slave.Write(kClosing);
    ASSERT_TRUE(sim.WaitFor([&] { return sim.Packets().size() == 2; }, 2s));
    EXPECT_EQ(sim.GoodbyeCount(), 1);
    EXPECT_FALSE(sim.Packets()[0].CrcOk);
    EXPECT_EQ(sim.Packets()[1].Line, kClosing);
    EXPECT_EQ(sim.ReceivedBytes(), Cat(Hex("55 10 00 00 01 B1 10 03"), kClosing));
}

TEST(StationSimulatorTest, GreetingFaultsLastOneExchangeUnlessSticky)
{
    const std::uint16_t crc01 = Modbus(Hex("01 00"));
    TByteArray wrongNumber = Hex("10 01 00");
    wrongNumber.push_back(static_cast<std::uint8_t>(crc01 & 0xFF));
    wrongNumber.push_back(static_cast<std::uint8_t>(crc01 >> 8));
    wrongNumber = Cat(wrongNumber, Hex("10 03"));
    struct Row {
        const char* name;
        StationFault fault;
        int param;
        TByteArray expected;
    };
    const Row rows[] = {
        {"stray byte", StationFault::StrayByte, 0x55, Cat(Hex("55"), kGreeting)},
        {"no ETX", StationFault::NoEtx, -1, Hex("10 00 00 01 B0 10")},
        {"wrong number", StationFault::WrongNumber, -1, wrongNumber},
    };
    StationSimulator sim(Quick());
    SlaveEnd slave(sim.SlavePath());
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        sim.SetFault(row.fault, row.param);
        sim.SendGreeting();
        EXPECT_EQ(slave.Read(row.expected.size(), 3s), row.expected);
        sim.SendGreeting();
        EXPECT_EQ(slave.Read(7, 3s), kGreeting) << "the fault is spent";
    }

    sim.SetFault(StationFault::Noise, 20, true);
    sim.SendGreeting();
    const TByteArray noise = slave.Read(20, 3s);
    EXPECT_EQ(noise.size(), 20u);
    sim.SendGreeting();
    const TByteArray moreNoise = slave.Read(20, 3s);
    EXPECT_EQ(moreNoise.size(), 20u) << "sticky";
    EXPECT_EQ(slave.ReadFor(100ms), TByteArray{});
    EXPECT_NE(noise, moreNoise);
    EXPECT_EQ(sim.GreetingCount(), 8);
}

TEST(StationSimulatorTest, AnswerFaults)
{
    const TByteArray full = StationAnswerLine(kDefaultBlock);
    StationSimulator sim(Quick());
    SlaveEnd slave(sim.SlavePath());

    sim.SetFault(StationFault::CutShort, 12);
    EXPECT_EQ(Confirm(slave, 12), TByteArray(full.begin(), full.begin() + 12));

    sim.SetFault(StationFault::Silence);
    EXPECT_EQ(Confirm(slave, 0, 300ms), TByteArray{});
    EXPECT_EQ(Confirm(slave, full.size()), full) << "the next exchange is answered";

    sim.SetFault(StationFault::CrcDle);
    const TByteArray answer = Confirm(slave, full.size() + 1);
    const TByteArray sent = sim.LastAnsweredBlock();
    EXPECT_EQ(answer, StationAnswerLine(sent));
    EXPECT_EQ(TByteArray(sent.begin(), sent.begin() + 18),
              TByteArray(kDefaultBlock.begin(), kDefaultBlock.begin() + 18));
    const TByteArray packet = Undouble(answer);
    ASSERT_EQ(packet.size(), 40u);
    EXPECT_TRUE(packet[36] == 0x10 || packet[37] == 0x10);
    // Undoing the doubling of the block alone keeps a CRC byte: 35 bytes.
    EXPECT_EQ(Undouble(TByteArray(answer.begin() + 2, answer.end() - 4), 0).size(), 35u);
    TByteArray block;
    EXPECT_EQ(ExtractCheckedBlock(answer, block), TAnswerStatus::Ok);
    EXPECT_EQ(block, sent);

    // One bit flipped on the line under the true block's CRC: by default in
    // block byte 1, a frequency byte; byte 12 is 0x10, so 0x14 goes out once.
    StationFault corrupt = StationFault::None;
    ASSERT_TRUE(ParseStationFault("corrupt", corrupt));
    struct Row {
        int param;
        std::size_t lineIndex;
        std::size_t blockIndex;
    };
    for (const Row row : {Row{-1, 3, 1}, Row{12, 14, 12}}) {
        SCOPED_TRACE(row.blockIndex);
        sim.SetFault(corrupt, row.param);
        const TByteArray damaged = Confirm(slave, row.blockIndex == 12 ? full.size() - 1 : full.size());
        TByteArray expected = full;
        expected[row.lineIndex] ^= 0x04;
        if (row.blockIndex == 12)
            expected.erase(expected.begin() + static_cast<std::ptrdiff_t>(row.lineIndex) + 1);
        EXPECT_EQ(damaged, expected);
        EXPECT_EQ(ExtractCheckedBlock(damaged, block), TAnswerStatus::Damaged);
        EXPECT_EQ(sim.LastAnsweredBlock()[row.blockIndex], kDefaultBlock[row.blockIndex] ^ 0x04);
    }
    EXPECT_EQ(Confirm(slave, full.size()), full) << "the next exchange is answered well";
    EXPECT_EQ(sim.AnswerCount(), 6);
}

TEST(StationSimulatorTest, HangUpEndsTheLineForTheUtility)
{
    for (bool asFault : {false, true}) {
        SCOPED_TRACE(asFault ? "instead of answering 08" : "on request");
        StationSimulator sim(Quick());
        SlaveEnd slave(sim.SlavePath());
        if (asFault) {
            sim.SetFault(StationFault::HangUp);
            slave.Write(kConfirm);
            ASSERT_TRUE(sim.WaitFor([&] { return sim.IsDead(); }, 2s));
        } else {
            sim.HangUp();
            EXPECT_TRUE(sim.IsDead());
        }
        EXPECT_EQ(slave.Read(1, 2s), TByteArray{});
        EXPECT_TRUE(slave.HungUp);
        EXPECT_TRUE(slave.LastError == 0 || slave.LastError == EIO) << slave.LastError;
        EXPECT_FALSE(slave.Write({0x10}));
        sim.SendGreeting();  // a dead station stays quiet and harmless
        EXPECT_EQ(sim.GreetingCount(), 0);
    }
}

TEST(StationSimulatorTest, GreetsWhenTheUtilityBeginsAWait)
{
    StationConfig config = Quick();
    config.GreetOnWait = true;
    StationSimulator sim(config);
    SlaveEnd slave(sim.SlavePath());
    EXPECT_EQ(slave.ReadFor(150ms), TByteArray{}) << "no greeting before a wait";

    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        slave.Purge();
        EXPECT_EQ(slave.Read(7, 2s), kGreeting);
        // The purge after packet 08 is no new wait: only the answer follows.
        // Listening on past the time the station ignores purges after 08.
        EXPECT_EQ(Confirm(slave, 41, 600ms), StationAnswerLine(kDefaultBlock));
    }
    EXPECT_EQ(sim.GreetingCount(), 2);
    EXPECT_EQ(sim.PurgeCount(), 4);
}

TEST(StationSimulatorTest, SurvivesTheUtilityClosingAndReopeningThePort)
{
    StationSimulator sim(Quick());
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        sim.ReleaseExclusive();
        SlaveEnd slave(sim.SlavePath());
        ASSERT_TRUE(slave.IsOpen());
        sim.SendGreeting();
        EXPECT_EQ(slave.Read(7, 2s), kGreeting);
        EXPECT_EQ(Confirm(slave, 41), StationAnswerLine(kDefaultBlock));
    }
    EXPECT_FALSE(sim.IsDead());
    EXPECT_FALSE(sim.WaitFor([] { return false; }, 50ms));
}

TEST(StationSimulatorTest, ProgramPrintsItsPtyAndStopsOnSigterm)
{
    const std::string link = ::testing::TempDir() + "vostrel-station-link-" + std::to_string(::getpid());
    StationProgram program;
    ASSERT_TRUE(program.Start("--trace --greet-every 0.1 --link " + link));
    struct stat st {};
    EXPECT_EQ(::stat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
    {
        SlaveEnd slave(program.path);
        EXPECT_EQ(slave.Read(7, 2s), kGreeting);
    }
    int status = 0;
    const std::string trace = program.Stop(status);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_NE(trace.find("S->U  B0"), std::string::npos) << trace;
    EXPECT_NE(::lstat(link.c_str(), &st), 0) << "the link is removed on exit";
}

TEST(StationSimulatorTest, ProgramMisbehavesOnceWhenAsked)
{
    StationProgram program;
    ASSERT_TRUE(program.Start("--fault corrupt:0 --fault-once"));
    {
        SlaveEnd slave(program.path);
        const TByteArray full = StationAnswerLine(kDefaultBlock);
        TByteArray block;
        EXPECT_EQ(ExtractCheckedBlock(Confirm(slave, full.size()), block), TAnswerStatus::Damaged);
        EXPECT_EQ(ExtractCheckedBlock(Confirm(slave, full.size()), block), TAnswerStatus::Ok);
        EXPECT_EQ(block, kDefaultBlock);
    }
    int status = 0;
    program.Stop(status);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

TEST(StationSimulatorTest, ProgramPacesWhenAsked)
{
    // --pace: the greeting a wait asks for is in no sooner than its line time,
    // 7 bytes of 10 bits at 4800 bit/s, after the purge that asked for it.
    StationProgram program;
    ASSERT_TRUE(program.Start("--pace --greet-on-wait --greet-delay 0"));
    {
        SlaveEnd slave(program.path);
        const auto asked = std::chrono::steady_clock::now();
        slave.Purge();
        EXPECT_EQ(slave.Read(7, 3s), kGreeting);
        const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - asked;
        const double lineMs = 7 * 10.0 / 4800.0 * 1000.0;
        EXPECT_GE(took.count(), lineMs);
    }
    int status = 0;
    program.Stop(status);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

TEST(StationSimulatorTest, PacesItsBytesAtTheLineRate)
{
    // 10 bits a byte at 4800 bit/s. Byte k of a packet can be in no earlier
    // than k + 1 byte times after the packet starts: the greeting when it is
    // asked for, the answer its delay after the ETX of 08. Only lower bounds
    // are held tight; a loaded machine may be late, but not by seconds.
    const double byteMs = 10.0 / 4800.0 * 1000.0;
    StationConfig config = Quick();
    config.ByteInterval = kLineByteTime;
    config.AnswerDelay = 30ms;
    StationSimulator sim(config);
    SlaveEnd slave(sim.SlavePath());

    const auto asked = SimClock::now();
    sim.SendGreeting();
    ASSERT_EQ(slave.Read(7, 3s), kGreeting);
    const TByteArray answerLine = StationAnswerLine(kDefaultBlock);
    ASSERT_EQ(Confirm(slave, answerLine.size()), answerLine);
    // Two packets at once share the line: the second starts when the first ends.
    const auto backToBack = SimClock::now();
    sim.SendRaw(Hex("E1 E2 E3"));
    sim.SendGreeting();
    ASSERT_EQ(slave.Read(10, 3s), Cat(Hex("E1 E2 E3"), kGreeting));

    const auto trace = sim.Trace();
    ASSERT_EQ(trace.size(), 7 + kConfirm.size() + answerLine.size() + 10);
    const auto etx = trace[7 + kConfirm.size() - 1];
    ASSERT_FALSE(etx.FromStation);
    struct Packet {
        const char* name;
        SimClock::time_point start;
        std::size_t first;
        std::size_t count;
    } packets[] = {
        {"greeting", asked, 0, 7},
        {"answer", etx.Time + config.AnswerDelay, 7 + kConfirm.size(), answerLine.size()},
        {"raw bytes then greeting", backToBack, 7 + kConfirm.size() + answerLine.size(), 10},
    };
    auto ms = [](SimClock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); };
    for (const Packet& p : packets) {
        SCOPED_TRACE(p.name);
        for (std::size_t k = 0; k < p.count; ++k) {
            const LineByte& b = trace[p.first + k];
            ASSERT_TRUE(b.FromStation) << k;
            EXPECT_GE(ms(b.Time - p.start), static_cast<double>(k + 1) * byteMs) << "byte " << k << " early";
        }
        const double total = ms(trace[p.first + p.count - 1].Time - p.start);
        const double lineTime = static_cast<double>(p.count) * byteMs;
        EXPECT_GE(total, lineTime);
        EXPECT_LE(total, lineTime + 2000.0);
    }
}

}  // namespace vostrel

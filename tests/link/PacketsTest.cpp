#include "Packets.h"
#include "Utils.h"

#include "FakeLink.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace vostrel {

namespace {

std::vector<std::string> LinesOf(const TByteArray& bytes)
{
    std::vector<std::string> lines;
    for (std::uint8_t b : bytes) {
        lines.push_back("$" + HexByte(b));
    }
    return lines;
}

// The events one sent byte leaves: write, optional log line, 1 ms, a pass.
void ExpectByteEvents(std::vector<std::string>& expected, std::uint8_t b, bool logged)
{
    expected.push_back("w " + HexByte(b));
    if (logged) {
        expected.push_back("log $" + HexByte(b));
    }
    expected.push_back("sleep 1");
    expected.push_back("pm");
}

TByteArray Concat(std::initializer_list<TByteArray> parts)
{
    TByteArray out;
    for (const TByteArray& p : parts) {
        out.insert(out.end(), p.begin(), p.end());
    }
    return out;
}

}  // namespace

TEST(Packets, ByteLineIsDollarAndTwoUpperHexDigits)
{
    EXPECT_EQ(ByteLine(0x10), "$10");
    EXPECT_EQ(ByteLine(0x0A), "$0A");
    EXPECT_EQ(ByteLine(0xB0), "$B0");
    EXPECT_EQ(ByteLine(0x00), "$00");
    EXPECT_EQ(ByteLine(0xFF), "$FF");
}

TEST(Packets, BuildPacketLaysOutFixedPackets)
{
    struct Row {
        const char* name;
        std::uint8_t number;
        TByteArray data;
        TByteArray expected;
    } rows[] = {
        {"confirmation", kPacketConfirm, {0x00}, {0x10, 0x08, 0x00, 0x06, 0x70, 0x10, 0x03}},
        {"closing", kPacketClosing, {0x00}, {0x10, 0x00, 0x00, 0x01, 0xB0, 0x10, 0x03}},
        {"programming, zero block", kPacketProgram, TByteArray(34, 0x00),
         Concat({{0x10, 0x09}, TByteArray(34, 0x00), {0x7A, 0x01, 0x10, 0x03}})},
        // CRC-16/MODBUS of 05 alone is 0x437F, worked bit by bit; low byte first.
        {"no data", 0x05, {}, {0x10, 0x05, 0x7F, 0x43, 0x10, 0x03}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(BuildPacket(row.number, row.data), row.expected);
    }
}

TEST(Packets, SendLoggedPacketsByteByByte)
{
    for (std::uint8_t number : {kPacketConfirm, kPacketClosing}) {
        SCOPED_TRACE(static_cast<int>(number));
        FakeClock clock;
        FakePort port(clock);
        FakeHost host(clock);
        const TByteArray packet = BuildPacket(number, {0x00});
        SendPacket(port, host, packet, true, false);

        EXPECT_EQ(port.written, packet);
        EXPECT_EQ(port.writeCalls, 7);  // one call per byte
        EXPECT_EQ(host.log, LinesOf(packet));
        std::vector<std::string> expected;
        for (std::uint8_t b : packet) {
            ExpectByteEvents(expected, b, true);
        }
        EXPECT_EQ(clock.events, expected);
    }
    FakeClock clock;
    FakePort port(clock);
    FakeHost host(clock);
    SendPacket(port, host, BuildPacket(kPacketConfirm, {0x00}), true, false);
    EXPECT_EQ(host.log, (std::vector<std::string>{"$10", "$08", "$00", "$06", "$70", "$10", "$03"}));
}

TEST(Packets, SendProgrammingPacketWithDoubling)
{
    TByteArray twoDle(34, 0x00);
    twoDle[12] = 0x10;
    twoDle[13] = 0x10;
    TByteArray crcLow10(33, 0x00);
    crcLow10.push_back(0x3C);

    struct Row {
        const char* name;
        TByteArray block;
        std::uint16_t crc;
        std::size_t lineLength;
    } rows[] = {
        {"zero block, nothing doubled", TByteArray(34, 0x00), 0x7A01, 40},
        {"data bytes 12 and 13 are DLE", twoDle, 0x799D, 42},
        {"CRC low byte is DLE", crcLow10, 0x7A10, 41},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const TByteArray packet = BuildPacket(kPacketProgram, row.block);
        ASSERT_EQ(packet.size(), 40u);
        EXPECT_EQ(packet[36], row.crc >> 8);
        EXPECT_EQ(packet[37], row.crc & 0xFF);

        FakeClock clock;
        FakePort port(clock);
        FakeHost host(clock);
        SendPacket(port, host, packet, false, true);
        EXPECT_TRUE(host.log.empty());
        ASSERT_EQ(port.written.size(), row.lineLength);
        EXPECT_EQ(static_cast<std::size_t>(port.writeCalls), row.lineLength);
        // Every write, copies included, is followed by 1 ms and a pass.
        std::vector<std::string> expected;
        for (std::uint8_t b : port.written) {
            ExpectByteEvents(expected, b, false);
        }
        EXPECT_EQ(clock.events, expected);
        EXPECT_EQ((TByteArray(port.written.begin(), port.written.begin() + 2)), (TByteArray{0x10, 0x09}));
    }

    FakeClock clock;
    FakePort port(clock);
    FakeHost host(clock);
    SendPacket(port, host, BuildPacket(kPacketProgram, twoDle), false, true);
    EXPECT_EQ((TByteArray(port.written.begin() + 13, port.written.begin() + 19)),
              (TByteArray{0x00, 0x10, 0x10, 0x10, 0x10, 0x00}));
    EXPECT_EQ((TByteArray(port.written.end() - 4, port.written.end())), (TByteArray{0x79, 0x9D, 0x10, 0x03}));

    FakeClock clock2;
    FakePort port2(clock2);
    FakeHost host2(clock2);
    SendPacket(port2, host2, BuildPacket(kPacketProgram, crcLow10), false, true);
    EXPECT_EQ((TByteArray(port2.written.end() - 5, port2.written.end())), (TByteArray{0x7A, 0x10, 0x10, 0x10, 0x03}));
}

TEST(Packets, DoublingSparesNumberAndFramingAndCopiesAreNotLogged)
{
    FakeClock clock;
    FakePort port(clock);
    FakeHost host(clock);
    // Number 0x10 at index 1 stays single; the data DLE is doubled but logged once.
    const TByteArray packet{0x10, 0x10, 0x10, 0x55, 0x10, 0x03};
    SendPacket(port, host, packet, true, true);
    EXPECT_EQ(port.written, (TByteArray{0x10, 0x10, 0x10, 0x10, 0x55, 0x10, 0x03}));
    EXPECT_EQ(host.log, LinesOf(packet));
}

TEST(Packets, SendIgnoresWriteResultsAndLetsPortErrorsThrough)
{
    FakeClock clock;
    FakePort port(clock);
    FakeHost host(clock);
    port.writeResult = -1;
    const TByteArray packet = BuildPacket(kPacketConfirm, {0x00});
    SendPacket(port, host, packet, true, false);
    EXPECT_EQ(port.written, packet);

    FakePort broken(clock);
    broken.throwAtWrite = 3;
    EXPECT_THROW(SendPacket(broken, host, packet, false, false), std::runtime_error);
    EXPECT_EQ(broken.written, TByteArray(packet.begin(), packet.begin() + 3));
}

TEST(Packets, IsGreeting)
{
    struct Row {
        const char* name;
        TByteArray bytes;
        bool valid;
    } rows[] = {
        {"minimal 10 00 03", {0x10, 0x00, 0x03}, true},
        {"full greeting", {0x10, 0x00, 0x00, 0x01, 0xB0, 0x10, 0x03}, true},
        {"packet 01", {0x10, 0x01, 0x00, 0x12, 0x34, 0x10, 0x03}, false},
        {"stray byte first", {0x55, 0x10, 0x00, 0x00, 0x01, 0xB0, 0x10, 0x03}, false},
        {"no ETX", {0x10, 0x00, 0x00, 0x01}, false},
        {"two bytes", {0x10, 0x03}, false},
        {"empty", {}, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(IsGreeting(row.bytes), row.valid);
    }
}

TEST(Packets, CollectUntilEtxStopsAtFirstEtx)
{
    FakeClock clock;
    FakePort port(clock);
    FakeHost host(clock);
    // The greeting's CRC holds a 03: collection ends there, the rest waits.
    port.Arrive(5, {0x10, 0x00, 0x00, 0x03});
    port.Arrive(30, {0x77, 0x10, 0x03});
    const TByteArray got = CollectUntilEtx(port, host);
    EXPECT_EQ(got, (TByteArray{0x10, 0x00, 0x00, 0x03}));
    EXPECT_TRUE(IsGreeting(got));
    EXPECT_EQ(host.log, LinesOf(got));
    EXPECT_EQ(port.Pending(), 3u);
    EXPECT_LT(clock.now, 30u);
    for (const std::string& e : clock.events) {
        EXPECT_NE(e.rfind("sleep", 0), 0u) << "collections must not sleep";
    }
}

TEST(Packets, CollectUntilEtxGivesUpAfterLimit)
{
    for (std::uint32_t start : {0u, 0xFFFFFF00u}) {
        SCOPED_TRACE(start);
        FakeClock clock;
        clock.now = start;
        FakePort port(clock);
        FakeHost host(clock);
        port.Arrive(start + 10, {0x10, 0x00, 0x00, 0x01});
        port.Arrive(start + 1600, {0x03});
        const TByteArray got = CollectUntilEtx(port, host);
        EXPECT_EQ(got, (TByteArray{0x10, 0x00, 0x00, 0x01}));
        EXPECT_FALSE(IsGreeting(got));
        const std::uint32_t elapsed = clock.now - start;
        EXPECT_GT(elapsed, 1500u);
        EXPECT_LT(elapsed, 1520u);
        EXPECT_EQ(port.Pending(), 1u);
        EXPECT_EQ(host.passes, static_cast<int>(elapsed));  // one pass per poll
    }
}

TEST(Packets, CollectForKeepsEverythingInItsWindow)
{
    FakeClock clock;
    FakePort port(clock);
    FakeHost host(clock);
    const TByteArray packet = Concat({{0x10, 0x01}, TByteArray(34, 0x22), {0xAA, 0xBB, 0x10, 0x03}});
    port.Arrive(20, packet);
    port.Arrive(900, {0x01, 0x02});  // after ETX, inside the window
    port.Arrive(1100, {0x0E});       // after the window
    const TByteArray got = CollectFor(port, host, 1000);
    EXPECT_EQ(got, Concat({packet, {0x01, 0x02}}));
    EXPECT_EQ(host.log, LinesOf(got));
    EXPECT_EQ(port.Pending(), 1u);
    EXPECT_GT(clock.now, 1000u);
    EXPECT_LT(clock.now, 1020u);
    for (const std::string& e : clock.events) {
        EXPECT_NE(e.rfind("sleep", 0), 0u) << "collections must not sleep";
    }
    // The block is counted from the end of everything collected.
    const TByteArray block = ExtractBlock(got);
    ASSERT_EQ(block.size(), 36u);
    EXPECT_EQ(block.front(), 0x22);
    EXPECT_EQ((TByteArray(block.end() - 4, block.end())), (TByteArray{0x22, 0x22, 0xAA, 0xBB}));
}

TEST(Packets, ExtractBlockEdges)
{
    // At least 7 bytes, then everything but the first two and the last four.
    struct Row {
        TByteArray in;
        TByteArray out;
    } rows[] = {
        {{}, {}},
        {{0xA0}, {}},
        {{0xA0, 0xA1}, {}},
        {{0xA0, 0xA1, 0xA2}, {}},
        {{0xA0, 0xA1, 0xA2, 0xA3}, {}},
        {{0xA0, 0xA1, 0xA2, 0xA3, 0xA4}, {}},
        {{0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5}, {}},
        {{0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6}, {0xA2}},
        {{0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7}, {0xA2, 0xA3}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.in.size());
        TByteArray got;
        EXPECT_NO_THROW(got = ExtractBlock(row.in));
        EXPECT_EQ(got, row.out);
    }
}

TEST(Packets, ReceiveBoundaries)
{
    // What the station may send, from nothing to a short packet with bytes
    // after it, through every receive step, each outcome worked from that
    // step's rule. All of it arrives at 5 ms, inside both windows.
    struct Row {
        const char* name;
        TByteArray sent;
        TByteArray greeting;  // CollectUntilEtx: up to the first ETX
        bool valid;           // IsGreeting of that
        TByteArray block;     // ExtractBlock of CollectFor (which takes all)
        TByteArray undone;    // UndoDleDoubling of the block
    } rows[] = {
        {"0 bytes", {}, {}, false, {}, {}},
        {"1: ETX", {0x03}, {0x03}, false, {}, {}},
        {"1: DLE, no ETX", {0x10}, {0x10}, false, {}, {}},
        {"2: 10 03", {0x10, 0x03}, {0x10, 0x03}, false, {}, {}},
        {"2: 10 00, no ETX", {0x10, 0x00}, {0x10, 0x00}, false, {}, {}},
        {"3: shortest greeting", {0x10, 0x00, 0x03}, {0x10, 0x00, 0x03}, true, {}, {}},
        {"3: numbered 01", {0x10, 0x01, 0x03}, {0x10, 0x01, 0x03}, false, {}, {}},
        {"3: ETX first ends it", {0x03, 0x10, 0x00}, {0x03}, false, {}, {}},
        {"4: ETX inside, ETX last", {0x10, 0x00, 0x03, 0x03}, {0x10, 0x00, 0x03}, true, {}, {}},
        {"4: 10 00 10 03", {0x10, 0x00, 0x10, 0x03}, {0x10, 0x00, 0x10, 0x03}, true, {}, {}},
        {"5: greeting", {0x10, 0x00, 0xA2, 0xA3, 0x03}, {0x10, 0x00, 0xA2, 0xA3, 0x03}, true, {}, {}},
        {"5: no ETX", {0x10, 0x00, 0xA2, 0xA3, 0xA4}, {0x10, 0x00, 0xA2, 0xA3, 0xA4}, false, {}, {}},
        {"6: packet 01 without data",
         {0x10, 0x01, 0xA2, 0xA3, 0x10, 0x03},
         {0x10, 0x01, 0xA2, 0xA3, 0x10, 0x03},
         false,
         {},
         {}},
        {"7: greeting",
         {0x10, 0x00, 0x00, 0x01, 0xB0, 0x10, 0x03},
         {0x10, 0x00, 0x00, 0x01, 0xB0, 0x10, 0x03},
         true,
         {0x00},
         {0x00}},
        {"7: ETX inside the greeting",
         {0x10, 0x00, 0x03, 0x01, 0xB0, 0x10, 0x03},
         {0x10, 0x00, 0x03},
         true,
         {0x03},
         {0x03}},
        {"7: one-byte block",
         {0x10, 0x01, 0xA2, 0xA3, 0xA4, 0x10, 0x03},
         {0x10, 0x01, 0xA2, 0xA3, 0xA4, 0x10, 0x03},
         false,
         {0xA2},
         {0xA2}},
        {"7: lone DLE block",
         {0x10, 0x01, 0x10, 0xA3, 0xA4, 0x10, 0x03},
         {0x10, 0x01, 0x10, 0xA3, 0xA4, 0x10, 0x03},
         false,
         {0x10},
         {0x10}},
        {"8: doubled DLE block",
         {0x10, 0x01, 0x10, 0x10, 0xA4, 0xA5, 0x10, 0x03},
         {0x10, 0x01, 0x10, 0x10, 0xA4, 0xA5, 0x10, 0x03},
         false,
         {0x10, 0x10},
         {0x10}},
        {"9: two bytes after the packet",
         {0x10, 0x01, 0xA2, 0xA3, 0xA4, 0x10, 0x03, 0xE1, 0xE2},
         {0x10, 0x01, 0xA2, 0xA3, 0xA4, 0x10, 0x03},
         false,
         {0xA2, 0xA3, 0xA4},
         {0xA2, 0xA3, 0xA4}},
        {"10: greeting then bytes",
         {0x10, 0x00, 0x00, 0x01, 0xB0, 0x10, 0x03, 0x10, 0x10, 0x03},
         {0x10, 0x00, 0x00, 0x01, 0xB0, 0x10, 0x03},
         true,
         {0x00, 0x01, 0xB0, 0x10},
         {0x00, 0x01, 0xB0, 0x10}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FakeClock clock;
        FakePort port(clock);
        FakeHost host(clock);
        port.Arrive(5, row.sent);
        const TByteArray greeting = CollectUntilEtx(port, host);
        EXPECT_EQ(greeting, row.greeting);
        EXPECT_EQ(IsGreeting(greeting), row.valid);
        EXPECT_EQ(port.Pending(), row.sent.size() - row.greeting.size()) << "bytes after the ETX stay";
        const bool endedAtEtx = !greeting.empty() && greeting.back() == 0x03;
        EXPECT_EQ(clock.now > 1500, !endedAtEtx) << "only a greeting without ETX runs out the time";

        FakeClock clock2;
        FakePort port2(clock2);
        FakeHost host2(clock2);
        port2.Arrive(5, row.sent);
        const TByteArray window = CollectFor(port2, host2, 1000);
        EXPECT_EQ(window, row.sent);
        EXPECT_EQ(host2.log, LinesOf(row.sent));
        TByteArray block;
        EXPECT_NO_THROW(block = ExtractBlock(window));
        EXPECT_EQ(block, row.block);
        EXPECT_EQ(UndoDleDoubling(block), row.undone);
    }
}

TEST(Packets, UndoDleDoubling)
{
    struct Row {
        const char* name;
        TByteArray in;
        TByteArray out;
    } rows[] = {
        {"doubled then data", {0x10, 0x10, 0x05}, {0x10, 0x05}},
        {"two doubled", {0x10, 0x10, 0x10, 0x10}, {0x10, 0x10}},
        {"doubled at the end", {0x05, 0x10, 0x10}, {0x05, 0x10}},
        {"lone DLE", {0x05, 0x10, 0x06}, {0x05, 0x10, 0x06}},
        {"three in a row", {0x10, 0x10, 0x10}, {0x10, 0x10}},
        {"lone DLE last", {0x05, 0x10}, {0x05, 0x10}},
        {"lone DLE first", {0x10, 0x05}, {0x10, 0x05}},
        {"lone DLE alone", {0x10}, {0x10}},
        {"doubled DLE alone", {0x10, 0x10}, {0x10}},
        {"two doubled in the middle", {0x05, 0x10, 0x10, 0x10, 0x10, 0x06}, {0x05, 0x10, 0x10, 0x06}},
        {"doubled, data, doubled", {0x10, 0x10, 0x05, 0x10, 0x10}, {0x10, 0x05, 0x10}},
        {"five in a row", {0x10, 0x10, 0x10, 0x10, 0x10}, {0x10, 0x10, 0x10}},
        {"no DLE", {0x05, 0x06}, {0x05, 0x06}},
        {"empty", {}, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(UndoDleDoubling(row.in), row.out);
    }
}

TEST(Packets, ParameterPacketRoundTripsThroughTheLine)
{
    // Blocks whose packet-01 CRC holds a DLE in either byte, and one with data DLEs.
    std::vector<TByteArray> blocks;
    bool highFound = false;
    bool lowFound = false;
    for (int v = 0; v < 65536 && !(highFound && lowFound); ++v) {
        TByteArray block(34, 0x00);
        block[32] = static_cast<std::uint8_t>(v >> 8);
        block[33] = static_cast<std::uint8_t>(v & 0xFF);
        if (block[32] == 0x10 || block[33] == 0x10) {
            continue;
        }
        const TByteArray p = BuildPacket(kPacketParams, block);
        if (!highFound && p[36] == 0x10) {
            highFound = true;
            blocks.push_back(block);
        } else if (!lowFound && p[37] == 0x10) {
            lowFound = true;
            blocks.push_back(block);
        }
    }
    ASSERT_TRUE(highFound && lowFound);
    TByteArray withDle(34, 0x10);
    withDle[0] = 0x01;
    blocks.push_back(withDle);
    // A data DLE at each position of the block, then a pair at each.
    for (std::size_t pos = 0; pos < 34; ++pos) {
        TByteArray block(34, 0x22);
        block[pos] = 0x10;
        blocks.push_back(block);
        if (pos + 1 < 34) {
            block[pos + 1] = 0x10;
            blocks.push_back(block);
        }
    }

    for (const TByteArray& block : blocks) {
        SCOPED_TRACE(::testing::PrintToString(block));
        FakeClock clock;
        FakePort station(clock);
        FakeHost host(clock);
        const TByteArray packet = BuildPacket(kPacketParams, block);
        SendPacket(station, host, packet, false, true);

        FakeClock clock2;
        FakePort port(clock2);
        FakeHost host2(clock2);
        port.Arrive(10, station.written);
        const TByteArray undone = UndoDleDoubling(ExtractBlock(CollectFor(port, host2, 1000)));
        const bool crcHasDle = packet[36] == 0x10 || packet[37] == 0x10;
        ASSERT_EQ(undone.size(), crcHasDle ? 35u : 34u);
        EXPECT_EQ(TByteArray(undone.begin(), undone.begin() + 34), block);
        if (crcHasDle) {
            EXPECT_EQ(undone.back(), packet[36]);  // the CRC high byte
        }
    }
}

TEST(Packets, CollectionsPollWhileElapsedIsAtMostTheLimit)
{
    // Each pass reads, takes the tick, then lets 1 ms go by in message
    // processing: the last read happens one tick after the limit is reached.
    struct Row {
        const char* name;
        bool untilEtx;
        std::uint32_t limit;
        std::uint32_t arrival;
        bool taken;
    } rows[] = {
        {"greeting ETX on the last pass", true, 1500, 1501, true},
        {"greeting ETX one tick later", true, 1500, 1502, false},
        {"window byte on the last pass", false, 1000, 1001, true},
        {"window byte one tick later", false, 1000, 1002, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FakeClock clock;
        clock.now = 0xFFFFFFF0u;  // across the counter's wrap
        FakePort port(clock);
        FakeHost host(clock);
        port.Arrive(clock.now, {0x10, 0x00});
        port.Arrive(clock.now + row.arrival, {0x03});
        const TByteArray got = row.untilEtx ? CollectUntilEtx(port, host) : CollectFor(port, host, row.limit);
        EXPECT_EQ(got.size(), row.taken ? 3u : 2u);
    }
}

namespace {

// A packet as the station writes it: each 0x10 after the number and before
// the closing DLE sent twice.
TByteArray AsWritten(const TByteArray& packet)
{
    TByteArray line;
    for (std::size_t i = 0; i < packet.size(); ++i) {
        line.push_back(packet[i]);
        if (i >= 2 && i + 2 < packet.size() && packet[i] == 0x10) {
            line.push_back(0x10);
        }
    }
    return line;
}

// A block of 0x22 whose packet-01 CRC has 0x10 as its high (crcByte 0) or
// low (1) byte, found by trying bytes 32 and 33.
TByteArray BlockWithCrcDle(int crcByte)
{
    for (int v = 0; v < 65536; ++v) {
        TByteArray block(34, 0x22);
        block[32] = static_cast<std::uint8_t>(v >> 8);
        block[33] = static_cast<std::uint8_t>(v & 0xFF);
        if (block[32] == 0x10 || block[33] == 0x10) {
            continue;
        }
        const TByteArray p = BuildPacket(kPacketParams, block);
        if (p[36 + crcByte] == 0x10 && p[37 - crcByte] != 0x10 && p[37 - crcByte] != 0x03) {
            return block;
        }
    }
    return {};
}

}  // namespace

TEST(Packets, ExtractCheckedBlockTakesOnlyAnAnswerWhoseCrcHolds)
{
    // The worked example's block; no 0x10 in it or in its packet-01 CRC.
    const TByteArray sample{0x00, 0xEE, 0x39, 0x00, 0xF3, 0xC1, 0x00, 0xB5, 0xF9, 0x00, 0xC8, 0x01,
                            0x55, 0x18, 0x0D, 0x1C, 0x64, 0x5F, 0xF1, 0xF1, 0xE9, 0xEE, 0xE0, 0xEA,
                            0x42, 0x1B, 0x06, 0x06, 0x1E, 0x2E, 0x1E, 0x18, 0x44, 0x37};
    const TByteArray samplePacket = BuildPacket(kPacketParams, sample);
    ASSERT_EQ(AsWritten(samplePacket), samplePacket);
    TByteArray dataDles = sample;
    dataDles[5] = 0x10;   // lone, between other bytes
    dataDles[12] = 0x10;  // a pair: four on the line
    dataDles[13] = 0x10;
    TByteArray lastDle = sample;
    lastDle[33] = 0x10;
    const TByteArray crcHigh = BlockWithCrcDle(0);
    const TByteArray crcLow = BlockWithCrcDle(1);
    ASSERT_FALSE(crcHigh.empty());
    ASSERT_FALSE(crcLow.empty());
    const TByteArray greeting{0x10, 0x00, 0x00, 0x01, 0xB0, 0x10, 0x03};

    auto written = [](const TByteArray& block) { return AsWritten(BuildPacket(kPacketParams, block)); };
    auto changed = [](TByteArray line, std::size_t at, std::uint8_t value) {
        line[at] = value;
        return line;
    };
    auto erased = [](TByteArray line, std::size_t at) {
        line.erase(line.begin() + static_cast<std::ptrdiff_t>(at));
        return line;
    };
    auto cut = [](const TByteArray& line, std::size_t keep) { return TByteArray(line.begin(), line.begin() + keep); };
    const TByteArray sampleLine = written(sample);
    const TByteArray crcHighLine = written(crcHigh);  // ... 10 10 LL 10 03
    const TByteArray crcLowLine = written(crcLow);    // ... HH 10 10 10 03
    const TByteArray dataDleLine = written(dataDles);

    using S = TAnswerStatus;
    struct Row {
        const char* name;
        TByteArray line;
        S status;
        TByteArray block;  // with Ok
    } rows[] = {
        {"a good answer", sampleLine, S::Ok, sample},
        {"data DLEs doubled, a pair among them", dataDleLine, S::Ok, dataDles},
        {"DLE as the last data byte", written(lastDle), S::Ok, lastDle},
        {"doubled DLE as the CRC high byte", crcHighLine, S::Ok, crcHigh},
        {"doubled DLE as the CRC low byte", crcLowLine, S::Ok, crcLow},
        {"bytes after the packet", Concat({sampleLine, greeting, {0xEE, 0x10}}), S::Ok, sample},
        {"noise ahead of the packet", Concat({{0xFF, 0x55, 0x03}, sampleLine}), S::Ok, sample},
        {"a greeting ahead of the packet", Concat({greeting, sampleLine}), S::Ok, sample},

        // Bit 2 of block byte 1 is bit 8 of the ZPCH1 receive word: 3200 kHz off.
        {"one bit flipped in a frequency byte", changed(sampleLine, 3, 0xEE ^ 0x04), S::Damaged, {}},
        {"the number damaged", changed(sampleLine, 1, 0x05), S::Damaged, {}},
        {"CRC high DLE sent once", erased(crcHighLine, 36), S::Damaged, {}},
        {"CRC low DLE sent once", erased(crcLowLine, 37), S::Damaged, {}},
        {"a data DLE sent once", erased(dataDleLine, 7), S::Damaged, {}},
        {"a data DLE sent three times",
         Concat({cut(dataDleLine, 7), {0x10}, TByteArray(dataDleLine.begin() + 7, dataDleLine.end())}),
         S::Damaged,
         {}},
        {"a byte lost", erased(sampleLine, 20), S::Damaged, {}},
        {"longer than any packet", Concat({{0x10, 0x01}, TByteArray(37, 0x22), {0x10, 0x03}}), S::Damaged, {}},
        {"no room for a CRC", {0x10, 0x01, 0xA2, 0x10, 0x03}, S::Damaged, {}},

        {"nothing", {}, S::Missing, {}},
        {"the header only", {0x10, 0x01}, S::Missing, {}},
        {"only a greeting", greeting, S::Missing, {}},
        {"packet 01 of 33 bytes with its own right CRC", written(cut(sample, 33)), S::Missing, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TByteArray block{0x99};
        EXPECT_EQ(ExtractCheckedBlock(row.line, block), row.status);
        EXPECT_EQ(block, row.block);
    }

    for (const TByteArray& block : {sample, dataDles, lastDle, crcHigh, crcLow}) {
        SCOPED_TRACE(::testing::PrintToString(block));
        const TByteArray packet = BuildPacket(kPacketParams, block);
        const TByteArray line = AsWritten(packet);
        TByteArray got;
        // A cut-off answer is no answer, never a damaged one.
        for (std::size_t keep = 0; keep < line.size(); ++keep) {
            EXPECT_EQ(ExtractCheckedBlock(cut(line, keep), got), S::Missing) << keep;
        }
        // Every single bit flipped in the data or the CRC is caught, as long
        // as the framing stays as it was.
        for (std::size_t at = 2; at < 38; ++at) {
            for (int bit = 0; bit < 8; ++bit) {
                TByteArray bad = packet;
                bad[at] ^= static_cast<std::uint8_t>(1 << bit);
                if (packet[at] == 0x10 || bad[at] == 0x10) {
                    continue;
                }
                EXPECT_EQ(ExtractCheckedBlock(AsWritten(bad), got), S::Damaged) << at << " bit " << bit;
            }
        }
    }
}

}  // namespace vostrel

// What the station does: its greeting, its answer to packet 08, the faults it
// can show in them and what it makes of the utility's packets. The pty and
// the line's pacing are StationSimulator.cpp's.
#include "StationSimulator.h"

#include "HexText.h"
#include "Packets.h"
#include "ParamBlock.h"
#include "Utils.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <string>

namespace vostrel {

namespace {

// Bounded: the simulator may run for hours in a demo.
constexpr std::size_t kMaxPackets = 4096;
// The utility purges once more right after packet 08; that is no new wait.
constexpr auto kPurgeAfterConfirm = std::chrono::milliseconds(500);

// Changes calibration bytes (from 33 down) until the packet 01 CRC holds a
// 0x10, leaving the decoded parameters (bytes 0..17) as they were.
TByteArray WithCrcDle(TByteArray block)
{
    auto crcHasDle = [](const TByteArray& b) {
        TByteArray body{kPacketParams};
        body.insert(body.end(), b.begin(), b.end());
        const std::uint16_t crc = Crc16(body, static_cast<std::int32_t>(b.size()));
        return (crc >> 8) == kDle || (crc & 0xFF) == kDle;
    };
    if (crcHasDle(block))
        return block;
    for (std::size_t idx = block.size(); idx-- > static_cast<std::size_t>(kBlockUserBytes);) {
        const std::uint8_t original = block[idx];
        for (int v = 0; v < 256; ++v) {
            block[idx] = static_cast<std::uint8_t>(v);
            if (crcHasDle(block))
                return block;
        }
        block[idx] = original;
    }
    return block;
}

// A packet as the station writes it: every 0x10 between the number and the
// trailing DLE doubled.
TByteArray AsStationWrites(const TByteArray& packet)
{
    TByteArray line;
    line.reserve(packet.size() + 8);
    for (std::size_t i = 0; i < packet.size(); ++i) {
        line.push_back(packet[i]);
        if (i >= 2 && i + 3 <= packet.size() && packet[i] == kDle)
            line.push_back(kDle);
    }
    return line;
}

}  // namespace

bool ParseStationFault(const std::string& name, StationFault& out)
{
    static const std::array<std::pair<const char*, StationFault>, 10> names{{
        {"none", StationFault::None},
        {"stray", StationFault::StrayByte},
        {"noetx", StationFault::NoEtx},
        {"wrongnum", StationFault::WrongNumber},
        {"cut", StationFault::CutShort},
        {"silence", StationFault::Silence},
        {"crcdle", StationFault::CrcDle},
        {"noise", StationFault::Noise},
        {"hangup", StationFault::HangUp},
        {"corrupt", StationFault::Corrupt},
    }};
    for (const auto& [n, f] : names) {
        if (name == n) {
            out = f;
            return true;
        }
    }
    return false;
}

StationConfig PacedStation()
{
    StationConfig c;
    c.ByteInterval = kLineByteTime;
    c.AnswerDelay = std::chrono::milliseconds(30);
    return c;
}

TByteArray DefaultStationBlock()
{
    TParameterSet set{
        .StepCode = 1,
        .RxFreq = {145575.0L, 150000.0L},
        .TxFreq = {145575.0L, 160000.0L},
        .Simplex = {true, false},
        .PowerCode = {3, 1},
        .BaudCode = 0,
        .FlowCode = 0,
        .XoffAfter = 100.0L,
        .RxPause = 10.0L,
        .AirSpeedCode = 0,
        .KodCode = 1,
        .KodPaketSize = 24.0L,
    };
    TNullLog log;
    return EncodeBlock(set, log);
}

TByteArray StationAnswerLine(const TByteArray& block)
{
    return AsStationWrites(BuildPacket(kPacketParams, block));
}

TByteArray CorruptedAnswerLine(const TByteArray& block, std::size_t at)
{
    TByteArray packet = BuildPacket(kPacketParams, block);
    if (!block.empty())
        packet[2 + std::min(at, block.size() - 1)] ^= 0x04;
    return AsStationWrites(packet);
}

void StationSimulator::SendGreeting()
{
    {
        std::lock_guard lock(m_mutex);
        ScheduleGreetingLocked(SimClock::now());
    }
    Wake();
}

void StationSimulator::SetFault(StationFault fault, int param, bool sticky)
{
    std::lock_guard lock(m_mutex);
    m_fault = fault;
    m_faultParam = param;
    m_faultSticky = sticky;
}

void StationSimulator::SetBlock(const TByteArray& block)
{
    std::lock_guard lock(m_mutex);
    m_config.Block = block;
}

void StationSimulator::SetAnswerDelay(std::chrono::milliseconds delay)
{
    std::lock_guard lock(m_mutex);
    m_config.AnswerDelay = delay;
}

void StationSimulator::SetGreetOnWait(bool on)
{
    std::lock_guard lock(m_mutex);
    m_config.GreetOnWait = on;
}

bool StationSimulator::TakeFaultLocked(bool greetingSide, StationFault& fault, int& param)
{
    const bool isGreetingFault = m_fault == StationFault::StrayByte || m_fault == StationFault::NoEtx ||
                                 m_fault == StationFault::WrongNumber || m_fault == StationFault::Noise;
    if (m_fault == StationFault::None || isGreetingFault != greetingSide)
        return false;
    fault = m_fault;
    param = m_faultParam;
    if (!m_faultSticky)
        m_fault = StationFault::None;
    return true;
}

TByteArray StationSimulator::GreetingBytesLocked()
{
    // A station greets with a packet 00 carrying one byte 00.
    TByteArray greeting = BuildPacket(kPacketGreeting, {0x00});
    StationFault fault = StationFault::None;
    int param = -1;
    if (!TakeFaultLocked(true, fault, param))
        return greeting;
    switch (fault) {
    case StationFault::StrayByte:
        greeting.insert(greeting.begin(), param >= 0 ? static_cast<std::uint8_t>(param) : 0xA5);
        EventLocked("fault: stray byte before the greeting");
        break;
    case StationFault::NoEtx:
        greeting.pop_back();
        EventLocked("fault: greeting without ETX");
        break;
    case StationFault::WrongNumber:
        greeting = BuildPacket(0x01, {0x00});
        EventLocked("fault: greeting numbered 01");
        break;
    case StationFault::Noise: {
        const int count = std::clamp(param >= 0 ? param : 16, 1, 4096);
        greeting.clear();
        for (int i = 0; i < count; ++i) {
            m_noiseState ^= m_noiseState << 13;
            m_noiseState ^= m_noiseState >> 17;
            m_noiseState ^= m_noiseState << 5;
            greeting.push_back(static_cast<std::uint8_t>(m_noiseState >> 24));
        }
        EventLocked("fault: line noise instead of the greeting");
        break;
    }
    default:
        break;
    }
    return greeting;
}

void StationSimulator::ScheduleGreetingLocked(SimClock::time_point due)
{
    // At most one greeting waits: a new wait replaces the one not yet sent.
    std::erase_if(m_scheduled, [](const Scheduled& s) { return s.Greeting; });
    Scheduled s;
    s.Due = due;
    s.Greeting = true;
    m_scheduled.push_back(std::move(s));
}

void StationSimulator::ScheduleAnswerLocked(SimClock::time_point now)
{
    const auto due = now + m_config.AnswerDelay;
    StationFault fault = StationFault::None;
    int param = -1;
    TakeFaultLocked(false, fault, param);
    if (fault == StationFault::Silence) {
        EventLocked("fault: no answer to packet 08");
        return;
    }
    if (fault == StationFault::HangUp) {
        EventLocked("fault: hanging up instead of answering");
        m_scheduled.push_back(Scheduled{due, {}, true});
        return;
    }
    TByteArray block = m_config.Block;
    if (fault == StationFault::CrcDle) {
        block = WithCrcDle(block);
        EventLocked("fault: answer with a CRC byte 10");
    }
    TByteArray line = StationAnswerLine(block);
    if (fault == StationFault::Corrupt && !block.empty()) {
        const int last = static_cast<int>(block.size()) - 1;
        const auto at = static_cast<std::size_t>(std::clamp(param >= 0 ? param : 1, 0, last));
        line = CorruptedAnswerLine(block, at);
        block[at] ^= 0x04;
        EventLocked("fault: block byte " + std::to_string(at) + " of packet 01 damaged, CRC of the true block");
    }
    if (fault == StationFault::CutShort) {
        const std::size_t keep = static_cast<std::size_t>(std::max(param >= 0 ? param : 10, 0));
        line.resize(std::min(keep, line.size()));
        EventLocked("fault: answer cut after " + std::to_string(line.size()) + " bytes");
    }
    m_lastAnswered = block;
    Scheduled s;
    s.Due = due;
    s.Bytes = std::move(line);
    s.Answer = true;
    m_scheduled.push_back(std::move(s));
}

void StationSimulator::HandlePacket(const TByteArray& line, SimClock::time_point now)
{
    ReceivedPacket p;
    p.Number = line[1];
    p.Line = line;
    p.End = now;
    const TByteArray body = UndoDleDoubling(TByteArray(line.begin() + 2, line.end() - 2));
    if (body.size() >= 2) {
        p.Data.assign(body.begin(), body.end() - 2);
        p.Crc = static_cast<std::uint16_t>((body[body.size() - 2] << 8) | body.back());
        // Built up rather than from {p.Number}: GCC 12 sees a bogus overflow
        // in the insert after a one-byte initializer list.
        TByteArray covered;
        covered.reserve(p.Data.size() + 1);
        covered.push_back(p.Number);
        covered.insert(covered.end(), p.Data.begin(), p.Data.end());
        p.CrcOk = Crc16(covered, static_cast<std::int32_t>(p.Data.size())) == p.Crc;
    }
    char head[64];
    std::snprintf(head, sizeof head, "packet %02X from the utility, %zu data bytes, CRC %s: ", p.Number, p.Data.size(),
                  p.CrcOk ? "right" : "WRONG");
    EventLocked(head + HexText(p.Data));

    if (p.Number == kPacketConfirm && p.CrcOk) {
        // A purge read just ahead of the packet (packet mode reports status
        // before pending data) was the one after it, not a new wait.
        std::erase_if(m_scheduled, [](const Scheduled& s) { return s.Greeting; });
        m_ignorePurgeUntil = now + kPurgeAfterConfirm;
        ScheduleAnswerLocked(now);
    } else if (p.Number == kPacketProgram && p.CrcOk && p.Data.size() == static_cast<std::size_t>(kBlockSize)) {
        if (m_config.KeepsProgrammed) {
            m_config.Block = p.Data;
            if (m_config.StoreFlip >= 0 && m_config.StoreFlip < kBlockSize)
                m_config.Block[static_cast<std::size_t>(m_config.StoreFlip)] ^= 0x04;
            EventLocked("keeps the programmed block");
        }
    } else if (p.Number == kPacketClosing && p.CrcOk) {
        ++m_goodbyes;
    }
    if (m_packets.size() < kMaxPackets)
        m_packets.push_back(std::move(p));
}
}  // namespace vostrel

// The receive path from raw line bytes: greeting collection and test, the
// confirmation, the one-second collection of the parameter packet, taking the
// block out, undoing DLE doubling and decoding it over a previous set, and the
// checked extraction the window uses instead.
//
// Input: byte 0 the clock step per tick reading (1..8 ms), bytes 1..4 the
// tick counter at the start (little-endian, so the 32-bit wrap is reached),
// byte 5 how many waiting bytes the purge discards, byte 6 the previous flow
// control and air speed codes, byte 7 a gap period (every n-th poll finds
// nothing waiting; 0 none); the rest is what the station sends.
#include "FuzzCheck.h"

#include "Packets.h"
#include "ParamBlock.h"
#include "Utils.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

using namespace vostrel;

namespace {

constexpr std::size_t kHeaderSize = 8;

// Hands out the station's bytes one per poll, apart from the gap polls.
class TStreamPort : public IBytePort {
public:
    TStreamPort(const std::uint8_t* data, std::size_t size, std::size_t purgeDrop, unsigned gapPeriod)
        : m_data(data), m_size(size), m_purgeDrop(purgeDrop), m_gapPeriod(gapPeriod)
    {}

    std::int32_t WriteBytes(const std::uint8_t* buf, std::int32_t count) override
    {
        FUZZ_CHECK(count == 1);
        Written.insert(Written.end(), buf, buf + count);
        return count;
    }

    std::int32_t ReadBytes(std::uint8_t* buf, std::int32_t count) override
    {
        FUZZ_CHECK(count >= 1);
        ++Polls;
        if (m_gapPeriod != 0 && Polls % m_gapPeriod == 0) {
            return 0;
        }
        if (m_pos == m_size) {
            return 0;
        }
        buf[0] = m_data[m_pos++];
        Delivered.push_back(buf[0]);
        return 1;
    }

    void PurgeInput() override { m_pos += std::min(m_purgeDrop, m_size - m_pos); }

    std::int32_t InputCount() override { return static_cast<std::int32_t>(m_size - m_pos); }

    // Starts a new collection's bookkeeping.
    void Mark()
    {
        Polls = 0;
        Delivered.clear();
    }

    std::size_t Polls = 0;
    TByteArray Delivered;
    TByteArray Written;

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_pos = 0;
    std::size_t m_purgeDrop;
    unsigned m_gapPeriod;
};

// Every reading of the clock moves it on by a fixed step, so collections end.
class TFakeHost : public ILinkHost {
public:
    TFakeHost(std::uint32_t start, std::uint32_t step) : m_now(start), m_step(step) {}

    void AppendLog(const std::string& line) override { Log.push_back(line); }
    void ProcessMessages() override { ++Passes; }
    std::uint32_t GetTickCount() override
    {
        const std::uint32_t t = m_now;
        m_now += m_step;  // wraps like the real counter
        return t;
    }
    void Sleep(std::uint32_t ms) override
    {
        ++Sleeps;
        m_now += ms;
    }

    void Mark()
    {
        Log.clear();
        Passes = 0;
        Sleeps = 0;
    }

    std::vector<std::string> Log;
    std::size_t Passes = 0;
    std::size_t Sleeps = 0;

private:
    std::uint32_t m_now;
    std::uint32_t m_step;
};

void CheckByteLines(const TFakeHost& host, const TByteArray& bytes)
{
    FUZZ_CHECK(host.Log.size() == bytes.size());
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        FUZZ_CHECK(host.Log[i] == ByteLine(bytes[i]));
    }
}

// Each run of k bytes 0x10 comes out as (k + 1) / 2; other bytes pass as they are.
TByteArray UndoneByRuns(const TByteArray& in)
{
    TByteArray out;
    std::size_t i = 0;
    while (i < in.size()) {
        if (in[i] != kDle) {
            out.push_back(in[i++]);
            continue;
        }
        std::size_t run = 0;
        while (i < in.size() && in[i] == kDle) {
            ++run;
            ++i;
        }
        out.insert(out.end(), (run + 1) / 2, kDle);
    }
    return out;
}

TByteArray Doubled(const TByteArray& in)
{
    TByteArray out;
    for (std::uint8_t b : in) {
        out.push_back(b);
        if (b == kDle) {
            out.push_back(b);
        }
    }
    return out;
}

// A packet as the station writes it: 0x10 doubled after the number and before
// the closing DLE.
TByteArray AsWritten(const TByteArray& packet)
{
    TByteArray line;
    for (std::size_t i = 0; i < packet.size(); ++i) {
        line.push_back(packet[i]);
        if (i >= 2 && i + 2 < packet.size() && packet[i] == kDle) {
            line.push_back(kDle);
        }
    }
    return line;
}

class TCountingLog : public ILogSink {
public:
    void AppendLog(const std::string& line) override { Lines += !line.empty(); }
    std::size_t Lines = 0;
};

bool SameSet(const TParameterSet& a, const TParameterSet& b)
{
    return a.StepCode == b.StepCode && a.RxFreq == b.RxFreq && a.TxFreq == b.TxFreq && a.Simplex == b.Simplex &&
           a.PowerCode == b.PowerCode && a.BaudCode == b.BaudCode && a.FlowCode == b.FlowCode &&
           a.XoffAfter == b.XoffAfter && a.RxPause == b.RxPause && a.AirSpeedCode == b.AirSpeedCode &&
           a.KodCode == b.KodCode && a.KodPaketSize == b.KodPaketSize;
}

void CheckDecoded(const TByteArray& block, const TParameterSet& previous)
{
    TParameterSet out;
    out.XoffAfter = -1.0L;  // a value decoding can never give
    const bool decoded = DecodeBlock(block, previous, out);
    FUZZ_CHECK(decoded == (block.size() >= static_cast<std::size_t>(kBlockUserBytes)));
    if (!decoded) {
        FUZZ_CHECK(out.XoffAfter == -1.0L);
        return;
    }

    const unsigned mode = block[12];
    const unsigned power = block[17];
    FUZZ_CHECK(out.StepCode == static_cast<int>(power >> 7));
    FUZZ_CHECK(out.BaudCode == static_cast<int>(mode & 3u));
    FUZZ_CHECK(out.KodCode == static_cast<int>((mode >> 4) & 1u));
    FUZZ_CHECK(out.FlowCode >= 0 && out.FlowCode <= 2);
    FUZZ_CHECK(out.AirSpeedCode >= 0 && out.AirSpeedCode <= 2);
    if (((mode >> 2) & 3u) == 3) {
        FUZZ_CHECK(out.FlowCode == previous.FlowCode);
    }
    if (((mode >> 5) & 3u) == 3) {
        FUZZ_CHECK(out.AirSpeedCode == previous.AirSpeedCode);
    }
    FUZZ_CHECK(out.KodPaketSize == block[13]);
    FUZZ_CHECK(out.XoffAfter == block[16]);
    FUZZ_CHECK(out.RxPause >= 0.0L && out.RxPause <= 195.3L);

    // Receive frequencies come from 18-bit words less 45000 kHz, transmit
    // frequencies from the words alone, both in 12,5 kHz steps.
    constexpr long double kTopWord = 262143.0L;
    for (std::size_t ch = 0; ch < 2; ++ch) {
        FUZZ_CHECK(out.PowerCode[ch] >= 1 && out.PowerCode[ch] <= 3);
        const long double rx = out.RxFreq[ch];
        const long double tx = out.TxFreq[ch];
        FUZZ_CHECK(std::isfinite(rx) && std::isfinite(tx));
        FUZZ_CHECK(rx >= -45000.0L && rx <= kTopWord * 12.5L - 45000.0L);
        FUZZ_CHECK(tx >= 0.0L && tx <= kTopWord * 12.5L);
        FUZZ_CHECK(out.Simplex[ch] == (rx == tx));
        FUZZ_CHECK(std::fmod((rx + 45000.0L) * 10.0L, 125.0L) == 0.0L);
        FUZZ_CHECK(std::fmod(tx * 10.0L, 125.0L) == 0.0L);
    }

    // Bytes past the user part never change the result.
    TByteArray user(block.begin(), block.begin() + kBlockUserBytes);
    TParameterSet shortOut;
    FUZZ_CHECK(DecodeBlock(user, previous, shortOut));
    FUZZ_CHECK(SameSet(shortOut, out));

    // Programming the shown values straight back gives the same words and
    // fields; only reserved bits and the "keep" value 3 are normalised.
    TCountingLog log;
    const TByteArray again = EncodeBlock(out, log);
    FUZZ_CHECK(again.size() == static_cast<std::size_t>(kBlockSize));
    FUZZ_CHECK(log.Lines == 8);
    for (std::size_t at = 0; at < 12; at += 3) {
        FUZZ_CHECK(again[at] == (block[at] & 0x0F));
        FUZZ_CHECK(again[at + 1] == block[at + 1]);
        FUZZ_CHECK(again[at + 2] == ((block[at + 2] & 0xFC) | 1));
    }
    unsigned expectMode = mode & 0x13u;  // bit 7 cleared, flow and air from the set
    expectMode |= static_cast<unsigned>(out.FlowCode) << 2;
    expectMode |= static_cast<unsigned>(out.AirSpeedCode) << 5;
    FUZZ_CHECK(again[12] == expectMode);
    FUZZ_CHECK(again[13] == block[13]);
    FUZZ_CHECK(again[14] == block[14] && again[15] == block[15]);
    FUZZ_CHECK(again[16] == block[16]);
    unsigned expectPower = (power & 0x80u) | 0x4Cu;
    expectPower |= static_cast<unsigned>(out.PowerCode[0]);
    expectPower |= static_cast<unsigned>(out.PowerCode[1]) << 4;
    FUZZ_CHECK(again[17] == expectPower);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < kHeaderSize) {
        return 0;
    }
    const std::uint32_t step = 1u + data[0] % 8u;
    const std::uint32_t start = static_cast<std::uint32_t>(data[1]) | static_cast<std::uint32_t>(data[2]) << 8 |
                                static_cast<std::uint32_t>(data[3]) << 16 | static_cast<std::uint32_t>(data[4]) << 24;
    const std::size_t purgeDrop = data[5] % 16u;
    TParameterSet previous;
    previous.FlowCode = data[6] % 3;
    previous.AirSpeedCode = (data[6] / 3) % 3;
    const unsigned gapPeriod = data[7] % 8u;

    TStreamPort port(data + kHeaderSize, size - kHeaderSize, purgeDrop, gapPeriod);
    TFakeHost host(start, step);

    // Greeting: every poll until an ETX is taken or the 1500 ms are over.
    const std::size_t greetingPasses = 1500 / step + 1;
    const TByteArray greeting = CollectUntilEtx(port, host);
    FUZZ_CHECK(greeting == port.Delivered);
    CheckByteLines(host, greeting);
    FUZZ_CHECK(host.Sleeps == 0);
    const bool endedOnEtx = !greeting.empty() && greeting.back() == kEtx;
    FUZZ_CHECK(std::count(greeting.begin(), greeting.end(), kEtx) == (endedOnEtx ? 1 : 0));
    FUZZ_CHECK(port.Polls <= greetingPasses);
    if (!endedOnEtx) {
        FUZZ_CHECK(port.Polls == greetingPasses);
    }
    FUZZ_CHECK(host.Passes == port.Polls - (endedOnEtx ? 1 : 0));

    const bool valid = IsGreeting(greeting);
    FUZZ_CHECK(valid ==
               (greeting.size() >= 3 && greeting[0] == kDle && greeting[1] == 0x00 && greeting.back() == kEtx));
    if (valid) {
        host.Mark();
        SendPacket(port, host, BuildPacket(kPacketConfirm, {0x00}), true, false);
        const TByteArray confirm{0x10, 0x08, 0x00, 0x06, 0x70, 0x10, 0x03};
        FUZZ_CHECK(port.Written == confirm);
        CheckByteLines(host, confirm);
        FUZZ_CHECK(host.Sleeps == confirm.size() && host.Passes == confirm.size());
    }
    // The block is collected after the purge even when the greeting was
    // rejected, so that whatever followed it reaches the decoder too.
    port.PurgeInput();

    host.Mark();
    port.Mark();
    constexpr std::uint32_t kWindowMs = 1000;
    const TByteArray collected = CollectFor(port, host, kWindowMs);
    FUZZ_CHECK(collected == port.Delivered);
    CheckByteLines(host, collected);
    FUZZ_CHECK(port.Polls == kWindowMs / step + 1);
    FUZZ_CHECK(host.Passes == port.Polls && host.Sleeps == 0);

    const TByteArray block = ExtractBlock(collected);
    const std::size_t n = collected.size();
    FUZZ_CHECK(block.size() == (n >= 7 ? n - 6 : 0));
    if (!block.empty()) {
        FUZZ_CHECK(std::equal(block.begin(), block.end(), collected.begin() + 2));
    }

    const TByteArray undone = UndoDleDoubling(block);
    FUZZ_CHECK(undone.size() <= block.size());
    FUZZ_CHECK(undone == UndoneByRuns(block));
    FUZZ_CHECK(UndoDleDoubling(Doubled(block)) == block);

    CheckDecoded(undone, previous);

    // A block only from a whole packet 01 on the line whose CRC holds.
    TByteArray checked{0x99};
    const TAnswerStatus status = ExtractCheckedBlock(collected, checked);
    FUZZ_CHECK(status == TAnswerStatus::Ok || checked.empty());
    if (status == TAnswerStatus::Ok) {
        FUZZ_CHECK(checked.size() == static_cast<std::size_t>(kBlockSize));
        const TByteArray line = AsWritten(BuildPacket(kPacketParams, checked));
        FUZZ_CHECK(std::search(collected.begin(), collected.end(), line.begin(), line.end()) != collected.end());
        CheckDecoded(checked, previous);
    }

    // What arrived, taken as a station's block: written as the station writes
    // it, it comes back whole, cut short it gives nothing, and with one bit
    // flipped in its data or CRC (the framing kept) it is refused.
    TByteArray own(collected.begin(), collected.begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(n, 34)));
    own.resize(static_cast<std::size_t>(kBlockSize), 0x22);
    const TByteArray packet = BuildPacket(kPacketParams, own);
    const TByteArray line = AsWritten(packet);
    FUZZ_CHECK(ExtractCheckedBlock(line, checked) == TAnswerStatus::Ok && checked == own);
    const std::size_t keep = n % line.size();
    FUZZ_CHECK(ExtractCheckedBlock(TByteArray(line.begin(), line.begin() + static_cast<std::ptrdiff_t>(keep)),
                                   checked) == TAnswerStatus::Missing);
    TByteArray flipped = packet;
    const std::size_t at = 2 + (n + static_cast<std::size_t>(data[0])) % 36;
    flipped[at] ^= static_cast<std::uint8_t>(1u << (data[0] / 8u % 8u));
    if (packet[at] != kDle && flipped[at] != kDle) {
        FUZZ_CHECK(ExtractCheckedBlock(AsWritten(flipped), checked) == TAnswerStatus::Damaged);
    }
    return 0;
}

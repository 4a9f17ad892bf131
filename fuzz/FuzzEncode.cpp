// Block encoding from arbitrary parameter sets: every real may be NaN,
// infinite, huge, negative, off the grid or out of the band, every code out
// of its range. With input byte 0 bit 0 set the four frequencies are first
// rounded to the grid, as programming does.
#include "FuzzCheck.h"
#include "FuzzInput.h"

#include "Packets.h"
#include "ParamBlock.h"
#include "Utils.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

using namespace vostrel;

namespace {

class TLines : public ILogSink {
public:
    void AppendLog(const std::string& line) override { Lines.push_back(line); }
    std::vector<std::string> Lines;
};

// Records what goes on the line.
class TLinePort : public IBytePort {
public:
    std::int32_t WriteBytes(const std::uint8_t* buf, std::int32_t count) override
    {
        Line.insert(Line.end(), buf, buf + count);
        return count;
    }
    std::int32_t ReadBytes(std::uint8_t*, std::int32_t) override { return 0; }
    void PurgeInput() override {}
    std::int32_t InputCount() override { return 0; }
    TByteArray Line;
};

class TQuietHost : public ILinkHost {
public:
    void AppendLog(const std::string&) override { ++Lines; }
    void ProcessMessages() override {}
    std::uint32_t GetTickCount() override { return 0; }
    void Sleep(std::uint32_t) override {}
    std::size_t Lines = 0;
};

// Programming sends the block as packet 09 with DLE doubling; the station,
// undoing the doubling between the number and the closing DLE, must find
// exactly the block and its check sum.
void CheckProgrammingPacket(const TByteArray& block)
{
    const TByteArray packet = BuildPacket(kPacketProgram, block);
    TLinePort port;
    TQuietHost host;
    SendPacket(port, host, packet, false, true);
    FUZZ_CHECK(host.Lines == 0);

    const TByteArray& line = port.Line;
    std::size_t dles = 0;
    for (std::size_t i = 2; i + 2 < packet.size(); ++i) {
        dles += packet[i] == kDle ? 1 : 0;
    }
    FUZZ_CHECK(line.size() == 40 + dles);
    FUZZ_CHECK(line[0] == kDle && line[1] == kPacketProgram);
    FUZZ_CHECK(line[line.size() - 2] == kDle && line.back() == kEtx);

    // Between number and trailer every 0x10 comes in pairs.
    TByteArray undone;
    for (std::size_t i = 2; i + 2 < line.size(); ++i) {
        undone.push_back(line[i]);
        if (line[i] == kDle) {
            FUZZ_CHECK(i + 3 < line.size() && line[i + 1] == kDle);
            ++i;
        }
    }
    FUZZ_CHECK(undone.size() == block.size() + 2);
    FUZZ_CHECK(std::equal(block.begin(), block.end(), undone.begin()));
    TByteArray numbered{kPacketProgram};
    numbered.insert(numbered.end(), block.begin(), block.end());
    const std::uint16_t crc = Crc16(numbered, static_cast<std::int32_t>(block.size()));
    FUZZ_CHECK(undone[block.size()] == (crc >> 8) && undone[block.size() + 1] == (crc & 0xFF));

    // The utility's own undoing of the extracted block agrees on the block.
    const TByteArray back = UndoDleDoubling(ExtractBlock(line));
    FUZZ_CHECK(back.size() >= block.size() && std::equal(block.begin(), block.end(), back.begin()));
}

const long double kSpecials[] = {
    std::numeric_limits<long double>::quiet_NaN(),
    -std::numeric_limits<long double>::quiet_NaN(),
    std::numeric_limits<long double>::infinity(),
    -std::numeric_limits<long double>::infinity(),
    0.0L,
    -0.0L,
    LDBL_MAX,
    -LDBL_MAX,
    LDBL_MIN,
    std::numeric_limits<long double>::denorm_min(),
    9.3e18L,  // just past the 64-bit integers
    -9.3e18L,
    9.2233720368547758e17L,
    2147483648.0L,
    -0.5L,
    0.5L,
    254.5L,
    255.5L,
    256.0L,
    195.29L,
    195.3L,
    65535.5L * 0.00298L,
    140000.0L,
    174000.0L,
    139999.95L,
    150012.5L,
    150006.25L,
    3231787.5L,  // the top receive word
    3276787.5L,  // the top transmit word
    -45000.0L,
};

// A real: raw bits, a special value, a value within lo..hi, or a typed
// decimal with up to two places.
long double Real(TByteReader& in, long double lo, long double hi)
{
    const std::uint8_t tag = in.Byte();
    switch (tag % 4) {
    case 0:
        return in.RawExtended();
    case 1:
        return kSpecials[(tag / 4) % (sizeof kSpecials / sizeof kSpecials[0])];
    case 2: {
        const long double frac = static_cast<long double>(in.U32()) / 4294967296.0L;
        return lo + frac * (hi - lo);
    }
    default: {
        const auto n = static_cast<std::int32_t>(in.U32());
        return static_cast<long double>(n) / (tag & 4 ? 100.0L : 10.0L);
    }
    }
}

// A code, mostly within lo..hi, sometimes any 32-bit integer.
int Code(TByteReader& in, int lo, int hi)
{
    const std::uint8_t b = in.Byte();
    if (b < 0xC0) {
        return lo + b % (hi - lo + 1);
    }
    return static_cast<int>(static_cast<std::int32_t>(in.U32()));
}

// Rounded ties to even and limited to 0..top; NaN gives 0.
unsigned ClampedCount(long double x, long double top)
{
    if (std::isnan(x)) {
        return 0;
    }
    const long double r = std::nearbyint(x);
    if (r <= 0.0L) {
        return 0;
    }
    return r >= top ? static_cast<unsigned>(top) : static_cast<unsigned>(r);
}

std::int32_t WordAt(const TByteArray& block, std::size_t at)
{
    return static_cast<std::int32_t>(((block[at] & 0x0Fu) << 16 | block[at + 1] << 8 | block[at + 2]) >> 2);
}

bool Sane(long double kHz)
{
    return kHz >= 0.0L && kHz <= 3200000.0L;
}

void CheckGrid(long double kHz, int stepCode, long double rounded)
{
    if (!(std::fabs(kHz) < 1e15L)) {
        return;  // beyond the 100 Hz integers the grid means nothing
    }
    const long double g = stepCode == 0 ? 250.0L : 125.0L;
    FUZZ_CHECK(std::fmod(rounded * 10.0L, g) == 0.0L);
    // Half a step either way; a negative value is cut towards zero.
    const long double reach = (kHz >= 0.0L ? g / 20.0L : g / 10.0L) + 0.05L;
    FUZZ_CHECK(std::fabs(rounded - kHz) <= reach + std::fabs(kHz) * 1e-18L);
    FUZZ_CHECK(RoundToGrid(rounded, stepCode) == rounded);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    TByteReader in(data, size);
    const bool toGrid = (in.Byte() & 1) != 0;

    TParameterSet set;
    set.StepCode = Code(in, 0, 1);
    for (std::size_t ch = 0; ch < 2; ++ch) {
        set.RxFreq[ch] = Real(in, 140000.0L, 174000.0L);
        set.TxFreq[ch] = Real(in, 140000.0L, 174000.0L);
        set.PowerCode[ch] = Code(in, 1, 3);
    }
    set.BaudCode = Code(in, 0, 3);
    set.FlowCode = Code(in, 0, 2);
    set.XoffAfter = Real(in, 0.0L, 255.0L);
    set.RxPause = Real(in, 0.0L, 195.29L);
    set.AirSpeedCode = Code(in, 0, 2);
    set.KodCode = Code(in, 0, 1);
    set.KodPaketSize = Real(in, 0.0L, 255.0L);

    if (toGrid) {
        for (std::size_t ch = 0; ch < 2; ++ch) {
            const long double rx = RoundToGrid(set.RxFreq[ch], set.StepCode);
            const long double tx = RoundToGrid(set.TxFreq[ch], set.StepCode);
            CheckGrid(set.RxFreq[ch], set.StepCode, rx);
            CheckGrid(set.TxFreq[ch], set.StepCode, tx);
            set.RxFreq[ch] = rx;
            set.TxFreq[ch] = tx;
        }
    }

    TLines log;
    const TByteArray block = EncodeBlock(set, log);
    FUZZ_CHECK(block.size() == static_cast<std::size_t>(kBlockSize));

    // Eight calibration lines, for bytes 24 to 31 in block order.
    FUZZ_CHECK(log.Lines.size() == 8);
    for (std::size_t k = 0; k < log.Lines.size(); ++k) {
        FUZZ_CHECK(log.Lines[k] == "p1_calculate=" + std::to_string(block[24 + k]));
    }

    CheckProgrammingPacket(block);

    // Fixed bits of the words, the mode byte and the power byte.
    for (std::size_t at = 0; at < 12; at += 3) {
        FUZZ_CHECK((block[at] & 0xF0) == 0);
        FUZZ_CHECK((block[at + 2] & 0x03) == 1);
    }
    const unsigned mode = block[12];
    const unsigned power = block[17];
    FUZZ_CHECK((mode & 0x80u) == 0);
    FUZZ_CHECK((power & 0x4Cu) == 0x4Cu);

    // Codes within their ranges land in their fields unchanged.
    auto inRange = [](int code, int lo, int hi) { return code >= lo && code <= hi; };
    if (inRange(set.BaudCode, 0, 3))
        FUZZ_CHECK((mode & 3u) == static_cast<unsigned>(set.BaudCode));
    if (inRange(set.FlowCode, 0, 2))
        FUZZ_CHECK(((mode >> 2) & 3u) == static_cast<unsigned>(set.FlowCode));
    if (inRange(set.KodCode, 0, 1))
        FUZZ_CHECK(((mode >> 4) & 1u) == static_cast<unsigned>(set.KodCode));
    if (inRange(set.AirSpeedCode, 0, 2))
        FUZZ_CHECK(((mode >> 5) & 3u) == static_cast<unsigned>(set.AirSpeedCode));
    if (inRange(set.StepCode, 0, 1))
        FUZZ_CHECK((power >> 7) == static_cast<unsigned>(set.StepCode));
    if (inRange(set.PowerCode[0], 1, 3))
        FUZZ_CHECK((power & 3u) == static_cast<unsigned>(set.PowerCode[0]));
    if (inRange(set.PowerCode[1], 1, 3))
        FUZZ_CHECK(((power >> 4) & 3u) == static_cast<unsigned>(set.PowerCode[1]));

    // Counts and the pause are rounded and clamped into their widths.
    FUZZ_CHECK(block[13] == ClampedCount(set.KodPaketSize, 255.0L));
    FUZZ_CHECK(block[16] == ClampedCount(set.XoffAfter, 255.0L));
    const unsigned pause = static_cast<unsigned>(block[14]) << 8 | block[15];
    FUZZ_CHECK(pause == ClampedCount(set.RxPause / 0.00298L, 65535.0L));

    // Frequencies a word can carry come back from the block: exactly when on
    // the grid, within one 12,5 kHz step otherwise.
    bool allSane = true;
    for (std::size_t ch = 0; ch < 2; ++ch) {
        allSane = allSane && Sane(set.RxFreq[ch]) && Sane(set.TxFreq[ch]);
    }
    if (!allSane) {
        return 0;
    }
    TParameterSet back;
    FUZZ_CHECK(DecodeBlock(block, set, back));
    TCalibrationInputs cal;
    for (std::size_t ch = 0; ch < 2; ++ch) {
        const bool simplex = std::fabs(set.TxFreq[ch] - set.RxFreq[ch]) < 0.001L;
        const long double tx = simplex ? set.RxFreq[ch] : set.TxFreq[ch];
        if (toGrid) {
            FUZZ_CHECK(back.RxFreq[ch] == set.RxFreq[ch]);
            FUZZ_CHECK(back.TxFreq[ch] == tx);
            FUZZ_CHECK(back.Simplex[ch] == simplex);
        } else {
            FUZZ_CHECK(back.RxFreq[ch] <= set.RxFreq[ch] + 0.05L && back.RxFreq[ch] > set.RxFreq[ch] - 12.55L);
            FUZZ_CHECK(back.TxFreq[ch] <= tx + 0.05L && back.TxFreq[ch] > tx - 12.55L);
        }
        cal.RxWord[ch] = WordAt(block, 3 * ch);
        cal.TxWord[ch] = WordAt(block, 6 + 3 * ch);
        cal.Simplex[ch] = simplex;
    }
    cal.Power[0] = static_cast<std::uint8_t>(power & 3u);
    cal.Power[1] = static_cast<std::uint8_t>((power >> 4) & 3u);
    TLines again;
    const auto calibration = ComputeCalibrationBytes(cal, again);
    for (std::size_t k = 0; k < calibration.size(); ++k) {
        FUZZ_CHECK(block[18 + k] == calibration[k]);
    }
    return 0;
}

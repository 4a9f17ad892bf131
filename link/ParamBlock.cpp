#include "ParamBlock.h"

#include "Utils.h"

#include <cmath>

using namespace vostrel;

namespace {

constexpr long double kPauseUnitMs = 0.00298L;

// Rounds ties to even and saturates into lo..hi; NaN gives lo. Clamping the
// real first keeps the integer conversion inside its range.
std::int64_t RoundClamped(long double x, std::int64_t lo, std::int64_t hi)
{
    if (!(x >= static_cast<long double>(lo))) {
        return lo;
    }
    if (x >= static_cast<long double>(hi) + 1.0L) {
        return hi;
    }
    const std::int64_t v = std::llrintl(x);
    return v < lo ? lo : (v > hi ? hi : v);
}

// Three bytes, high first, of the 20-bit field (N * 4 + 1).
void PutWord(TByteArray& block, std::size_t at, std::int32_t word)
{
    const auto field = static_cast<std::uint32_t>((static_cast<std::int64_t>(word) * 4 + 1) & 0xFFFFF);
    block[at] = static_cast<std::uint8_t>(field >> 16);
    block[at + 1] = static_cast<std::uint8_t>((field >> 8) & 0xFF);
    block[at + 2] = static_cast<std::uint8_t>(field & 0xFF);
}

std::int32_t GetWord(const TByteArray& block, std::size_t at)
{
    const std::uint32_t field = (static_cast<std::uint32_t>(block[at] & 0x0F) << 16) |
                                (static_cast<std::uint32_t>(block[at + 1]) << 8) | block[at + 2];
    return static_cast<std::int32_t>(field >> 2);
}

int PowerCodeFromBits(unsigned bits)
{
    return bits <= 1 ? 1 : static_cast<int>(bits);
}

// Codes go into their bit fields as given, limited to the field's width.
std::uint8_t Bits(int code, unsigned mask)
{
    return static_cast<std::uint8_t>(static_cast<unsigned>(code) & mask);
}

}  // namespace

std::uint16_t vostrel::RxPauseToUnits(long double ms)
{
    const long double units = ms / kPauseUnitMs;
    return static_cast<std::uint16_t>(RoundClamped(units, 0, 65535));
}

long double vostrel::RxPauseFromUnits(std::uint16_t units)
{
    const long double u = units;
    return u * kPauseUnitMs;
}

std::uint8_t vostrel::ByteCountToByte(long double count)
{
    return static_cast<std::uint8_t>(RoundClamped(count, 0, 255));
}

bool vostrel::DecodeBlock(const TByteArray& block, const TParameterSet& previous, TParameterSet& out)
{
    if (block.size() < static_cast<std::size_t>(kBlockUserBytes)) {
        return false;
    }
    TParameterSet s = previous;
    for (std::size_t ch = 0; ch < 2; ++ch) {
        s.RxFreq[ch] = RxWordToFreq(GetWord(block, 0 + 3 * ch));
        s.TxFreq[ch] = TxWordToFreq(GetWord(block, 6 + 3 * ch));
        // Both come from exact 100 Hz counts, so equality is exact.
        s.Simplex[ch] = s.RxFreq[ch] == s.TxFreq[ch];
    }
    const unsigned power = block[17];
    s.PowerCode[0] = PowerCodeFromBits(power & 3u);
    s.PowerCode[1] = PowerCodeFromBits((power >> 4) & 3u);
    s.StepCode = static_cast<int>((power >> 7) & 1u);

    const unsigned mode = block[12];
    s.BaudCode = static_cast<int>(mode & 3u);
    if (const unsigned flow = (mode >> 2) & 3u; flow != 3) {
        s.FlowCode = static_cast<int>(flow);
    }
    if (const unsigned air = (mode >> 5) & 3u; air != 3) {
        s.AirSpeedCode = static_cast<int>(air);
    }
    s.KodCode = static_cast<int>((mode >> 4) & 1u);

    s.KodPaketSize = block[13];
    s.XoffAfter = block[16];
    s.RxPause = RxPauseFromUnits(static_cast<std::uint16_t>(block[14] << 8 | block[15]));
    out = s;
    return true;
}

long double vostrel::RoundToGrid(long double kHz, int stepCode)
{
    const long double scaled = kHz * 10.0L;
    const std::int64_t v = std::llrintl(scaled);
    const std::int64_t g = stepCode == 0 ? 250 : 125;
    const std::int64_t half = stepCode == 0 ? 125 : 63;
    const std::int64_t r = v % g;
    std::int64_t grid = (v / g) * g;
    if (r >= half) {
        grid += g;
    }
    return static_cast<long double>(grid) / 10.0L;
}

TByteArray vostrel::EncodeBlock(const TParameterSet& set, ILogSink& log)
{
    TCalibrationInputs cal;
    for (std::size_t ch = 0; ch < 2; ++ch) {
        const long double diff = std::fabs(set.TxFreq[ch] - set.RxFreq[ch]);
        cal.Simplex[ch] = diff < 0.001L;
    }
    for (std::size_t ch = 0; ch < 2; ++ch) {
        cal.RxWord[ch] = RxFreqToWord(set.RxFreq[ch]);
        cal.TxWord[ch] = TxFreqToWord(cal.Simplex[ch] ? set.RxFreq[ch] : set.TxFreq[ch]);
    }

    const auto mode = static_cast<std::uint8_t>(Bits(set.AirSpeedCode, 3) * 32 + Bits(set.KodCode, 1) * 16 +
                                                Bits(set.FlowCode, 3) * 4 + Bits(set.BaudCode, 3));
    const std::uint16_t pause = RxPauseToUnits(set.RxPause);
    const auto power = static_cast<std::uint8_t>(Bits(set.StepCode, 1) * 128 + 64 + Bits(set.PowerCode[1], 3) * 16 +
                                                 12 + Bits(set.PowerCode[0], 3));
    cal.Power[0] = static_cast<std::uint8_t>(power & 3u);
    cal.Power[1] = static_cast<std::uint8_t>((power >> 4) & 3u);
    const std::array<std::uint8_t, 16> calibration = ComputeCalibrationBytes(cal, log);

    TByteArray block(kBlockSize, 0);
    PutWord(block, 0, cal.RxWord[0]);
    PutWord(block, 3, cal.RxWord[1]);
    PutWord(block, 6, cal.TxWord[0]);
    PutWord(block, 9, cal.TxWord[1]);
    block[12] = mode;
    block[13] = ByteCountToByte(set.KodPaketSize);
    block[14] = static_cast<std::uint8_t>(pause >> 8);
    block[15] = static_cast<std::uint8_t>(pause & 0xFF);
    block[16] = ByteCountToByte(set.XoffAfter);
    block[17] = power;
    for (std::size_t k = 0; k < calibration.size(); ++k) {
        block[18 + k] = calibration[k];
    }
    return block;
}

TByteArray vostrel::WithCalibration(const TByteArray& block, ILogSink& log)
{
    if (block.size() < static_cast<std::size_t>(kBlockUserBytes)) {
        return {};
    }
    TCalibrationInputs cal;
    for (std::size_t ch = 0; ch < 2; ++ch) {
        cal.RxWord[ch] = GetWord(block, 0 + 3 * ch);
        cal.TxWord[ch] = GetWord(block, 6 + 3 * ch);
        // The frequencies are equal exactly when the words are 45000 kHz apart.
        cal.Simplex[ch] = cal.TxWord[ch] == cal.RxWord[ch] - 3600;
    }
    cal.Power[0] = static_cast<std::uint8_t>(block[17] & 3u);
    cal.Power[1] = static_cast<std::uint8_t>((block[17] >> 4) & 3u);
    const std::array<std::uint8_t, 16> calibration = ComputeCalibrationBytes(cal, log);

    TByteArray out(block.begin(), block.begin() + kBlockUserBytes);
    out.insert(out.end(), calibration.begin(), calibration.end());
    return out;
}

#include "Utils.h"

#include <array>
#include <cmath>
#include <string>

using namespace vostrel;

namespace {

// Bit-by-bit reflected remainder for polynomial 0xA001, bytes exchanged so the
// table works on the swapped register.
constexpr std::uint16_t SwappedTableEntry(std::uint32_t i)
{
    std::uint32_t c = i;
    for (int bit = 0; bit < 8; ++bit) {
        c = (c & 1u) != 0 ? (c >> 1) ^ 0xA001u : c >> 1;
    }
    return static_cast<std::uint16_t>(((c & 0xFFu) << 8) | (c >> 8));
}

constexpr std::array<std::uint16_t, 256> MakeCrcTable()
{
    std::array<std::uint16_t, 256> t{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        t[i] = SwappedTableEntry(i);
    }
    return t;
}

constexpr std::array<std::uint16_t, 256> kCrcTable = MakeCrcTable();

static_assert(kCrcTable[0] == 0x0000 && kCrcTable[1] == 0xC1C0 && kCrcTable[2] == 0x81C1 && kCrcTable[3] == 0x4001 &&
              kCrcTable[7] == 0x41C2 && kCrcTable[255] == 0x4040);

}  // namespace

std::uint16_t Crc16(const TByteArray& data, std::int32_t high)
{
    // The count wraps to 16 bits unsigned, as the register width does.
    const auto count = static_cast<std::uint16_t>(high + 1);
    std::uint16_t r = 0xFFFF;
    for (std::size_t k = 0; k < count && k < data.size(); ++k) {
        const unsigned i = (data[k] ^ (r >> 8)) & 0xFFu;
        r = static_cast<std::uint16_t>(kCrcTable[i] ^ ((r << 8) & 0xFFFFu));
    }
    return r;
}

namespace {

// Nearest integer, ties to even, in the default rounding mode.
std::int64_t RoundEven(long double x)
{
    return std::llrintl(x);
}

// Low 8 bits of a two's complement integer.
std::uint8_t LowByte(std::int64_t v)
{
    return static_cast<std::uint8_t>(static_cast<std::uint64_t>(v) & 0xFFu);
}

// A double constant carried into the extended computation.
constexpr long double Dbl(double v)
{
    return static_cast<long double>(v);
}

// Whole 400 kHz steps of the word above 138 000 kHz, wrapping on 8 bits.
std::uint8_t BandStep(std::int32_t word, std::int32_t base)
{
    const std::int32_t q = word / 32;
    return LowByte(static_cast<std::int64_t>(q) - base);
}

std::int32_t HundredHzToWord(long double kHz)
{
    const long double tenths = kHz * 10.0L;
    return static_cast<std::int32_t>(RoundEven(tenths) / 125);
}

}  // namespace

std::int32_t vostrel::RxFreqToWord(long double kHz)
{
    const long double shifted = kHz + 45000.0L;
    return HundredHzToWord(shifted);
}

std::int32_t vostrel::TxFreqToWord(long double kHz)
{
    return HundredHzToWord(kHz);
}

long double vostrel::RxWordToFreq(std::int32_t word)
{
    const std::int64_t tenths = static_cast<std::int64_t>(word) * 125 - 450000;
    return static_cast<long double>(tenths) / 10.0L;
}

long double vostrel::TxWordToFreq(std::int32_t word)
{
    const std::int64_t tenths = static_cast<std::int64_t>(word) * 125;
    return static_cast<long double>(tenths) / 10.0L;
}

std::uint8_t CalcLinear(std::int32_t word, std::uint8_t power)
{
    struct Row {
        long double m;
        int a;
        int s;
    };
    static constexpr Row kRows[4] = {{-0.26L, 113, 121}, {-0.21L, 76, 87}, {-0.13L, 32, 44}, {-0.1L, 12, 25}};
    const Row& row = kRows[power & 3u];
    const long double i = BandStep(word, 89);
    const long double product = i * row.m;
    const long double sum = product + row.a;
    const long double r = sum - row.s;
    // This formula alone passes through double before the integer conversion.
    const double rd = static_cast<double>(r);
    return LowByte(std::llrint(rd));
}

std::uint8_t CalcQuadratic(std::int32_t word)
{
    const long double i = BandStep(word, 88);
    const long double scaled = i * 0.01L;
    const long double square = scaled * i;
    const long double linear = i * 0.33L;
    const long double sum = square + linear;
    const long double r = sum - 42;
    return LowByte(RoundEven(r));
}

std::uint8_t CalcRanged(std::int32_t word)
{
    const std::uint8_t step = BandStep(word, 89);
    // Steps outside 5..90 take the constants of the nearest range.
    long double k = Dbl(-0.6);
    int c = 79;
    if (step >= 55) {
        k = Dbl(-0.11);
        c = 61;
    } else if (step >= 30) {
        k = Dbl(-0.38);
        c = 75;
    }
    const long double i = step;
    const long double product = i * k;
    const long double r = product + c;
    return LowByte(RoundEven(r));
}

std::uint8_t CalcP1(std::int32_t word, std::uint8_t variant, std::uint8_t power, long double selector, ILogSink& log)
{
    struct Constants {
        long double k1;
        int k2;
        int k3;
        int k4;
    };
    // [set][power][variant]; set 0 is A (rising), 1 is B (falling).
    static constexpr Constants kSets[2][4][2] = {
        {
            {{Dbl(0.4), 0, 232, 244}, {Dbl(0.4), 0, 232, 244}},
            {{Dbl(0.5), 0, 205, 203}, {Dbl(0.5), 0, 205, 203}},
            {{Dbl(0.5), 28, 159, 171}, {Dbl(0.5), 28, 138, 171}},
            {{Dbl(0.5), 14, 159, 155}, {Dbl(0.5), 14, 138, 155}},
        },
        {
            {{Dbl(-0.35), 0, 268, 244}, {Dbl(-0.35), 0, 268, 244}},
            {{Dbl(-0.6), 0, 254, 203}, {Dbl(-0.6), 0, 233, 203}},
            {{Dbl(-0.1), 28, 209, 171}, {Dbl(-0.6), 28, 187, 171}},
            {{Dbl(-0.1), 14, 209, 155}, {Dbl(-0.6), 14, 187, 155}},
        },
    };
    const int set = selector > 45 ? 0 : 1;
    const Constants& c = kSets[set][power & 3u][variant & 1u];
    const long double i = BandStep(word, 89);
    const long double product = i * c.k1;
    const long double s1 = product + c.k2;
    const long double s2 = s1 + c.k3;
    const long double r = s2 - c.k4;
    const std::uint8_t b = LowByte(RoundEven(r));
    log.AppendLog("p1_calculate=" + std::to_string(static_cast<unsigned>(b)));
    return b;
}

std::array<std::uint8_t, 16> vostrel::ComputeCalibrationBytes(const TCalibrationInputs& in, ILogSink& log)
{
    // Selector values either side of the set boundary: the first CalcP1 call
    // of an action takes set B, every later call set A.
    constexpr long double kSelectorFirst = 0.0L;
    constexpr long double kSelectorLater = 90.0L;
    int p1Calls = 0;
    auto p1 = [&](int channel, std::uint8_t variant, std::uint8_t power) {
        const long double selector = p1Calls++ == 0 ? kSelectorFirst : kSelectorLater;
        return CalcP1(in.TxWord[channel], variant, power, selector, log);
    };
    auto quadraticWord = [&](int channel) {
        return in.Simplex[channel] ? in.TxWord[channel] : in.RxWord[channel] - 3600;
    };

    std::array<std::uint8_t, 16> out{};
    auto at = [&out](int blockByte) -> std::uint8_t& { return out[blockByte - 18]; };
    at(22) = CalcQuadratic(quadraticWord(0));
    at(23) = CalcQuadratic(quadraticWord(1));
    at(32) = CalcRanged(in.TxWord[0]);
    at(33) = CalcRanged(in.TxWord[1]);
    at(18) = CalcLinear(in.TxWord[0], in.Power[0]);
    at(19) = CalcLinear(in.TxWord[0], 3);
    at(24) = p1(0, 0, in.Power[0]);
    at(25) = p1(0, 0, 3);
    at(26) = p1(0, 1, in.Power[0]);
    at(27) = p1(0, 1, 3);
    at(20) = CalcLinear(in.TxWord[1], in.Power[1]);
    at(21) = CalcLinear(in.TxWord[1], 3);
    at(28) = p1(1, 0, in.Power[1]);
    at(29) = p1(1, 0, 3);
    at(30) = p1(1, 1, in.Power[1]);
    at(31) = p1(1, 1, 3);
    return out;
}

#include "Utils.h"

#include "FakeLink.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace vostrel {

namespace {

constexpr long double kSetA = 90.0L;
constexpr long double kSetB = 0.0L;

// Words of a few transmit frequencies (kHz / 12.5).
constexpr std::int32_t kW100000 = 8000;   // outside the band, i = 161
constexpr std::int32_t kW140000 = 11200;  // i = 5
constexpr std::int32_t kW142000 = 11360;  // i = 10
constexpr std::int32_t kW174000 = 13920;  // i = 90

std::uint8_t P1(std::int32_t word, int variant, int power, long double selector)
{
    RecordingLog log;
    return CalcP1(word, static_cast<std::uint8_t>(variant), static_cast<std::uint8_t>(power), selector, log);
}

// A second evaluation of the formulas in exact integer arithmetic, apart from
// the library's long double code. Every value is a whole number of 2^-70: the
// smallest constant, 0.01 to 64 bits, has its last bit there, and all the
// formulas do is add integers and multiply by a band step. Each operation
// takes the exact result and rounds it to the stated significand width.
__extension__ typedef __int128 Wide;
__extension__ typedef unsigned __int128 UWide;
constexpr int kFracBits = 70;
constexpr Wide kOne = Wide{1} << kFracBits;
constexpr int kExtBits = 64;
constexpr int kDblBits = 53;

int BitLength(UWide a)
{
    int n = 0;
    for (; a != 0; a >>= 1) {
        ++n;
    }
    return n;
}

// Nearest value with `bits` significant bits, ties to even.
Wide RoundTo(Wide v, int bits)
{
    const bool negative = v < 0;
    UWide a = static_cast<UWide>(negative ? -v : v);
    const int drop = BitLength(a) - bits;
    if (drop <= 0) {
        return v;
    }
    UWide kept = a >> drop;
    const UWide rest = a & ((UWide{1} << drop) - 1);
    const UWide half = UWide{1} << (drop - 1);
    if (rest > half || (rest == half && (kept & 1) != 0)) {
        ++kept;
    }
    a = kept << drop;
    return negative ? -static_cast<Wide>(a) : static_cast<Wide>(a);
}

Wide Ext(Wide v)
{
    return RoundTo(v, kExtBits);
}

// The `bits`-wide value nearest to the decimal num/den.
Wide Nearest(int num, int den, int bits)
{
    const bool negative = num < 0;
    const Wide n = negative ? -num : num;
    int e = 0;
    while ((n << e) / den < (Wide{1} << (bits - 1))) {
        ++e;
    }
    Wide q = (n << e) / den;
    const Wide twiceRest = 2 * ((n << e) % den);
    if (twiceRest > den || (twiceRest == den && (q & 1) != 0)) {
        ++q;
    }
    EXPECT_LE(e, kFracBits) << num << "/" << den;
    const Wide v = q << (kFracBits - e);
    return negative ? -v : v;
}

Wide Whole(int n)
{
    return Wide{n} * kOne;
}

// Nearest integer, ties to even, then its low 8 bits in two's complement.
std::uint8_t ToByte(Wide v)
{
    const bool negative = v < 0;
    const UWide a = static_cast<UWide>(negative ? -v : v);
    UWide whole = a >> kFracBits;
    const UWide rest = a & (static_cast<UWide>(kOne) - 1);
    const UWide half = static_cast<UWide>(kOne) >> 1;
    if (rest > half || (rest == half && (whole & 1) != 0)) {
        ++whole;
    }
    const long long n = negative ? -static_cast<long long>(whole) : static_cast<long long>(whole);
    return static_cast<std::uint8_t>(((n % 256) + 256) % 256);
}

// Quotient truncated toward zero, then the low 8 bits of q - base.
int StepOf(std::int32_t word, int base)
{
    const int q = std::div(word, 32).quot;
    return ((q - base) % 256 + 256) % 256;
}

struct Fraction {
    int num;
    int den;
};

std::uint8_t RefLinear(std::int32_t word, int power)
{
    struct Row {
        Fraction m;  // ext
        int a;
        int s;
    };
    static const Row kRows[4] = {
        {{-26, 100}, 113, 121}, {{-21, 100}, 76, 87}, {{-13, 100}, 32, 44}, {{-1, 10}, 12, 25}};
    const Row& row = kRows[power];
    const Wide i = StepOf(word, 89);
    const Wide r = Ext(Ext(Ext(i * Nearest(row.m.num, row.m.den, kExtBits)) + Whole(row.a)) - Whole(row.s));
    return ToByte(RoundTo(r, kDblBits));
}

std::uint8_t RefQuadratic(std::int32_t word)
{
    const Wide i = StepOf(word, 88);
    const Wide square = Ext(Ext(i * Nearest(1, 100, kExtBits)) * i);
    const Wide linear = Ext(i * Nearest(33, 100, kExtBits));
    return ToByte(Ext(Ext(square + linear) - Whole(42)));
}

// Steps outside 5..90 have no constants of their own; the library takes the
// nearest range's.
std::uint8_t RefRanged(std::int32_t word)
{
    const int i = StepOf(word, 89);
    Fraction k{-11, 100};  // dbl
    int c = 61;
    if (i < 30) {
        k = {-6, 10};
        c = 79;
    } else if (i < 55) {
        k = {-38, 100};
        c = 75;
    }
    return ToByte(Ext(Ext(Wide{i} * Nearest(k.num, k.den, kDblBits)) + Whole(c)));
}

struct P1Row {
    Fraction k1;  // dbl
    int k2, k3, k4;
};

// [set A, set B][power][variant]
const P1Row kP1Rows[2][4][2] = {
    {
        {{{4, 10}, 0, 232, 244}, {{4, 10}, 0, 232, 244}},
        {{{5, 10}, 0, 205, 203}, {{5, 10}, 0, 205, 203}},
        {{{5, 10}, 28, 159, 171}, {{5, 10}, 28, 138, 171}},
        {{{5, 10}, 14, 159, 155}, {{5, 10}, 14, 138, 155}},
    },
    {
        {{{-35, 100}, 0, 268, 244}, {{-35, 100}, 0, 268, 244}},
        {{{-6, 10}, 0, 254, 203}, {{-6, 10}, 0, 233, 203}},
        {{{-1, 10}, 28, 209, 171}, {{-6, 10}, 28, 187, 171}},
        {{{-1, 10}, 14, 209, 155}, {{-6, 10}, 14, 187, 155}},
    },
};

std::uint8_t RefP1(std::int32_t word, int variant, int power, bool setA)
{
    const P1Row& row = kP1Rows[setA ? 0 : 1][power][variant];
    const Wide i = StepOf(word, 89);
    const Wide product = Ext(i * Nearest(row.k1.num, row.k1.den, kDblBits));
    return ToByte(Ext(Ext(Ext(product + Whole(row.k2)) + Whole(row.k3)) - Whole(row.k4)));
}

}  // namespace

// Expected bytes below are worked by hand from the formulas (most are the
// edge cases listed with them); many differ by one if the arithmetic is done
// in double or in exact decimals. The exact reference must agree with each.
TEST(Calibration, LinearQuadraticRangedAtBandEdgesAndOutside)
{
    struct Row {
        const char* name;
        std::int32_t word;
        std::uint8_t linear[4];
        std::uint8_t quadratic;
    } rows[] = {
        {"140000 kHz, -13.5 ties to -14", kW140000, {247, 244, 243, 242}, 216},
        {"174000 kHz", kW174000, {225, 226, 232, 234}, 71},
        {"100000 kHz wraps, quadratic 274", kW100000, {206, 211, 223, 227}, 18},
        // q truncates toward zero: words -1..-31 give q 0, i 167, i' 168;
        // -0.26*167-8 = -51.42, -0.21*167-11 = -46.07, -0.13*167-12 = -33.71,
        // -0.1*167-13 = -29.7; 282.24+55.44-42 = 295.68.
        {"word -1", -1, {205, 210, 222, 226}, 40},
        // q -1, i 166, i' 167: -51.16, -45.86, -33.58, -29.6; 278.89+55.11-42 = 292.
        {"word -32", -32, {205, 210, 222, 226}, 36},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        for (int p = 0; p < 4; ++p) {
            SCOPED_TRACE(p);
            EXPECT_EQ(CalcLinear(row.word, static_cast<std::uint8_t>(p)), row.linear[p]);
            EXPECT_EQ(RefLinear(row.word, p), row.linear[p]);
        }
        EXPECT_EQ(CalcQuadratic(row.word), row.quadratic);
        EXPECT_EQ(RefQuadratic(row.word), row.quadratic);
    }
    // Receive side of the quadratic: exactly -0.5 at 157600 kHz gives 0; one
    // word less is still i' 49 (-1.82).
    struct Quad {
        std::int32_t word;
        std::uint8_t expected;
    } quads[] = {{12608, 0}, {12607, 254}, {12576, 254}};
    for (const Quad& q : quads) {
        SCOPED_TRACE(q.word);
        EXPECT_EQ(CalcQuadratic(q.word), q.expected);
        EXPECT_EQ(RefQuadratic(q.word), q.expected);
    }
}

TEST(Calibration, RangedAcrossItsRangesAndBeyond)
{
    struct Row {
        const char* name;
        std::int32_t word;
        std::uint8_t expected;
    } rows[] = {
        {"140000 kHz, i 5", kW140000, 76},
        {"149987.5 kHz, i 29", 11999, 62},
        {"150000 kHz, i 30", 12000, 64},
        {"159975 kHz, i 54", 12798, 54},
        {"159987.5 kHz, i 54, last word", 12799, 54},
        {"160000 kHz, i 55", 12800, 55},
        {"174000 kHz, i 90, 51.1", kW174000, 51},
        // Outside 5..90 the nearest range's constants hold.
        {"i 0 (below)", 89 * 32, 79},
        {"i 4 (below), 76.6", 93 * 32, 77},
        {"i 91 (above), 50.99", 180 * 32, 51},
        {"i 255 (above), 32.95", 88 * 32, 33},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(CalcRanged(row.word), row.expected);
        EXPECT_EQ(RefRanged(row.word), row.expected);
    }
}

TEST(Calibration, P1TiesAndExtendedPrecision)
{
    struct Row {
        const char* name;
        std::int32_t word;
        int variant;
        int power;
        long double selector;
        std::uint8_t expected;
    } rows[] = {
        {"A p3 v0 20.5 -> 20", kW140000, 0, 3, kSetA, 20},
        {"A p3 v1 -0.5 -> 0", kW140000, 1, 3, kSetA, 0},
        {"A p2 v1 -2.5 -> -2", kW140000, 1, 2, kSetA, 254},
        {"A p2 v0 18.5 -> 18", kW140000, 0, 2, kSetA, 18},
        {"A p1 v0 4.5 -> 4", kW140000, 0, 1, kSetA, 4},
        {"A p1 v1 4.5 -> 4", kW140000, 1, 1, kSetA, 4},
        {"A p0 v0 -10 (0.4 a little above)", kW140000, 0, 0, kSetA, 246},
        {"A p0 v1 i 90 24", kW174000, 1, 0, kSetA, 24},
        {"A p3 v0 outside band 98.5", kW100000, 0, 3, kSetA, 98},
        {"B p2 v0 just below 65.5", kW140000, 0, 2, kSetB, 65},
        {"B p3 v0 just below 67.5", kW140000, 0, 3, kSetB, 67},
        {"B p2 v1 41", kW140000, 1, 2, kSetB, 41},
        {"B p3 v1 43", kW140000, 1, 3, kSetB, 43},
        {"B p1 v0 48", kW140000, 0, 1, kSetB, 48},
        {"B p1 v1 27", kW140000, 1, 1, kSetB, 27},
        {"B p0 i 10 -> 21", kW142000, 0, 0, kSetB, 21},
        {"B p0 i 90 -> -7", kW174000, 1, 0, kSetB, 249},
        {"B p1 v1 i 90 -24", kW174000, 1, 1, kSetB, 232},
        {"selector 45 is set B", kW140000, 0, 3, 45.0L, 67},
        {"selector just above 45 is set A", kW140000, 0, 3, 45.0001L, 20},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        RecordingLog log;
        const std::uint8_t b = CalcP1(row.word, static_cast<std::uint8_t>(row.variant),
                                      static_cast<std::uint8_t>(row.power), row.selector, log);
        EXPECT_EQ(b, row.expected);
        EXPECT_EQ(log.lines, std::vector<std::string>{"p1_calculate=" + std::to_string(row.expected)});
        EXPECT_EQ(RefP1(row.word, row.variant, row.power, row.selector > 45), row.expected);
    }
}

TEST(Calibration, P1SetsOfTheCompleteExample)
{
    // ZPCH1 tx 145575 kHz at 5 W, ZPCH2 tx 160000 kHz at 25 W; bytes 24..31.
    const std::int32_t w1 = 11646;
    const std::int32_t w2 = 12800;
    struct Call {
        std::int32_t word;
        int variant;
        int power;
    } calls[8] = {{w1, 0, 3}, {w1, 0, 3}, {w1, 1, 3}, {w1, 1, 3}, {w2, 0, 1}, {w2, 0, 3}, {w2, 1, 1}, {w2, 1, 3}};
    const std::uint8_t setA[8] = {0x1B, 0x1B, 0x06, 0x06, 0x1E, 0x2E, 0x1E, 0x18};
    const std::uint8_t setB[8] = {0x42, 0x42, 0x23, 0x23, 0x12, 0x3E, 0xFD, 0x0D};
    for (int k = 0; k < 8; ++k) {
        SCOPED_TRACE(24 + k);
        EXPECT_EQ(P1(calls[k].word, calls[k].variant, calls[k].power, kSetA), setA[k]);
        EXPECT_EQ(P1(calls[k].word, calls[k].variant, calls[k].power, kSetB), setB[k]);
    }
}

// Every row of every formula (each power, variant, set and range) for every
// word from below zero to past the band, against the exact reference.
TEST(Calibration, EveryRowMatchesTheExactReference)
{
    struct Formula {
        std::string name;
        std::function<std::uint8_t(std::int32_t)> library;
        std::function<std::uint8_t(std::int32_t)> reference;
    };
    std::vector<Formula> formulas;
    for (int p = 0; p < 4; ++p) {
        formulas.push_back({"linear p" + std::to_string(p),
                            [p](std::int32_t w) { return CalcLinear(w, static_cast<std::uint8_t>(p)); },
                            [p](std::int32_t w) { return RefLinear(w, p); }});
    }
    formulas.push_back({"quadratic", CalcQuadratic, RefQuadratic});
    formulas.push_back({"ranged", CalcRanged, RefRanged});
    for (int set = 0; set < 2; ++set) {
        for (int p = 0; p < 4; ++p) {
            for (int v = 0; v < 2; ++v) {
                const bool setA = set == 0;
                formulas.push_back(
                    {std::string("p1 set ") + (setA ? "A" : "B") + " p" + std::to_string(p) + " v" + std::to_string(v),
                     [=](std::int32_t w) { return P1(w, v, p, setA ? kSetA : kSetB); },
                     [=](std::int32_t w) { return RefP1(w, v, p, setA); }});
            }
        }
    }
    // Words -64..14399 reach every band step of both bases many times over.
    for (const Formula& f : formulas) {
        SCOPED_TRACE(f.name);
        for (std::int32_t word = -64; word < 14400; ++word) {
            const std::uint8_t got = f.library(word);
            const std::uint8_t want = f.reference(word);
            if (got != want) {
                ADD_FAILURE() << "word " << word << ": " << int{got} << ", expected " << int{want};
                break;
            }
        }
    }
}

TEST(Calibration, CompleteExampleBytesAndLogOrder)
{
    TCalibrationInputs in;
    in.TxWord = {11646, 12800};
    in.RxWord = {RxFreqToWord(145575.0L), 15600};
    in.Simplex = {true, false};
    in.Power = {3, 1};
    ASSERT_EQ(in.RxWord[0], 15246);

    RecordingLog log;
    const std::array<std::uint8_t, 16> bytes = ComputeCalibrationBytes(in, log);
    const std::array<std::uint8_t, 16> expected = {0xF1, 0xF1, 0xE9, 0xEE, 0xE0, 0xEA,  // 18..23
                                                   0x42, 0x1B, 0x06, 0x06, 0x1E, 0x2E,
                                                   0x1E, 0x18,   // 24..31, first call set B
                                                   0x44, 0x37};  // 32..33
    EXPECT_EQ(bytes, expected);
    EXPECT_EQ(log.lines,
              (std::vector<std::string>{"p1_calculate=66", "p1_calculate=27", "p1_calculate=6", "p1_calculate=6",
                                        "p1_calculate=30", "p1_calculate=46", "p1_calculate=30", "p1_calculate=24"}));

    // A second action starts over with set B; nothing carries over.
    RecordingLog again;
    EXPECT_EQ(ComputeCalibrationBytes(in, again), expected);
    EXPECT_EQ(again.lines, log.lines);

    // Not simplex: byte 22 follows the receive word, ZPCH1's own (15246 - 3600).
    in.Simplex[0] = false;
    in.RxWord[0] = 12000 + 3600;
    RecordingLog log2;
    EXPECT_EQ(ComputeCalibrationBytes(in, log2)[22 - 18], 0xEA);
}

// The sixteen bytes as a whole, from the table of which formula fills which
// byte, over both channels' words, duplex modes and all power codes.
TEST(Calibration, AllSixteenBytesFollowTheirTable)
{
    enum class F { Linear, Quadratic, Ranged, P1 };
    struct Slot {
        int byte;
        F formula;
        int channel;
        int variant;
        bool ownPower;  // else power code 3
    };
    const Slot slots[16] = {
        {18, F::Linear, 0, 0, true},  {19, F::Linear, 0, 0, false},    {20, F::Linear, 1, 0, true},
        {21, F::Linear, 1, 0, false}, {22, F::Quadratic, 0, 0, false}, {23, F::Quadratic, 1, 0, false},
        {24, F::P1, 0, 0, true},      {25, F::P1, 0, 0, false},        {26, F::P1, 0, 1, true},
        {27, F::P1, 0, 1, false},     {28, F::P1, 1, 0, true},         {29, F::P1, 1, 0, false},
        {30, F::P1, 1, 1, true},      {31, F::P1, 1, 1, false},        {32, F::Ranged, 0, 0, false},
        {33, F::Ranged, 1, 0, false},
    };
    // Transmit and receive words of band edges, range borders and a wrap.
    struct Words {
        std::int32_t tx;
        std::int32_t rx;
    };
    const Words words[] = {
        {11200, 11200 + 3600}, {11646, 15246}, {11999, 12608 + 3600}, {12000, 12607 + 3600},
        {12799, 12576 + 3600}, {12800, 15600}, {13951, 13951 + 3600}, {8000, 8000 + 3600},
    };
    const std::size_t n = std::size(words);
    for (std::size_t a = 0; a < n; ++a) {
        for (int power = 0; power < 16; ++power) {
            for (int simplex = 0; simplex < 4; ++simplex) {
                const Words& w1 = words[a];
                const Words& w2 = words[(a + 3 + static_cast<std::size_t>(power)) % n];
                TCalibrationInputs in;
                in.TxWord = {w1.tx, w2.tx};
                in.RxWord = {w1.rx, w2.rx};
                in.Simplex = {(simplex & 1) != 0, (simplex & 2) != 0};
                in.Power = {static_cast<std::uint8_t>(power & 3), static_cast<std::uint8_t>(power >> 2)};
                SCOPED_TRACE(::testing::Message()
                             << "tx " << in.TxWord[0] << "/" << in.TxWord[1] << " power " << int{in.Power[0]} << "/"
                             << int{in.Power[1]} << " simplex " << simplex);

                std::array<std::uint8_t, 16> expected{};
                std::vector<std::string> lines;
                for (const Slot& s : slots) {
                    const int ch = s.channel;
                    const int code = s.ownPower ? in.Power[ch] : 3;
                    std::uint8_t& b = expected[static_cast<std::size_t>(s.byte - 18)];
                    switch (s.formula) {
                    case F::Linear:
                        b = RefLinear(in.TxWord[ch], code);
                        break;
                    case F::Quadratic:
                        b = RefQuadratic(in.Simplex[ch] ? in.TxWord[ch] : in.RxWord[ch] - 3600);
                        break;
                    case F::Ranged:
                        b = RefRanged(in.TxWord[ch]);
                        break;
                    case F::P1:
                        // The window's blocks: set B for byte 24 only.
                        b = RefP1(in.TxWord[ch], s.variant, code, s.byte != 24);
                        lines.push_back("p1_calculate=" + std::to_string(b));
                        break;
                    }
                }
                RecordingLog log;
                ASSERT_EQ(ComputeCalibrationBytes(in, log), expected);
                ASSERT_EQ(log.lines, lines);
            }
        }
    }
}

}  // namespace vostrel

#include "Utils.h"

#include "FakeLink.h"

#include <gtest/gtest.h>

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

}  // namespace

// Expected bytes below are the worked values of the calibration formulas; many
// differ by one if the arithmetic is done in double or in exact decimals.
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
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        for (std::uint8_t p = 0; p < 4; ++p) {
            SCOPED_TRACE(static_cast<int>(p));
            EXPECT_EQ(CalcLinear(row.word, p), row.linear[p]);
        }
        EXPECT_EQ(CalcQuadratic(row.word), row.quadratic);
    }
    // Receive side of the quadratic: exactly -0.5 at 157600 kHz gives 0.
    EXPECT_EQ(CalcQuadratic(12608), 0);
    EXPECT_EQ(CalcQuadratic(12576), 254);  // 157200 kHz, -1.82
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
        {"A p1 v0 4.5 -> 4", kW140000, 0, 1, kSetA, 4},
        {"A p1 v1 4.5 -> 4", kW140000, 1, 1, kSetA, 4},
        {"A p3 v0 outside band 98.5", kW100000, 0, 3, kSetA, 98},
        {"B p2 v0 just below 65.5", kW140000, 0, 2, kSetB, 65},
        {"B p3 v0 just below 67.5", kW140000, 0, 3, kSetB, 67},
        {"B p0 i 10 -> 21", kW142000, 0, 0, kSetB, 21},
        {"B p0 i 90 -> -7", kW174000, 1, 0, kSetB, 249},
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

TEST(Calibration, SignsAcrossTheBand)
{
    // Every linear byte in the band is negative; the quadratic one below
    // 157600 kHz receive too, and not from there on.
    for (std::int32_t word = kW140000; word <= 13951; ++word) {
        SCOPED_TRACE(word);
        for (std::uint8_t p = 0; p < 4; ++p) {
            ASSERT_GE(CalcLinear(word, p), 128);
        }
        const bool below = word < 12608;
        ASSERT_EQ(CalcQuadratic(word) >= 128, below);
    }
}

}  // namespace vostrel

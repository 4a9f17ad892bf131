#include "ParamBlock.h"
#include "Utils.h"

#include "FakeLink.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

namespace vostrel {

namespace {

TByteArray Slice(const TByteArray& b, std::size_t from, std::size_t count)
{
    return TByteArray(b.begin() + static_cast<std::ptrdiff_t>(from),
                      b.begin() + static_cast<std::ptrdiff_t>(from + count));
}

TByteArray Encode(const TParameterSet& set)
{
    RecordingLog log;
    return EncodeBlock(set, log);
}

TParameterSet Decode(const TByteArray& block, const TParameterSet& previous = {})
{
    TParameterSet out;
    EXPECT_TRUE(DecodeBlock(block, previous, out));
    return out;
}

// A block with the given user bytes 12..17 and 150000 kHz everywhere.
TByteArray BlockWith(std::uint8_t mode, std::uint8_t power)
{
    TByteArray b(kBlockSize, 0);
    const std::uint8_t words[12] = {0x00, 0xF3, 0xC1, 0x00, 0xF3, 0xC1, 0x00, 0xBB, 0x81, 0x00, 0xBB, 0x81};
    for (int k = 0; k < 12; ++k) {
        b[static_cast<std::size_t>(k)] = words[k];
    }
    b[12] = mode;
    b[17] = power;
    return b;
}

// What a one-decimal display shows and reads back.
long double ThroughDisplay(long double kHz)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.1Lf", kHz);
    return std::strtold(text, nullptr);
}

}  // namespace

TEST(ParamBlock, FrequencyWordsAndTheirBytes)
{
    EXPECT_EQ(RxFreqToWord(150000.0L), 15600);
    EXPECT_EQ(TxFreqToWord(150000.0L), 12000);
    TParameterSet set;
    set.RxFreq = {150000.0L, 150000.0L};
    set.TxFreq = {150000.0L, 160000.0L};
    const TByteArray block = Encode(set);
    EXPECT_EQ(Slice(block, 0, 3), (TByteArray{0x00, 0xF3, 0xC1}));
    EXPECT_EQ(Slice(block, 3, 3), (TByteArray{0x00, 0xF3, 0xC1}));
    EXPECT_EQ(Slice(block, 6, 3), (TByteArray{0x00, 0xBB, 0x81}));
    EXPECT_EQ(Slice(block, 9, 3), (TByteArray{0x00, 0xC8, 0x01}));  // 12800 * 4 + 1

    const TParameterSet back = Decode(block);
    EXPECT_EQ(back.RxFreq[0], 150000.0L);
    EXPECT_EQ(back.TxFreq[0], 150000.0L);
    EXPECT_TRUE(back.Simplex[0]);
    EXPECT_EQ(back.TxFreq[1], 160000.0L);
    EXPECT_FALSE(back.Simplex[1]);

    // Decoding ignores the upper nibble of the first byte and the low two bits.
    TByteArray noisy = block;
    noisy[0] |= 0xF0;
    noisy[2] = static_cast<std::uint8_t>(noisy[2] ^ 0x03);
    EXPECT_EQ(Decode(noisy).RxFreq[0], 150000.0L);
}

TEST(ParamBlock, RoundToGrid)
{
    struct Row {
        const char* name;
        long double in;
        int step;
        long double out;
    } rows[] = {
        {"25,0: 12.4 above goes down", 150012.4L, 0, 150000.0L},
        {"25,0: 12.5 above goes up", 150012.5L, 0, 150025.0L},
        {"12,5: 6.2 above goes down", 150006.2L, 1, 150000.0L},
        {"12,5: 6.3 above goes up", 150006.3L, 1, 150012.5L},
        {"on the grid stays", 145575.0L, 0, 145575.0L},
        {"12,5 grid point on 25,0 goes up", 145587.5L, 0, 145600.0L},
        // 1500062.5 tenths ties to 1500062 (r 62, down); away from zero would go up.
        {"tie in tenths to even, down", 150006.25L, 1, 150000.0L},
        // 1500187.5 ties to 1500188 (r 63, up); half down would go down.
        {"tie in tenths to even, up", 150018.75L, 1, 150025.0L},
        {"band top", 174000.0L, 0, 174000.0L},
        {"just below band", 139987.6L, 0, 140000.0L},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(RoundToGrid(row.in, row.step), row.out);
    }
}

TEST(ParamBlock, EncodeDecodeRoundTripAcrossTheBand)
{
    for (int step = 0; step < 2; ++step) {
        const int tenthsStep = step == 0 ? 250 : 125;
        for (int tenths = 1400000; tenths <= 1740000; tenths += tenthsStep) {
            const long double f = static_cast<long double>(tenths) / 10.0L;
            const long double other = static_cast<long double>(3140000 - tenths) / 10.0L;
            SCOPED_TRACE(::testing::Message() << "step " << step << " f " << tenths);
            TParameterSet set;
            set.StepCode = step;
            set.RxFreq = {f, other};
            set.TxFreq = {f, f};
            set.PowerCode = {1 + tenths % 3, 1 + (tenths / 125) % 3};
            ASSERT_EQ(ThroughDisplay(f), f);
            ASSERT_EQ(RoundToGrid(f, step), f);

            const TByteArray block = Encode(set);
            ASSERT_EQ(block.size(), 34u);
            const TParameterSet back = Decode(block);
            ASSERT_EQ(back.StepCode, step);
            ASSERT_EQ(back.RxFreq, set.RxFreq);
            ASSERT_EQ(back.TxFreq, set.TxFreq);
            ASSERT_EQ(back.PowerCode, set.PowerCode);
            ASSERT_TRUE(back.Simplex[0]);
            ASSERT_EQ(back.Simplex[1], other == f);
            // Decoded values survive the one-decimal display unchanged.
            ASSERT_EQ(ThroughDisplay(back.RxFreq[1]), back.RxFreq[1]);
            ASSERT_EQ(ThroughDisplay(back.TxFreq[0]), back.TxFreq[0]);
            // And the user bytes come back the same through decode and encode.
            ASSERT_EQ(Slice(Encode(back), 0, 18), Slice(block, 0, 18));
        }
    }
}

TEST(ParamBlock, ModeAndPowerBytes)
{
    TParameterSet previous;
    previous.FlowCode = 1;
    previous.AirSpeedCode = 2;
    struct Row {
        const char* name;
        std::uint8_t mode;
        int baud, flow, air, kod;
    } rows[] = {
        {"0x7F keeps flow and air", 0x7F, 3, 1, 2, 1},
        {"zero", 0x00, 0, 0, 0, 0},
        {"flow 2, air 1, RMK31, 19200", 0x29, 1, 2, 1, 0},
        {"flow 3 only", 0x4E, 2, 1, 2, 0},
        {"bit 7 is ignored", 0x80, 0, 0, 0, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const TParameterSet s = Decode(BlockWith(row.mode, 0x5D), previous);
        EXPECT_EQ(s.BaudCode, row.baud);
        EXPECT_EQ(s.FlowCode, row.flow);
        EXPECT_EQ(s.AirSpeedCode, row.air);
        EXPECT_EQ(s.KodCode, row.kod);
    }

    struct PowerRow {
        std::uint8_t power;
        int step, p1, p2;
    } powers[] = {
        {0x40, 0, 1, 1},  // 00 is 25 W too
        {0x5D, 0, 1, 1}, {0xEE, 1, 2, 2}, {0x7F, 0, 3, 3}, {0xC7, 1, 3, 1}, {0x62, 0, 2, 2},
    };
    for (const PowerRow& row : powers) {
        SCOPED_TRACE(static_cast<int>(row.power));
        const TParameterSet s = Decode(BlockWith(0, row.power));
        EXPECT_EQ(s.StepCode, row.step);
        EXPECT_EQ(s.PowerCode[0], row.p1);
        EXPECT_EQ(s.PowerCode[1], row.p2);
    }

    // Every code encodes into its field and comes back.
    for (int baud = 0; baud < 4; ++baud) {
        for (int flow = 0; flow < 3; ++flow) {
            for (int air = 0; air < 3; ++air) {
                for (int kod = 0; kod < 2; ++kod) {
                    TParameterSet set;
                    set.BaudCode = baud;
                    set.FlowCode = flow;
                    set.AirSpeedCode = air;
                    set.KodCode = kod;
                    const TByteArray block = Encode(set);
                    ASSERT_EQ(block[12], air * 32 + kod * 16 + flow * 4 + baud);
                    const TParameterSet s = Decode(block, previous);
                    ASSERT_EQ(s.BaudCode, baud);
                    ASSERT_EQ(s.FlowCode, flow);
                    ASSERT_EQ(s.AirSpeedCode, air);
                    ASSERT_EQ(s.KodCode, kod);
                }
            }
        }
    }
    TParameterSet twentyFive;
    twentyFive.PowerCode = {1, 1};
    EXPECT_EQ(Encode(twentyFive)[17], 0x5D);  // 25 W written as 01
    twentyFive.StepCode = 1;
    twentyFive.PowerCode = {3, 2};
    EXPECT_EQ(Encode(twentyFive)[17], 0x80 + 0x40 + 0x20 + 0x0C + 0x03);
}

TEST(ParamBlock, RxPauseUnits)
{
    TByteArray block = BlockWith(0, 0x5D);
    block[14] = 0x01;
    block[15] = 0x00;
    const TParameterSet s = Decode(block);
    EXPECT_EQ(s.RxPause, 256 * 0.00298L);
    EXPECT_NEAR(static_cast<double>(s.RxPause), 0.76288, 1e-12);
    // Shown as 0,76 and programmed untouched: 255 units, not 256.
    TParameterSet set;
    set.RxPause = 0.76L;
    const TByteArray out = Encode(set);
    EXPECT_EQ(out[14], 0x00);
    EXPECT_EQ(out[15], 0xFF);
    // The unchanged decoded value goes back as it came.
    EXPECT_EQ(RxPauseToUnits(s.RxPause), 256);

    for (int units = 0; units <= 65535; ++units) {
        const auto u = static_cast<std::uint16_t>(units);
        ASSERT_EQ(RxPauseToUnits(RxPauseFromUnits(u)), u);
    }
    set.RxPause = 432.5L;  // the editor's default, beyond the field
    EXPECT_EQ(Slice(Encode(set), 14, 2), (TByteArray{0xFF, 0xFF}));
}

TEST(ParamBlock, FieldLimitsClampNeverWrap)
{
    const long double nan = std::numeric_limits<long double>::quiet_NaN();
    struct Row {
        const char* name;
        long double count;
        std::uint8_t byte;
    } counts[] = {
        {"0", 0.0L, 0},       {"255", 255.0L, 255},       {"255.4", 255.4L, 255},     {"256", 256.0L, 255},
        {"1e30", 1e30L, 255}, {"-1", -1.0L, 0},           {"-0.6", -0.6L, 0},         {"0.5 tie", 0.5L, 0},
        {"1.5 tie", 1.5L, 2}, {"254.5 tie", 254.5L, 254}, {"253.5 tie", 253.5L, 254}, {"NaN", nan, 0},
    };
    for (const Row& row : counts) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(ByteCountToByte(row.count), row.byte);
        TParameterSet set;
        set.KodPaketSize = row.count;
        set.XoffAfter = row.count;
        const TByteArray block = Encode(set);
        EXPECT_EQ(block[13], row.byte);
        EXPECT_EQ(block[16], row.byte);
    }

    struct PauseRow {
        const char* name;
        long double ms;
        std::uint16_t units;
    } pauses[] = {
        {"0", 0.0L, 0},
        {"195.29 ms", 195.29L, 65534},
        {"65535 units", 65535 * 0.00298L, 65535},
        {"65535.5 units", 65535.5L * 0.00298L, 65535},
        {"196 ms", 196.0L, 65535},
        {"huge", 1e30L, 65535},
        {"negative", -5.0L, 0},
        {"NaN", nan, 0},
    };
    for (const PauseRow& row : pauses) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(RxPauseToUnits(row.ms), row.units);
    }
}

TEST(ParamBlock, DecodeNeedsEighteenBytesAndIgnoresCalibration)
{
    TParameterSet previous;
    previous.XoffAfter = 7.0L;
    TParameterSet out;
    out.XoffAfter = 99.0L;
    TByteArray block = BlockWith(0x29, 0x5D);
    block[16] = 42;

    EXPECT_FALSE(DecodeBlock(Slice(block, 0, 17), previous, out));
    EXPECT_EQ(out.XoffAfter, 99.0L);  // untouched
    EXPECT_FALSE(DecodeBlock({}, previous, out));

    ASSERT_TRUE(DecodeBlock(Slice(block, 0, 18), previous, out));
    EXPECT_EQ(out.XoffAfter, 42.0L);
    const TParameterSet fromShort = out;

    for (std::size_t k = 18; k < block.size(); ++k) {
        block[k] = static_cast<std::uint8_t>(k * 37);
    }
    block.push_back(0x7A);  // a CRC byte left over from undoubling
    ASSERT_TRUE(DecodeBlock(block, previous, out));
    EXPECT_EQ(Encode(out), Encode(fromShort));
    EXPECT_EQ(out.RxFreq, fromShort.RxFreq);
    EXPECT_EQ(out.RxPause, fromShort.RxPause);
}

TEST(ParamBlock, SimplexIsTakenFromTheFrequencies)
{
    TParameterSet set;
    set.RxFreq = {150000.0L, 150000.0L};
    set.TxFreq = {150000.0005L, 150012.5L};
    set.Simplex = {false, true};  // the flags do not decide
    const TByteArray block = Encode(set);
    EXPECT_EQ(Slice(block, 6, 3), (TByteArray{0x00, 0xBB, 0x81}));
    EXPECT_EQ(Slice(block, 9, 3), (TByteArray{0x00, 0xBB, 0x85}));  // 12001
}

TEST(ParamBlock, CompleteExampleBlock)
{
    TParameterSet set;
    set.RxFreq = {145575.0L, 150000.0L};
    set.TxFreq = {145575.0L, 160000.0L};
    set.PowerCode = {3, 1};
    RecordingLog log;
    const TByteArray block = EncodeBlock(set, log);
    EXPECT_EQ(Slice(block, 18, 16), (TByteArray{0xF1, 0xF1, 0xE9, 0xEE, 0xE0, 0xEA, 0x42, 0x1B, 0x06, 0x06, 0x1E, 0x2E,
                                                0x1E, 0x18, 0x44, 0x37}));
    EXPECT_EQ(log.lines,
              (std::vector<std::string>{"p1_calculate=66", "p1_calculate=27", "p1_calculate=6", "p1_calculate=6",
                                        "p1_calculate=30", "p1_calculate=46", "p1_calculate=30", "p1_calculate=24"}));
    EXPECT_EQ(block[17], 0x40 + 0x10 + 0x0C + 0x03);
    EXPECT_EQ(Slice(block, 13, 4), (TByteArray{55, 0xFF, 0xFF, 55}));  // defaults
}

}  // namespace vostrel

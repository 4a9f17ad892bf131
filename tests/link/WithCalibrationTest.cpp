// Calibration for bytes 0..17 taken as they stand, as a restore sends them.
#include "ParamBlock.h"
#include "Utils.h"

#include "FakeLink.h"

#include <gtest/gtest.h>

namespace vostrel {

namespace {

// Bytes 18..33 a station may hold; a restore must not keep them.
TByteArray WithForeignCalibration(TByteArray block)
{
    for (std::size_t k = 18; k < block.size(); ++k)
        block[k] = static_cast<std::uint8_t>(0xA5 ^ k);
    return block;
}

}  // namespace

TEST(WithCalibration, EqualsEncodeBlockForEverySetOnTheGrid)
{
    for (int tenths = 1400000; tenths <= 1740000; tenths += 1250) {
        const long double f = static_cast<long double>(tenths) / 10.0L;
        const long double other = static_cast<long double>(3140000 - tenths) / 10.0L;
        for (int power = 1; power <= 3; ++power) {
            SCOPED_TRACE(::testing::Message() << "f " << tenths << " power " << power);
            TParameterSet set;
            set.StepCode = tenths % 2500 == 0 ? 0 : 1;
            set.RxFreq = {f, other};
            set.TxFreq = {f, f};
            set.PowerCode = {power, 4 - power};
            RecordingLog encodeLog;
            const TByteArray encoded = EncodeBlock(set, encodeLog);
            RecordingLog restoreLog;
            ASSERT_EQ(WithCalibration(WithForeignCalibration(encoded), restoreLog), encoded);
            ASSERT_EQ(restoreLog.lines, encodeLog.lines);
        }
    }
}

TEST(WithCalibration, KeepsTheUserBytesAsTheyStand)
{
    // The complete example's words with bytes the editors never write: a
    // ZPCH2 receive word off the 25,0 kHz grid (150012,5 kHz), flow control
    // and air speed 3, the unused word bits set. Byte 23 comes from the same
    // band step as for 150000,0 kHz, so the example's calibration still holds.
    const TByteArray user{0x00, 0xEE, 0x39, 0x00, 0xF3, 0xC5, 0x00, 0xB5, 0xF9,
                          0xF0, 0xC8, 0x03, 0x7F, 0x18, 0x0D, 0x1C, 0x64, 0x5F};
    TByteArray block = user;
    block.resize(kBlockSize, 0x77);
    RecordingLog log;
    const TByteArray out = WithCalibration(block, log);
    TByteArray expected = user;
    const TByteArray worked{0xF1, 0xF1, 0xE9, 0xEE, 0xE0, 0xEA, 0x42, 0x1B,
                            0x06, 0x06, 0x1E, 0x2E, 0x1E, 0x18, 0x44, 0x37};
    expected.insert(expected.end(), worked.begin(), worked.end());
    EXPECT_EQ(out, expected);
    EXPECT_EQ(log.lines.size(), 8u);

    // Power bits 00 read back as 25 W, yet calibrate with power code 0.
    block[17] = 0x5C;
    const TByteArray zero = WithCalibration(block, log);
    EXPECT_EQ(zero[17], 0x5C);
    EXPECT_EQ(zero[18], CalcLinear(11646, 0));
    EXPECT_NE(zero[18], CalcLinear(11646, 1));

    EXPECT_TRUE(WithCalibration(TByteArray(17, 0), log).empty());
}

}  // namespace vostrel

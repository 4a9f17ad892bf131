// Check sum, frequency words and calibration formulas.
#pragma once

#include "LinkIo.h"

#include <array>
#include <cfloat>
#include <cstdint>

// The calibration bytes depend on rounding in the x87 extended format.
static_assert(LDBL_MANT_DIG == 64, "long double must be the 80-bit extended format");

// CRC-16/MODBUS on a byte-swapped register over indices 0..high; a count of 0
// (high == -1) gives 0xFFFF. The count is taken as 16 bits unsigned and never
// reaches past the end of data.
std::uint16_t Crc16(const vostrel::TByteArray& data, std::int32_t high);
namespace vostrel {

// Channel words in 12.5 kHz units, unshifted: the frequency in 100 Hz units
// (ties to even) divided by 125, truncated. Exact for frequencies on the grid.
std::int32_t RxFreqToWord(long double kHz);  // (f + 45000) / 12.5
std::int32_t TxFreqToWord(long double kHz);  // f / 12.5
// The inverse: the exact 100 Hz count divided by 10, so that the result times
// 10 rounds back to that count (stable under a one-decimal display).
long double RxWordToFreq(std::int32_t word);  // (N * 125 - 450000) / 10
long double TxWordToFreq(std::int32_t word);  // N * 125 / 10

}  // namespace vostrel

// Calibration formulas; each returns the low 8 bits of the rounded result.
std::uint8_t CalcLinear(std::int32_t word, std::uint8_t power);
std::uint8_t CalcQuadratic(std::int32_t word);
std::uint8_t CalcRanged(std::int32_t word);
// Set A when selector > 45, else set B. Logs "p1_calculate=<byte>".
std::uint8_t CalcP1(std::int32_t word, std::uint8_t variant, std::uint8_t power, long double selector,
                    vostrel::ILogSink& log);

namespace vostrel {

// What one programming action computes the calibration bytes from; index 0 is
// ZPCH1, 1 is ZPCH2. Words are unshifted; power codes are 0..3 as in the
// power byte.
struct TCalibrationInputs {
    std::array<std::int32_t, 2> TxWord{};
    std::array<std::int32_t, 2> RxWord{};
    std::array<bool, 2> Simplex{};
    std::array<std::uint8_t, 2> Power{};
};

// Block bytes 18..33 (element 0 is byte 18), computed in the fixed order that
// yields the eight "p1_calculate=" lines for bytes 24..31 in block order. The
// first CalcP1 call of the action uses set B, the later ones set A.
std::array<std::uint8_t, 16> ComputeCalibrationBytes(const TCalibrationInputs& in, ILogSink& log);

}  // namespace vostrel

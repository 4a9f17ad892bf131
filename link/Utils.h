// Check sum, frequency words and calibration formulas.
#pragma once

#include "LinkIo.h"

#include <cfloat>
#include <cstdint>

// The calibration bytes depend on rounding in the x87 extended format.
static_assert(LDBL_MANT_DIG == 64, "long double must be the 80-bit extended format");

// CRC-16/MODBUS on a byte-swapped register over indices 0..high; a count of 0
// (high == -1) gives 0xFFFF. The count is taken as 16 bits unsigned.
std::uint16_t Crc16(const TByteArray& data, std::int32_t high);
// Entry index of the constant table Crc16 uses (built at compile time).
std::uint16_t Crc16TableEntry(std::uint8_t index);

// Channel words in 12.5 kHz units, unshifted; ties to even.
std::int32_t RxFreqToWord(long double kHz);   // (f + 45000) / 12.5
std::int32_t TxFreqToWord(long double kHz);   // f / 12.5
long double RxWordToFreq(std::int32_t word);
long double TxWordToFreq(std::int32_t word);

// Calibration formulas; each returns the low 8 bits of the rounded result.
std::uint8_t CalcLinear(std::int32_t word, std::uint8_t power);
std::uint8_t CalcQuadratic(std::int32_t word);
std::uint8_t CalcRanged(std::int32_t word);
// Set A when selector > 45, else set B. Logs "p1_calculate=<byte>".
std::uint8_t CalcP1(std::int32_t word, std::uint8_t variant, std::uint8_t power,
                    long double selector, ILogSink& log);

// The station's 34-byte parameter block and the parameter set the window edits.
#pragma once

#include "LinkIo.h"

#include <array>
#include <cstdint>

namespace vostrel {

constexpr int kBlockSize = 34;
constexpr int kBlockUserBytes = 18;

// Field codes and units as the operator sees them. Channel index 0 is ZPCH1
// (modem), 1 is ZPCH2 (speech).
struct TParameterSet {
    int StepCode = 0;                                         // 0 = 25,0 kHz, 1 = 12,5 kHz
    std::array<long double, 2> RxFreq{145575.0L, 145575.0L};  // kHz
    std::array<long double, 2> TxFreq{145575.0L, 145575.0L};  // kHz
    std::array<bool, 2> Simplex{false, false};
    std::array<int, 2> PowerCode{3, 3};  // 1 = 25 W, 2 = 10 W, 3 = 5 W
    int BaudCode = 0;                    // 0..3: 9600, 19200, 38400, 57600
    int FlowCode = 0;                    // 0 none, 1 Xon/Xoff, 2 RTS/CTS
    long double XoffAfter = 55.0L;       // bytes
    long double RxPause = 432.5L;        // ms
    int AirSpeedCode = 0;                // 0 2400, 1 1200, 2 4800
    int KodCode = 0;                     // 0 RMK31, 1 RMK7
    long double KodPaketSize = 55.0L;    // bytes, 0 = no coding

    bool operator==(const TParameterSet&) const = default;
};

// Fills out from bytes 0..17 of block. The value 3 in the flow-control or
// air-speed field keeps that code from previous. Returns false, leaving out
// untouched, when the block holds fewer than 18 bytes.
bool DecodeBlock(const TByteArray& block, const TParameterSet& previous, TParameterSet& out);

// RX pause in units of 0.00298 ms: ms to units rounds (ties to even) and
// clamps into 0..65535; units to ms is exact to the extended format.
std::uint16_t RxPauseToUnits(long double ms);
long double RxPauseFromUnits(std::uint16_t units);

// A byte count rounded (ties to even) and clamped into 0..255.
std::uint8_t ByteCountToByte(long double count);

// The nearest point of the 25,0 (code 0) or 12,5 kHz (code 1) grid.
long double RoundToGrid(long double kHz, int stepCode);

// The full 34-byte block for a set whose frequencies are already on the grid,
// with the sixteen calibration bytes; writes the eight "p1_calculate=" lines.
// Fields the block cannot carry are clamped, never wrapped.
TByteArray EncodeBlock(const TParameterSet& set, ILogSink& log);

// Bytes 0..17 of block exactly as they stand, followed by the sixteen
// calibration bytes computed from them as any programming computes them: the
// words as they are (no grid rounding), a channel simplex when its transmit
// word is its receive word's own (N_rx - 3600), the power bits of byte 17
// (00 stays power code 0). Bytes past 17 are not looked at, so a block
// received from a station is sent back with fresh calibration. Writes the
// eight "p1_calculate=" lines; empty when block has fewer than 18 bytes.
TByteArray WithCalibration(const TByteArray& block, ILogSink& log);

}  // namespace vostrel

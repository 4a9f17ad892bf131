// Station blocks for the tests of what the window makes of a block: the
// simulator's station, the worked example, blocks at the edges of what the
// editors show, then random ones.
#pragma once

#include "ParamBlock.h"
#include "StationSimulator.h"

#include <random>
#include <string>
#include <vector>

namespace vostrel {

struct TBlockRow {
    std::string Label;
    TByteArray Block;
};

// ZPCH1 simplex 145575.0 kHz at 5 W, ZPCH2 150000.0 / 160000.0 kHz at 25 W,
// 19200, Xon/Xoff after 100, 10 ms, 4800, RMK7, 24: the worked example.
inline TParameterSet WorkedSet()
{
    return TParameterSet{.StepCode = 0,
                         .RxFreq = {145575.0L, 150000.0L},
                         .TxFreq = {145575.0L, 160000.0L},
                         .Simplex = {true, false},
                         .PowerCode = {3, 1},
                         .BaudCode = 1,
                         .FlowCode = 1,
                         .XoffAfter = 100,
                         .RxPause = 10,
                         .AirSpeedCode = 2,
                         .KodCode = 1,
                         .KodPaketSize = 24};
}

// The word bytes (4N + 1, high first) of channel number n at block byte at.
inline void PutWord(TByteArray& b, std::size_t at, long double n)
{
    const auto field = (static_cast<std::uint32_t>(n) * 4 + 1) & 0xFFFFF;
    b[at] = static_cast<std::uint8_t>(field >> 16);
    b[at + 1] = static_cast<std::uint8_t>(field >> 8);
    b[at + 2] = static_cast<std::uint8_t>(field);
}

inline std::vector<TBlockRow> EdgeBlocks(int randomCount)
{
    TNullLog log;
    std::vector<TBlockRow> rows{{"the simulator's station", DefaultStationBlock()},
                                {"the worked example", EncodeBlock(WorkedSet(), log)},
                                {"all zero", TByteArray(kBlockSize, 0x00)},
                                {"all 0xFF", TByteArray(kBlockSize, 0xFF)},
                                {"all 0x10", TByteArray(kBlockSize, 0x10)}};
    // Pause 250 units = 0.745 ms, shown 0,75; flow control and air speed 3;
    // the 25 kHz grid under a 12,5 kHz simplex frequency.
    TByteArray b = DefaultStationBlock();
    b[12] = 0x7F;
    b[14] = 0x00;
    b[15] = 250;
    b[17] = 0x40 | 0x0C | 0x20 | 0x02;
    PutWord(b, 0, (145587.5L + 45000) / 12.5L);
    PutWord(b, 6, 145587.5L / 12.5L);
    rows.push_back({"off the 25 kHz grid, pause 0,745, codes 3", b});
    // ZPCH2 receives below the band and transmits above it.
    b = DefaultStationBlock();
    PutWord(b, 3, (100000 + 45000) / 12.5L);
    PutWord(b, 9, 180000 / 12.5L);
    rows.push_back({"ZPCH2 outside the band", b});
    // ZPCH1 on two different frequencies that both lie below the band.
    b = DefaultStationBlock();
    PutWord(b, 0, (120000 + 45000) / 12.5L);
    PutWord(b, 6, 130000 / 12.5L);
    rows.push_back({"ZPCH1 duplex below the band", b});
    std::mt19937 random(22);
    for (int i = 0; i < randomCount; ++i) {
        TByteArray r(kBlockSize);
        for (auto& x : r)
            x = static_cast<std::uint8_t>(random());
        rows.push_back({"random " + std::to_string(i), r});
    }
    return rows;
}

}  // namespace vostrel

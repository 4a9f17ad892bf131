// Colours of the window are 24-bit numbers with red in the low byte,
// green in the middle and blue in the high byte (4144959 = 63, 63, 63).
#pragma once

#include <QColor>

#include <cstdint>

namespace vostrel {

constexpr std::uint32_t clWhiteBgr = 16777215;
constexpr std::uint32_t clValueBgr = 4144959;    // values shown in the editors
constexpr std::uint32_t clDuplexBgr = 12218994;  // captions of the duplex toggles
constexpr std::uint32_t clGroupFillBgr = 16776434;

inline QColor BgrColor(std::uint32_t bgr)
{
    return QColor(static_cast<int>(bgr & 0xFFu), static_cast<int>((bgr >> 8) & 0xFFu),
                  static_cast<int>((bgr >> 16) & 0xFFu));
}

}  // namespace vostrel

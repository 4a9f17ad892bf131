// How long a program may still take over its goodbye once Windows has said
// the session or the console is ending: Windows allows 5 s before it ends
// the program or offers the operator to, counted from its first notice.
#pragma once

#include <cstdint>

namespace vostrel {

// Under Windows' 5 s, with room for the close that follows the goodbye.
inline constexpr std::uint32_t kEndAllowanceMs = 4500;

// What is left of allowanceMs at nowMs for an end first noticed at sinceMs
// (both on one monotonic millisecond clock); 0 once it is spent. A clock
// read before the notice (another thread's) counts as no time gone.
constexpr std::uint32_t AllowanceLeftMs(std::uint64_t sinceMs, std::uint64_t nowMs,
                                        std::uint32_t allowanceMs = kEndAllowanceMs)
{
    const std::uint64_t gone = nowMs > sinceMs ? nowMs - sinceMs : 0;
    return gone >= allowanceMs ? 0 : static_cast<std::uint32_t>(allowanceMs - gone);
}

}  // namespace vostrel

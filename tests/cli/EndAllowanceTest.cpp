// What is left of Windows' allowance for a goodbye at a console close or a
// session end, counted on the clock from the first notice.
#include "EndAllowance.h"

#include <gtest/gtest.h>

namespace vostrel {
namespace {

TEST(EndAllowance, CountsFromTheFirstNoticeOnTheClock)
{
    struct TRow {
        const char* Name;
        std::uint64_t Since, Now;
        std::uint32_t Left;
    };
    const TRow rows[] = {
        {"at the notice", 1000, 1000, kEndAllowanceMs},
        {"a second later", 1000, 2000, kEndAllowanceMs - 1000},
        {"one ms before the end", 1000, 1000 + kEndAllowanceMs - 1, 1},
        {"spent", 1000, 1000 + kEndAllowanceMs, 0},
        {"long past", 1000, 60000, 0},
        {"a clock read before the notice", 5000, 4990, kEndAllowanceMs},
        // A 64-bit tick count past 49.7 days, where a 32-bit one wraps.
        {"after 2^32 ms of uptime", 0xFFFFFF00ull, 0x100000F00ull, kEndAllowanceMs - 0x1000},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.Name);
        EXPECT_EQ(AllowanceLeftMs(row.Since, row.Now), row.Left);
    }
}

}  // namespace
}  // namespace vostrel

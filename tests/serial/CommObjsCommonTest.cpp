// The synchronisation objects' behaviour, the same on every platform.
#include "CommObjs.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <thread>

namespace vostrel {

namespace {

constexpr std::uint32_t kNoLimit = 0xFFFFFFFFu;

}  // namespace

TEST(CommObjs, SimpleEventStaysSetUntilCleared)
{
    TSimpleEvent e;
    EXPECT_EQ(e.WaitFor(0), wrTimeout);
    EXPECT_EQ(e.WaitFor(20), wrTimeout);
    e.SetEvent();
    e.SetEvent();
    EXPECT_EQ(e.WaitFor(0), wrSignaled);
    EXPECT_EQ(e.WaitFor(kNoLimit), wrSignaled);  // manual reset: still set
    e.ResetEvent();
    EXPECT_EQ(e.WaitFor(0), wrTimeout);

    std::thread setter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        e.SetEvent();
    });
    EXPECT_EQ(e.WaitFor(kNoLimit), wrSignaled);
    setter.join();
}

TEST(CommObjs, AutoResetEventWakesOneWait)
{
    TEvent e(false, true);
    EXPECT_EQ(e.WaitFor(0), wrSignaled);
    EXPECT_EQ(e.WaitFor(0), wrTimeout);
    e.SetEvent();
    EXPECT_EQ(e.WaitFor(1000), wrSignaled);
    EXPECT_EQ(e.WaitFor(10), wrTimeout);
}

TEST(CommObjs, CriticalSectionExcludesOtherThreadsAndReenters)
{
    TCriticalSection cs;
    int counter = 0;
    auto work = [&] {
        for (int i = 0; i < 20000; ++i) {
            TLockGuard outer(cs);
            TLockGuard inner(cs);  // the owner may enter again
            ++counter;
        }
    };
    std::thread a(work), b(work);
    a.join();
    b.join();
    EXPECT_EQ(counter, 40000);
}

}  // namespace vostrel

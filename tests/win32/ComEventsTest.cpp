// The watcher on Windows: none without events, and one that never spins,
// even where WaitCommEvent completes at once with nothing in it (Wine, ptys).
#include "ComLines.h"
#include "CommLink.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace vostrel {

namespace {

// Runs the hand-over on the watcher's own thread; enough where no window waits.
TSyncDispatcher InlineDispatcher()
{
    return [](const std::function<void()>& task) { task(); };
}

void OpenWatched(TComm& c, TCommEventTypes events)
{
    c.SetDispatcher(InlineDispatcher());
    c.SetDeviceName(kStationPort);
    c.SetBaudRate(br4800);
    c.SetFlowControl(fcNone);
    c.SetMonitorEvents(events);
    c.OpenPort();
}

}  // namespace

TEST_F(ComLines, AWatcherOnlyWithEventsAndNeverSpinning)
{
    const int base = ThreadCount();
    ASSERT_GT(base, 0);
    {
        TComm quiet;
        OpenWatched(quiet, 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        EXPECT_EQ(ThreadCount(), base) << "a watcher ran with no events to watch";
    }

    TComm c;
    std::atomic<int> handed{0};
    c.OnRxChar = [&](TCustomComm*, std::int32_t) { ++handed; };
    OpenWatched(c, EventBit(evRxChar) | EventBit(evTxEmpty));
    EXPECT_TRUE(WaitUntil([&] { return ThreadCount() == base + 1; }, 3000));
    // A second and a half of a silent line: a watcher that polled without
    // pause would burn most of it.
    const std::int64_t cpuBefore = ProcessCpuMs();
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    const std::int64_t cpu = ProcessCpuMs() - cpuBefore;
    std::printf("watcher CPU over 1500 ms: %lld ms\n", static_cast<long long>(cpu));
    EXPECT_LT(cpu, 300);
    EXPECT_EQ(handed.load(), 0);

    c.ClosePort();
    EXPECT_TRUE(WaitUntil([&] { return ThreadCount() == base; }, 3000)) << "the watcher outlived the port";
}

TEST_F(ComLines, ReceivedBytesReachOnRxChar)
{
    if (RunningUnderWine())
        GTEST_SKIP() << "Wine's WaitCommEvent on a pty completes at once with an empty mask: line events cannot "
                        "be shown here";
    TComm c;
    std::atomic<std::int32_t> count{0};
    c.OnRxChar = [&](TCustomComm*, std::int32_t n) { count = n; };
    OpenWatched(c, EventBit(evRxChar));
    c.PurgeInput();  // the station greets
    EXPECT_TRUE(WaitUntil([&] { return count.load() > 0; }, 5000));
}

}  // namespace vostrel

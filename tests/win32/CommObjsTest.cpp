// The synchronisation objects as Windows kernel objects.
#include "CommObjs.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace vostrel {

TEST(CommObjs, SimpleEventStaysSetUntilCleared)
{
    TSimpleEvent e;
    ASSERT_NE(e.Handle(), nullptr);
    EXPECT_EQ(e.WaitFor(0), wrTimeout);
    EXPECT_EQ(e.WaitFor(20), wrTimeout);
    e.SetEvent();
    e.SetEvent();
    EXPECT_EQ(e.WaitFor(0), wrSignaled);
    EXPECT_EQ(e.WaitFor(INFINITE), wrSignaled);  // manual reset: still set
    e.ResetEvent();
    EXPECT_EQ(e.WaitFor(0), wrTimeout);

    std::thread setter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        e.SetEvent();
    });
    EXPECT_EQ(e.WaitFor(INFINITE), wrSignaled);
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

namespace {

// An event whose creation failed: no handle behind it.
class UnmadeEvent : public TEvent {
public:
    UnmadeEvent() : TEvent(true, true)
    {
        ::CloseHandle(m_handle);
        m_handle = nullptr;
    }
};

}  // namespace

TEST(CommObjs, EventWithoutHandleFailsEveryWaitAtOnce)
{
    UnmadeEvent event;
    event.SetEvent();
    // A long limit that is not waited out shows the failure comes at once.
    for (const std::uint32_t timeoutMs : {0u, 50u, 10000u}) {
        SCOPED_TRACE(timeoutMs);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(event.WaitFor(timeoutMs), wrError);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
        EXPECT_EQ(event.LastError(), static_cast<std::uint32_t>(ERROR_INVALID_HANDLE));
    }
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

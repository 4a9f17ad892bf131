// The POSIX objects: an event on an eventfd that could not be made.
#include "CommObjs.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <future>
#include <memory>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

namespace vostrel {

TEST(CommObjs, EventWithoutDescriptorFailsEveryWait)
{
    // The sanitizers check a type through a pipe the first time they meet it:
    // they meet these here, while there are descriptors left.
    (void)std::make_shared<TEvent>(true, true);
    // Out of descriptors: the limit is lowered to the lowest free one.
    const int lowest = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(lowest, 0);
    ::close(lowest);
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit low = saved;
    low.rlim_cur = static_cast<rlim_t>(lowest);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
    auto event = std::make_shared<TEvent>(true, true);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &saved), 0);
    ASSERT_LT(event->Handle(), 0) << "eventfd was not refused";
    event->SetEvent();

    for (const std::uint32_t timeoutMs : {0u, 50u, INFINITE}) {
        SCOPED_TRACE(timeoutMs);
        // On a thread of its own, so that a wait that never ends fails the test instead of hanging it.
        std::packaged_task<TWaitResult()> wait([event, timeoutMs] { return event->WaitFor(timeoutMs); });
        auto result = wait.get_future();
        std::thread(std::move(wait)).detach();
        ASSERT_EQ(result.wait_for(std::chrono::seconds(20)), std::future_status::ready) << "the wait never ended";
        EXPECT_EQ(result.get(), wrError);
    }
}

}  // namespace vostrel

// The Windows objects: an event whose creation failed.
#include "CommObjs.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>

namespace vostrel {

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

}  // namespace vostrel

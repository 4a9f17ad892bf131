#include "CommTestCommon.h"

#include <chrono>
#include <thread>

namespace vostrel {

bool WaitUntil(const std::function<bool()>& pred, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!pred()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return pred();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

std::string MessageOf(const std::function<void()>& fn, std::int32_t* code)
{
    try {
        fn();
    } catch (const ECommError& e) {
        if (code)
            *code = e.ErrorCode;
        return e.what();
    }
    return "(no ECommError)";
}

}  // namespace vostrel

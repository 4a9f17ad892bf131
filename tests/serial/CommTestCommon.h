// Test helpers for the serial component that every platform's tests share.
#pragma once

#include "CommInt.h"

#include <cstdint>
#include <functional>
#include <string>

namespace vostrel {

// Polls pred every few ms until it holds or timeoutMs passes; returns pred().
bool WaitUntil(const std::function<bool()>& pred, int timeoutMs);
// The message of the ECommError fn raises ("(no ECommError)" when none), and its code.
std::string MessageOf(const std::function<void()>& fn, std::int32_t* code = nullptr);

}  // namespace vostrel

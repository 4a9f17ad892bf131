// Helpers of the Windows tests: what runs them, and what they measure.
#pragma once

#include "CommInt.h"
#include "CommTestCommon.h"

#include <cstdint>
#include <functional>
#include <string>

namespace vostrel {

// True under Wine, whose ntdll exports wine_get_version.
bool RunningUnderWine();
// Threads of this process right now (-1 when they cannot be counted).
int ThreadCount();
// CPU time this process has used, kernel and user, in ms.
std::int64_t ProcessCpuMs();
// An environment variable, empty when unset.
std::string Env(const char* name);

}  // namespace vostrel

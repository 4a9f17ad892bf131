#include "WineSupport.h"

// windows.h first: the tool-help header builds on its types.
#include <windows.h>

#include <tlhelp32.h>

#include <cstdlib>

namespace vostrel {

bool RunningUnderWine()
{
    const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
    return ntdll && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

int ThreadCount()
{
    const HANDLE snap = ::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snap == INVALID_HANDLE_VALUE)
        return -1;
    const DWORD self = ::GetCurrentProcessId();
    int n = 0;
    THREADENTRY32 t{};
    t.dwSize = sizeof t;
    for (BOOL more = ::Thread32First(snap, &t); more; more = ::Thread32Next(snap, &t))
        if (t.th32OwnerProcessID == self)
            ++n;
    ::CloseHandle(snap);
    return n;
}

std::int64_t ProcessCpuMs()
{
    FILETIME created{}, exited{}, kernel{}, user{};
    if (!::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user))
        return -1;
    const auto ticks = [](const FILETIME& f) {
        return (static_cast<std::int64_t>(f.dwHighDateTime) << 32) | f.dwLowDateTime;
    };
    return (ticks(kernel) + ticks(user)) / 10000;  // 100 ns units
}

std::string Env(const char* name)
{
    const char* v = std::getenv(name);
    return v ? v : "";
}

}  // namespace vostrel

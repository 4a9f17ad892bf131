// vostrel-bench-sleep: prints how long Sleep(1) lasts in this process, first
// at the system's default timer resolution, then with the 1 ms the window and
// vostrel-cli ask for. Median and spread of 200 sleeps each.
#include <windows.h>
// After <windows.h>, which it needs.
#include <mmsystem.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

void Measure(const char* what)
{
    LARGE_INTEGER freq{}, a{}, b{};
    ::QueryPerformanceFrequency(&freq);
    std::vector<double> ms;
    constexpr int kSleeps = 200;
    for (int i = 0; i < kSleeps; ++i) {
        ::QueryPerformanceCounter(&a);
        ::Sleep(1);
        ::QueryPerformanceCounter(&b);
        ms.push_back(1000.0 * static_cast<double>(b.QuadPart - a.QuadPart) / static_cast<double>(freq.QuadPart));
    }
    std::sort(ms.begin(), ms.end());
    std::printf("Sleep(1) %-30s min %7.3f  median %7.3f  max %7.3f ms  (%d sleeps)\n", what, ms.front(),
                ms[ms.size() / 2], ms.back(), kSleeps);
}

}  // namespace

int main()
{
    Measure("at the default resolution");
    if (::timeBeginPeriod(1) != TIMERR_NOERROR) {
        std::printf("Sleep(1) with 1 ms resolution: refused by the system\n");
        return 1;
    }
    Measure("with 1 ms resolution");
    ::timeEndPeriod(1);
    return 0;
}

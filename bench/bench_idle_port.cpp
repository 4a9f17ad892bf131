// Prints the process CPU time while an open pty port with all events chosen
// sits on a silent line, then on a hung-up line. Usage: [seconds per phase]
#include "CommInt.h"
#include "SerialTestSupport.h"

#include <cstdio>
#include <cstdlib>
#include <sys/resource.h>
#include <thread>

namespace {

double CpuSeconds()
{
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

void Measure(const char* label, int seconds)
{
    const double before = CpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%-28s wall %.2f s, process CPU %.4f s (%.3f %%)\n", label, wall, CpuSeconds() - before,
                100.0 * (CpuSeconds() - before) / wall);
}

}  // namespace

int main(int argc, char** argv)
{
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 10;
    vostrel::PtyStation station;
    if (!station.Ok()) {
        std::fprintf(stderr, "no pseudo-terminals\n");
        return 1;
    }
    TComm port;
    port.SetDeviceName(station.SlavePath());
    port.SetMonitorEvents(vostrel::kAllCommEvents);
    port.SetBaudRate(br4800);
    port.SetFlowControl(fcNone);
    // Nothing is expected to arrive; a hand-over would simply run here.
    port.SetDispatcher([](const std::function<void()>& fn) { fn(); });
    port.OpenPort();
    std::printf("watching %s with all events\n", station.SlavePath().c_str());
    Measure("silent line:", seconds);
    station.HangUp();
    Measure("hung-up line:", seconds);
    port.ClosePort();
    return 0;
}

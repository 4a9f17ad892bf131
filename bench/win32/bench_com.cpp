// vostrel-bench-com PORT: prints what the Windows component costs on one COM
// port: open with the station line's settings, a 41-byte write and its drain,
// and InputCount per call. PORT must lead to something that reads the line.
#include "CommInt.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point t)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

void Print(const char* what, std::vector<double> v, const char* unit)
{
    std::sort(v.begin(), v.end());
    std::printf("%-34s min %9.3f  median %9.3f  max %9.3f %s  (%zu runs)\n", what, v.front(), v[v.size() / 2], v.back(),
                unit, v.size());
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string port = argc > 1 ? argv[1] : "COM1";
    constexpr int kRuns = 10;
    std::vector<double> openMs, writeMs, drainMs, pollUs;
    for (int run = 0; run < kRuns; ++run) {
        TComm comm;
        comm.SetDeviceName(port);
        comm.SetMonitorEvents(0);
        comm.SetFlowControl(fcNone);
        auto t = Clock::now();
        try {
            comm.SetBaudRate(br4800);
            comm.OpenPort();
        } catch (const ECommError& e) {
            std::fprintf(stderr, "vostrel-bench-com: %s: %s\n", port.c_str(), e.what());
            return 1;
        }
        openMs.push_back(MsSince(t));

        std::uint8_t packet[41];
        for (int i = 0; i < 41; ++i)
            packet[i] = static_cast<std::uint8_t>(i);
        t = Clock::now();
        if (comm.WriteBytes(packet, 41) != 41) {
            std::fprintf(stderr, "vostrel-bench-com: the write did not finish\n");
            return 1;
        }
        writeMs.push_back(MsSince(t));
        // The close waits until the driver's output queue is empty.
        t = Clock::now();
        comm.ClosePort();
        drainMs.push_back(MsSince(t));

        comm.OpenPort();
        constexpr int kPolls = 2000;
        t = Clock::now();
        for (int i = 0; i < kPolls; ++i)
            (void)comm.InputCount();
        pollUs.push_back(MsSince(t) * 1000.0 / kPolls);
        comm.ClosePort();
    }
    std::printf("vostrel-bench-com on %s\n", port.c_str());
    Print("open + line settings", openMs, "ms");
    Print("WriteBytes of 41 bytes", writeMs, "ms");
    Print("close with the output drained", drainMs, "ms");
    Print("InputCount per call", pollUs, "us");
    return 0;
}

// vostrel-bench-line: line figures of the link through TComm against the
// simulator. Prints numbers; judges nothing.
//   1. Sending the programming packet with SendPacket (1 ms pause per byte).
//   2. Process CPU time while CollectFor polls an idle line for 1000 ms.

#include "CommLink.h"
#include "Packets.h"
#include "StationSimulator.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

using namespace vostrel;

namespace {

double CpuMs(clockid_t clock)
{
    timespec ts{};
    clock_gettime(clock, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

double Ms(SimClock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

void PrintStats(const char* what, std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    std::printf("%-44s min %7.2f  median %7.2f  max %7.2f ms  (n=%zu)\n", what, v.front(), v[v.size() / 2], v.back(),
                v.size());
}

}  // namespace

int main(int argc, char** argv)
{
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    try {
        StationSimulator sim;
        TComm comm;
        vostrel::OpenStationLine(comm, sim.SlavePath());
        vostrel::TCommBytePort port(comm);
        vostrel::TClockHost host;

        // The default block holds one 0x10 (its mode byte); a zero block none.
        struct Case {
            const char* name;
            TByteArray block;
        };
        const Case cases[] = {{"packet 09, 34 zero bytes (40 on the line)", TByteArray(34, 0x00)},
                              {"packet 09, default block", DefaultStationBlock()}};
        for (const Case& c : cases) {
            const TByteArray packet = BuildPacket(kPacketProgram, c.block);
            std::vector<double> call, line;
            std::size_t onLine = 0;
            for (int i = 0; i < rounds; ++i) {
                const std::size_t before = sim.ProgrammedBlocks().size();
                const auto t0 = SimClock::now();
                SendPacket(port, host, packet, false, true);
                const auto t1 = SimClock::now();
                if (!sim.WaitFor([&] { return sim.ProgrammedBlocks().size() > before; }, std::chrono::seconds(5))) {
                    std::fprintf(stderr, "the station did not record packet 09\n");
                    return 1;
                }
                const ReceivedPacket p = sim.ProgrammedBlocks().back();
                onLine = p.Line.size();
                const auto received = sim.Received();
                const auto first = received[received.size() - p.Line.size()].Time;
                call.push_back(Ms(t1 - t0));
                line.push_back(Ms(p.End - first));
            }
            std::printf("%s: %zu bytes written\n", c.name, onLine);
            PrintStats("  SendPacket call", call);
            PrintStats("  first to last byte at the station", line);
            std::printf("  floor: %zu ms of pauses; at 4800 bit/s the bytes alone take %.1f ms\n", onLine,
                        static_cast<double>(onLine) * 10.0 / 4.8);
        }

        // An idle line: nothing arrives during the window.
        port.PurgeInput();
        const double proc0 = CpuMs(CLOCK_PROCESS_CPUTIME_ID);
        const double thr0 = CpuMs(CLOCK_THREAD_CPUTIME_ID);
        const auto w0 = SimClock::now();
        const TByteArray got = CollectFor(port, host, 1000);
        const double wall = Ms(SimClock::now() - w0);
        const double proc = CpuMs(CLOCK_PROCESS_CPUTIME_ID) - proc0;
        const double thr = CpuMs(CLOCK_THREAD_CPUTIME_ID) - thr0;
        std::printf("CollectFor(1000) on an idle line: %.1f ms wall, process CPU %.1f ms (%.0f %%), "
                    "collecting thread %.1f ms, %zu bytes\n",
                    wall, proc, 100.0 * proc / wall, thr, got.size());
        comm.ClosePort();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vostrel-bench-line: %s\n", e.what());
        return 1;
    }
    return 0;
}

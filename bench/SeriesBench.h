// What the series benchmarks share: the line's own cycle per station, room
// for many ports, a process's memory and a port's link re-pointed.
#pragma once

#include "Packets.h"
#include "ParamBlock.h"
#include "ParamFile.h"
#include "StationSimulator.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

namespace vostrel {

// Bytes of a packet on the line, each 0x10 from index 2 to size-3 twice.
inline std::size_t LineBytes(const TByteArray& packet, bool doubled)
{
    std::size_t n = packet.size();
    for (std::size_t i = 2; doubled && i + 2 < packet.size(); ++i)
        n += packet[i] == kDle ? 1 : 0;
    return n;
}

// Prints the line's own cycle per station programming block; returns the
// line's limit in stations per minute per port.
inline double PrintLineCycle(const TByteArray& block)
{
    // The line's own cycle: what 4800 bit/s and the sequence's pauses take.
    const double byteMs = 10.0 * 1000.0 / 4800.0;  // start bit, 8 data bits, stop bit
    const TByteArray confirm = BuildPacket(kPacketConfirm, TByteArray{0x00});
    const TByteArray answer = StationAnswerLine(DefaultStationBlock());
    const TByteArray program = BuildPacket(kPacketProgram, block);
    struct TPart {
        const char* What;
        double Ms;
    };
    const TPart parts[] = {
        {"timer from programming's end to the wait", 555.0},
        {"greeting, 7 bytes", 7 * byteMs},
        {"pause before the confirmation", 50.0},
        // Each byte written by itself, then 1 ms: the line's pace is the slower.
        {"confirmation, 7 bytes", static_cast<double>(LineBytes(confirm, false)) * std::max(byteMs, 1.0)},
        {"answer window (the answer's bytes fall inside it)", 1000.0},
        {"pauses before programming", 60.0},
        {"programming packet", static_cast<double>(LineBytes(program, true)) * std::max(byteMs, 1.0)},
        {"thank-you pause", 5000.0},
    };
    double limit = 0;
    std::printf("The line's own cycle per station:\n");
    for (const TPart& p : parts) {
        std::printf("  %-50s %8.1f ms\n", p.What, p.Ms);
        limit += p.Ms;
    }
    std::printf("  %-50s %8.1f ms  (answer on the line: %zu bytes, %.1f ms)\n", "total", limit, answer.size(),
                static_cast<double>(answer.size()) * byteMs);
    const double lineRate = 60000.0 / limit;
    std::printf("  the line's limit: %.2f stations per minute per port\n", lineRate);
    return lineRate;
}

// The limit of open files is per process: each simulator holds a pty's
// master and slave and a wake pipe, each port of the CLI its device and two
// descriptors it sleeps on. The soft limit (1024 on many systems) is what stops
// a few hundred ports: it is raised to the hard limit, which the CLI
// inherits. False, with the reason, when even that is too few or the ptys
// run out.
inline bool RoomForPorts(int ports, std::string& reason)
{
    const rlim_t needed = static_cast<rlim_t>(ports) * 5 + 32;
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) != 0)
        return true;
    if (files.rlim_cur != RLIM_INFINITY && files.rlim_cur < needed && files.rlim_cur < files.rlim_max) {
        rlimit raised = files;
        raised.rlim_cur = files.rlim_max;
        if (setrlimit(RLIMIT_NOFILE, &raised) == 0)
            files = raised;
    }
    if (files.rlim_cur != RLIM_INFINITY && files.rlim_cur < needed) {
        reason = "about " + std::to_string(needed) + " open files are needed, the limit is " +
                 std::to_string(files.rlim_cur) + " (hard " + std::to_string(files.rlim_max) +
                 "); raise it with ulimit -Hn as root";
        return false;
    }
    std::ifstream maxPtys("/proc/sys/kernel/pty/max"), openPtys("/proc/sys/kernel/pty/nr");
    long max = 0, open = 0;
    if (maxPtys >> max && openPtys >> open && max - open < ports) {
        reason = std::to_string(ports) + " ptys are needed, " + std::to_string(max - open) +
                 " are free (kernel.pty.max " + std::to_string(max) + ")";
        return false;
    }
    return true;
}

// A process's resident memory in KiB, from /proc/PID/status; -1 when gone.
inline long RssKb(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0)
            return std::strtol(line.c_str() + 6, nullptr, 10);
    }
    return -1;
}

// Points link at target in one step: a reopen never finds it half made.
inline void PointLink(const std::filesystem::path& link, const std::string& target)
{
    const std::filesystem::path fresh = link.string() + ".new";
    std::error_code ignored;
    std::filesystem::remove(fresh, ignored);
    std::filesystem::create_symlink(target, fresh);
    std::filesystem::rename(fresh, link);
}

// The series' plan: a station as a bench programs it, written to path; the
// block it programs.
inline TByteArray WriteBenchPlan(const std::filesystem::path& path)
{
    TParamFile file;
    file.Set.StepCode = 0;
    file.Set.RxFreq = {145575.0L, 150000.0L};
    file.Set.TxFreq = {145575.0L, 160000.0L};
    file.Set.Simplex = {true, false};
    file.Set.PowerCode = {3, 1};
    file.Set.XoffAfter = 100;
    file.Set.RxPause = 10;
    file.Set.KodPaketSize = 24;
    std::ofstream(path) << FormatParamFile(file);
    TNullLog quiet;
    return ProgrammingBlock(file.Set, quiet);
}

}  // namespace vostrel

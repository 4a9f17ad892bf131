// Stations per minute of "vostrel-cli program --each" against paced
// simulators (4800 bit/s, a station greeting as soon as a wait begins), one
// per pty, all driven by one vostrel-cli given the ptys as a comma-separated
// port list; each count of ports is run plain, with -v (the exchange log,
// standard error to a file), with --log (the CSV record) and with both.
// Beside the rate, the limit of the line itself (the greeting, the
// confirmation, the answer window and programming at 4800 bit/s plus the
// pauses of the sequence) times the number of ports, and the CLI's CPU time
// per station programmed. Prints numbers, asserts nothing; exits 1 only when
// the stations were not all programmed in time.
//   vostrel-bench-cli-series [stations-per-port=4] [port counts, default 1,16,64]
//                            [variants, default plain,v,log,v+log]
#include "Packets.h"
#include "ParamBlock.h"
#include "ParamFile.h"
#include "StationSimulator.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

using namespace vostrel;

namespace {

using namespace std::chrono_literals;

double Ms(SimClock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

double Seconds(const timeval& t)
{
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

double CpuSeconds(int who)
{
    rusage u{};
    getrusage(who, &u);
    return Seconds(u.ru_utime) + Seconds(u.ru_stime);
}

// Bytes of a packet on the line, each 0x10 from index 2 to size-3 twice.
std::size_t LineBytes(const TByteArray& packet, bool doubled)
{
    std::size_t n = packet.size();
    for (std::size_t i = 2; doubled && i + 2 < packet.size(); ++i)
        n += packet[i] == kDle ? 1 : 0;
    return n;
}

std::vector<int> ParsePortCounts(const char* text)
{
    std::vector<int> counts;
    std::stringstream in(text);
    std::string item;
    while (std::getline(in, item, ',')) {
        const int n = std::atoi(item.c_str());
        if (n >= 1)
            counts.push_back(n);
    }
    return counts;
}

// How the command's output is kept.
struct TVariant {
    const char* Name;
    bool Verbose;  // -v: the exchange log on standard error, which goes to a file
    bool Log;      // --log FILE: the CSV record
};

constexpr TVariant kVariants[] = {
    {"plain", false, false},
    {"v", true, false},
    {"log", false, true},
    {"v+log", true, true},
};

std::vector<TVariant> ParseVariants(const char* text)
{
    std::vector<TVariant> variants;
    std::stringstream in(text);
    std::string item;
    while (std::getline(in, item, ',')) {
        for (const TVariant& v : kVariants) {
            if (item == v.Name)
                variants.push_back(v);
        }
    }
    return variants;
}

// The limit of open files is per process: each simulator holds a pty's
// master and slave and a wake pipe, each port of the CLI its device and two
// descriptors it sleeps on. The soft limit (1024 on many systems) is what stops
// a few hundred ports: it is raised to the hard limit, which the CLI
// inherits. False, with the reason, when even that is too few or the ptys
// run out.
bool RoomForPorts(int ports, std::string& reason)
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

// The last lines the CLI wrote to standard error, for a run that went wrong.
std::string Tail(const std::filesystem::path& file, std::size_t lines)
{
    std::ifstream in(file);
    std::vector<std::string> all;
    for (std::string line; std::getline(in, line);)
        all.push_back(line);
    std::string text;
    for (std::size_t k = all.size() > lines ? all.size() - lines : 0; k < all.size(); ++k)
        text += "    " + all[k] + "\n";
    return text;
}

struct TRun {
    int Ports = 0;
    TVariant Variant{};
    bool Done = false;
    std::string Refused;   // why the run could not begin
    int ExitedEarly = -1;  // the CLI's wait status when it ended before being interrupted
    std::vector<std::vector<SimClock::time_point>> Ends;  // per port, the first packets 09
    std::size_t Programmed = 0;                           // all packets 09, up to the interrupt
    double CliCpu = 0;                                    // seconds, user + system
    double BenchCpu = 0;                                  // the simulators' threads and this loop
    double WallS = 0;
    std::uintmax_t ErrBytes = 0;  // standard error's file
    std::uintmax_t LogBytes = 0;  // the record
    std::string ErrTail;          // when it ended by itself
    // Figures, when Done.
    double Rate = 0;  // stations per minute, the sum of the ports' median rates
    double SpanRate = 0;
};

TRun RunSeries(int ports, const TVariant& variant, int stations, const std::filesystem::path& dir,
               const std::filesystem::path& file)
{
    TRun run;
    run.Ports = ports;
    run.Variant = variant;
    if (!RoomForPorts(ports, run.Refused))
        return run;
    StationConfig config = PacedStation();
    config.GreetOnWait = true;
    std::vector<std::unique_ptr<StationSimulator>> sims;
    std::string portList;
    try {
        for (int p = 0; p < ports; ++p) {
            sims.push_back(std::make_unique<StationSimulator>(config));
            portList += (p ? "," : "") + sims.back()->SlavePath();
        }
    } catch (const std::exception& e) {
        run.Refused = "simulator " + std::to_string(sims.size() + 1) + " did not start: " + e.what();
        return run;
    }

    // A data folder per run, so that no run finds another's state.
    const std::string name = std::to_string(ports) + "-" + variant.Name;
    const std::filesystem::path data = dir / ("data-" + name);
    const std::filesystem::path errFile = dir / ("stderr-" + name + ".txt");
    const std::filesystem::path logFile = dir / ("record-" + name + ".csv");
    std::filesystem::create_directories(data);
    std::vector<std::string> env{"XDG_DATA_HOME=" + data.string()};
    for (char** e = environ; *e != nullptr; ++e) {
        if (std::string(*e).rfind("XDG_DATA_HOME=", 0) != 0)
            env.emplace_back(*e);
    }
    std::vector<std::string> args{VOSTREL_CLI, "program", portList, file.string(), "--each"};
    if (variant.Verbose)
        args.emplace_back("-v");
    if (variant.Log) {
        args.emplace_back("--log");
        args.push_back(logFile.string());
    }
    std::vector<char*> a, e;
    for (auto& s : args)
        a.push_back(s.data());
    a.push_back(nullptr);
    for (auto& s : env)
        e.push_back(s.data());
    e.push_back(nullptr);

    const double childCpu0 = CpuSeconds(RUSAGE_CHILDREN);
    const double selfCpu0 = CpuSeconds(RUSAGE_SELF);
    const auto start = SimClock::now();
    // Standard error always to a file, so that a refusal can be told; without
    // -v little goes there.
    const int quietOut = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    const int errOut = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(quietOut, STDOUT_FILENO);
        dup2(errOut >= 0 ? errOut : quietOut, STDERR_FILENO);
        execve(a[0], a.data(), e.data());
        _exit(127);
    }
    ::close(quietOut);
    if (errOut >= 0)
        ::close(errOut);

    // Waits on each port in turn under one deadline: all of them must get
    // there. Short slices, so that a CLI that gave up is noticed.
    const auto deadline = start + std::chrono::milliseconds(stations * 20000 + ports * 100);
    bool reaped = false;
    int status = 0;
    for (const auto& sim : sims) {
        const auto enough = [&] { return sim->ProgrammedBlocks().size() >= static_cast<std::size_t>(stations); };
        while (!enough() && SimClock::now() < deadline && !reaped) {
            sim->WaitFor(enough, 250ms);
            reaped = waitpid(pid, &status, WNOHANG) == pid;
        }
    }
    run.Done = std::all_of(sims.begin(), sims.end(), [&](const auto& sim) {
        return sim->ProgrammedBlocks().size() >= static_cast<std::size_t>(stations);
    });
    if (reaped) {
        run.ExitedEarly = status;
        run.ErrTail = Tail(errFile, 5);
    } else {
        kill(pid, SIGINT);
        waitpid(pid, nullptr, 0);
    }
    run.WallS = Ms(SimClock::now() - start) / 1000.0;
    run.CliCpu = CpuSeconds(RUSAGE_CHILDREN) - childCpu0;
    run.BenchCpu = CpuSeconds(RUSAGE_SELF) - selfCpu0;
    std::error_code ignored;
    run.ErrBytes = std::filesystem::file_size(errFile, ignored);
    run.LogBytes = variant.Log ? std::filesystem::file_size(logFile, ignored) : 0;
    if (run.ErrBytes == static_cast<std::uintmax_t>(-1))
        run.ErrBytes = 0;
    if (run.LogBytes == static_cast<std::uintmax_t>(-1))
        run.LogBytes = 0;

    for (const auto& sim : sims) {
        const auto programmed = sim->ProgrammedBlocks();
        run.Programmed += programmed.size();
        std::vector<SimClock::time_point> ends;
        for (std::size_t k = 0; k < programmed.size() && k < static_cast<std::size_t>(stations); ++k)
            ends.push_back(programmed[k].End);
        run.Ends.push_back(std::move(ends));
    }
    // The next run's data and files only; these are no longer needed.
    std::filesystem::remove_all(data, ignored);
    return run;
}

}  // namespace

int main(int argc, char* argv[])
{
    const int stations = argc > 1 ? std::max(2, std::atoi(argv[1])) : 4;
    const std::vector<int> portCounts = ParsePortCounts(argc > 2 ? argv[2] : "1,16,64");
    const std::vector<TVariant> variants = ParseVariants(argc > 3 ? argv[3] : "plain,v,log,v+log");
    if (portCounts.empty() || variants.empty()) {
        std::fprintf(stderr, "usage: vostrel-bench-cli-series [stations-per-port=4] [port counts, default 1,16,64]\n"
                             "                                [variants, default plain,v,log,v+log]\n");
        return 1;
    }

    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("vostrel-bench-cli-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    TParamFile file;
    file.Set.StepCode = 0;
    file.Set.RxFreq = {145575.0L, 150000.0L};
    file.Set.TxFreq = {145575.0L, 160000.0L};
    file.Set.Simplex = {true, false};
    file.Set.PowerCode = {3, 1};
    file.Set.XoffAfter = 100;
    file.Set.RxPause = 10;
    file.Set.KodPaketSize = 24;
    std::ofstream(dir / "series.txt") << FormatParamFile(file);
    TNullLog quiet;
    const TByteArray block = ProgrammingBlock(file.Set, quiet);

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
    std::printf("\nprogram --each, %d stations per port, one vostrel-cli for all the ports, each port on its own\n"
                "paced simulator (it greets %lld ms after a wait's purge, which the line's limit does not count).\n"
                "Per port: the median cycle between consecutive packets 09. All ports: the sum of the ports'\n"
                "rates, each from its median cycle, so that start-up and a slow first station do not count;\n"
                "beside it the span figure, all cycles from the first to the last packet 09 of any port,\n"
                "which also counts how far apart the ports began. CPU: the CLI's user + system time over\n"
                "the whole run (start-up and waits too), per programmed station and as cores busy on\n"
                "average. Output: standard output to /dev/null, standard error to a file (with -v the\n"
                "exchange log), --log to a CSV file.\n",
                stations, static_cast<long long>(PacedStation().GreetDelay.count()));

    bool allDone = true;
    std::vector<TRun> runs;
    for (const int ports : portCounts) {
        for (const TVariant& variant : variants) {
            TRun run = RunSeries(ports, variant, stations, dir, dir / "series.txt");
            std::printf("\n%d port%s, %s:\n", ports, ports == 1 ? "" : "s", variant.Name);
            std::fflush(stdout);
            if (!run.Refused.empty()) {
                std::printf("  not run: %s\n", run.Refused.c_str());
                runs.push_back(std::move(run));
                continue;
            }
            if (!run.Done) {
                allDone = false;
                std::size_t got = 0;
                for (const auto& ends : run.Ends)
                    got += ends.size();
                if (run.ExitedEarly >= 0 && WIFEXITED(run.ExitedEarly))
                    std::printf("  vostrel-cli ended by itself with code %d; ", WEXITSTATUS(run.ExitedEarly));
                else
                    std::printf("  ");
                std::printf("only %zu of %d stations were programmed\n%s", got, stations * ports, run.ErrTail.c_str());
                runs.push_back(std::move(run));
                continue;
            }
            double rateSum = 0;
            std::size_t cycleCount = 0;
            std::vector<double> medians;
            SimClock::time_point first = run.Ends[0].front(), last = run.Ends[0].back();
            for (std::size_t p = 0; p < run.Ends.size(); ++p) {
                const auto& ends = run.Ends[p];
                std::vector<double> cycles;
                for (std::size_t k = 1; k < ends.size(); ++k)
                    cycles.push_back(Ms(ends[k] - ends[k - 1]));
                std::sort(cycles.begin(), cycles.end());
                const double median = cycles[cycles.size() / 2];
                medians.push_back(median);
                rateSum += 60000.0 / median;
                cycleCount += cycles.size();
                first = std::min(first, ends.front());
                last = std::max(last, ends.back());
                if (ports <= 4)
                    std::printf(
                        "  port %zu: cycle median %.1f ms, min %.1f ms, max %.1f ms, %.2f stations per minute\n", p + 1,
                        median, cycles.front(), cycles.back(), 60000.0 / median);
            }
            if (ports > 4) {
                const auto slowest = std::max_element(medians.begin(), medians.end());
                std::vector<double> sorted = medians;
                std::sort(sorted.begin(), sorted.end());
                std::printf("  the ports' median cycles: fastest %.1f ms, median %.1f ms, slowest %.1f ms (port %ld)\n",
                            sorted.front(), sorted[sorted.size() / 2], *slowest,
                            static_cast<long>(slowest - medians.begin()) + 1);
            }
            const double target = lineRate * ports;
            run.Rate = rateSum;
            run.SpanRate = 60000.0 * static_cast<double>(cycleCount) / Ms(last - first);
            std::printf("  all ports: %.2f stations per minute; the line's limit x %d = %.2f (%.1f %%)\n", rateSum,
                        ports, target, 100.0 * rateSum / target);
            std::printf("  span: %.2f stations per minute (%.1f %%), %zu cycles in %.1f s\n", run.SpanRate,
                        100.0 * run.SpanRate / target, cycleCount, Ms(last - first) / 1000.0);
            std::printf("  CPU: vostrel-cli %.3f s in %.1f s (%.3f cores busy), %.1f ms per station of %zu;"
                        " the simulators %.3f s\n",
                        run.CliCpu, run.WallS, run.CliCpu / run.WallS,
                        1000.0 * run.CliCpu / static_cast<double>(run.Programmed), run.Programmed, run.BenchCpu);
            if (run.Variant.Verbose || run.Variant.Log)
                std::printf("  written: standard error %ju bytes, the record %ju bytes\n", run.ErrBytes, run.LogBytes);
            runs.push_back(std::move(run));
        }
    }

    std::printf("\n| ports | output | stations per minute | the line's limit x ports | reached | CPU per station |"
                " cores busy |\n|---|---|---|---|---|---|---|\n");
    for (const TRun& run : runs) {
        const char* output = run.Variant.Verbose ? (run.Variant.Log ? "-v, --log" : "-v")
                             : run.Variant.Log   ? "--log"
                                                 : "plain";
        if (!run.Done) {
            std::printf("| %d | %s | %s | | | | |\n", run.Ports, output,
                        run.Refused.empty() ? "not all programmed" : "not run");
            continue;
        }
        const double target = lineRate * run.Ports;
        std::printf("| %d | %s | %.2f | %.2f | %.1f %% | %.1f ms | %.3f |\n", run.Ports, output, run.Rate, target,
                    100.0 * run.Rate / target, 1000.0 * run.CliCpu / static_cast<double>(run.Programmed),
                    run.CliCpu / run.WallS);
    }
    std::filesystem::remove_all(dir);
    return allDone ? 0 : 1;
}

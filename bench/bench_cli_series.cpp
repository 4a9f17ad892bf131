// Stations per minute of "vostrel-cli program --each" against paced
// simulators (4800 bit/s, a station greeting as soon as a wait begins), one
// per pty, all driven by one vostrel-cli given the ptys as a comma-separated
// port list; each count of ports is run plain, with -v (the exchange log,
// standard error to a file), with --log (the CSV record) and with both.
// Beside the rate, the limit of the line itself (the greeting, the
// confirmation, the answer window and programming at 4800 bit/s plus the
// pauses of the sequence) times the number of ports, and the CLI's CPU time
// per station programmed. The ports are links the bench owns; with a replug
// period each port's station is pulled out after its first station and then
// after every so many (its pty hung up, the link gone for a moment at times,
// then leading to a new pty), as an operator's adapters come and go over a
// shift. The CLI's resident memory is shown once every port has programmed
// two stations (and come back once) and again after the last station.
// Prints numbers, asserts nothing; exits 1 only when the stations were not
// all programmed in time, or a packet 09 differed from the file's block.
//   vostrel-bench-cli-series [stations-per-port=4] [port counts, default 1,16,64]
//                            [variants, default plain,v,log,v+log] [replug every N stations, default 0: never]
#include "ParamBlock.h"
#include "ParamFile.h"
#include "SeriesBench.h"
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
    int Replugs = 0;
    int Inexact = 0;               // packets 09 whose block or CRC differed from the file's
    long RecordRows = -1;          // the record's "programmed" rows; -1 without --log
    long RssWarmKb = -1;           // the CLI's VmRSS once every port programmed two stations
    std::size_t WarmStations = 0;  // stations programmed by then
    long RssEndKb = -1;            // after the last station
    // Figures, when Done.
    double Rate = 0;  // stations per minute, the sum of the ports' median rates
    double SpanRate = 0;
};

// Lines of the record holding text.
long CountRows(const std::filesystem::path& file, const std::string& text)
{
    std::ifstream in(file);
    long n = 0;
    for (std::string line; std::getline(in, line);)
        n += line.find(text) != std::string::npos ? 1 : 0;
    return n;
}

// One port as the operator named it: a link the bench re-points when the
// station is plugged back, and the stations met on it so far.
struct TPortStation {
    std::filesystem::path Link;
    std::unique_ptr<StationSimulator> Sim;  // null while the adapter is out
    std::vector<ReceivedPacket> Earlier;    // packets 09 of the stations pulled out
    int Replugs = 0;
    SimClock::time_point BackAt{};  // while out: when the new pty appears

    std::vector<ReceivedPacket> Programmed() const
    {
        std::vector<ReceivedPacket> all = Earlier;
        if (Sim) {
            const auto now = Sim->ProgrammedBlocks();
            all.insert(all.end(), now.begin(), now.end());
        }
        return all;
    }
};

TRun RunSeries(int ports, const TVariant& variant, int stations, int replugEvery, const std::filesystem::path& dir,
               const std::filesystem::path& file, const TByteArray& block)
{
    TRun run;
    run.Ports = ports;
    run.Variant = variant;
    if (!RoomForPorts(ports, run.Refused))
        return run;
    StationConfig config = PacedStation();
    config.GreetOnWait = true;
    // A data folder per run, so that no run finds another's state.
    const std::string name = std::to_string(ports) + "-" + variant.Name;
    const std::filesystem::path links = dir / ("ports-" + name);
    std::filesystem::create_directories(links);
    std::vector<TPortStation> sims(static_cast<std::size_t>(ports));
    std::string portList;
    try {
        for (int p = 0; p < ports; ++p) {
            TPortStation& port = sims[static_cast<std::size_t>(p)];
            port.Sim = std::make_unique<StationSimulator>(config);
            port.Link = links / ("ttyUSB" + std::to_string(p));
            PointLink(port.Link, port.Sim->SlavePath());
            portList += (p ? "," : "") + port.Link.string();
        }
    } catch (const std::exception& e) {
        run.Refused = "simulator " + std::to_string(ports) + " did not start: " + e.what();
        return run;
    }
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

    // Looks at every port a few times a second under one deadline: all of
    // them must get there, and a CLI that gave up is noticed.
    const auto deadline = start + std::chrono::milliseconds(stations * 20000 + ports * 100);
    bool reaped = false;
    int status = 0;
    const std::size_t wanted = static_cast<std::size_t>(stations);
    const std::size_t warm = std::min<std::size_t>(2, wanted);
    for (;;) {
        const auto now = SimClock::now();
        bool all = true, warmed = true;
        std::size_t total = 0;
        for (TPortStation& port : sims) {
            if (!port.Sim && now >= port.BackAt) {
                port.Sim = std::make_unique<StationSimulator>(config);
                PointLink(port.Link, port.Sim->SlavePath());
            }
            const std::size_t done = port.Programmed().size();
            total += done;
            all = all && done >= wanted;
            warmed = warmed && done >= warm;
            // Pulled out in the thank-you pause, once the packet is well in:
            // after the first station, then every replugEvery.
            const std::size_t here = port.Sim ? port.Sim->ProgrammedBlocks().size() : 0;
            const std::size_t due = port.Replugs == 0 ? 1 : static_cast<std::size_t>(replugEvery);
            if (replugEvery > 0 && port.Sim && here >= due && done < wanted &&
                now - port.Sim->ProgrammedBlocks().back().End > 300ms) {
                // Every other time the link is gone for a while, as a cable out.
                const bool away = port.Replugs % 2 == 1;
                if (away)
                    std::filesystem::remove(port.Link);
                port.Sim->HangUp();
                const auto kept = port.Sim->ProgrammedBlocks();
                port.Earlier.insert(port.Earlier.end(), kept.begin(), kept.end());
                port.Sim.reset();
                port.BackAt = now + (away ? 1200ms : 0ms);
                ++port.Replugs;
                ++run.Replugs;
            }
        }
        if (warmed && run.RssWarmKb < 0) {
            run.RssWarmKb = RssKb(pid);
            run.WarmStations = total;
        }
        if (all) {
            run.RssEndKb = RssKb(pid);
            break;
        }
        if (now >= deadline || (reaped = waitpid(pid, &status, WNOHANG) == pid))
            break;
        std::this_thread::sleep_for(50ms);
    }
    run.Done = std::all_of(sims.begin(), sims.end(),
                           [&](const TPortStation& port) { return port.Programmed().size() >= wanted; });
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

    if (variant.Log)
        run.RecordRows = CountRows(logFile, ";запрограммировано;");
    for (const TPortStation& port : sims) {
        const auto programmed = port.Programmed();
        run.Programmed += programmed.size();
        std::vector<SimClock::time_point> ends;
        for (std::size_t k = 0; k < programmed.size() && k < wanted; ++k)
            ends.push_back(programmed[k].End);
        for (const ReceivedPacket& packet : programmed)
            run.Inexact += packet.Data == block && packet.CrcOk ? 0 : 1;
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
    const int replugEvery = argc > 4 ? std::max(0, std::atoi(argv[4])) : 0;
    if (portCounts.empty() || variants.empty()) {
        std::fprintf(stderr, "usage: vostrel-bench-cli-series [stations-per-port=4] [port counts, default 1,16,64]\n"
                             "                                [variants, default plain,v,log,v+log]"
                             " [replug every N stations, default 0]\n");
        return 1;
    }

    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("vostrel-bench-cli-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const TByteArray block = WriteBenchPlan(dir / "series.txt");

    const double lineRate = PrintLineCycle(block);
    std::printf("\nprogram --each, %d stations per port, one vostrel-cli for all the ports, each port on its own\n"
                "paced simulator (it greets %lld ms after a wait's purge, which the line's limit does not count).\n"
                "Per port: the median cycle between consecutive packets 09. All ports: the sum of the ports'\n"
                "rates, each from its median cycle, so that start-up and a slow first station do not count;\n"
                "beside it the span figure, all cycles from the first to the last packet 09 of any port,\n"
                "which also counts how far apart the ports began. CPU: the CLI's user + system time over\n"
                "the whole run (start-up and waits too), per programmed station and as cores busy on\n"
                "average. Output: standard output to /dev/null, standard error to a file (with -v the\n"
                "exchange log), --log to a CSV file. Memory: vostrel-cli's VmRSS once every port has\n"
                "programmed two stations, and after the last station.\n",
                stations, static_cast<long long>(PacedStation().GreetDelay.count()));
    if (replugEvery > 0)
        std::printf("Replugs: each port's station pulled out after its first station, then after every %d;\n"
                    "every other time its link is gone for 1.2 s, else it leads to the new pty at once.\n",
                    replugEvery);

    bool allDone = true;
    std::vector<TRun> runs;
    for (const int ports : portCounts) {
        for (const TVariant& variant : variants) {
            TRun run = RunSeries(ports, variant, stations, replugEvery, dir, dir / "series.txt", block);
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
            std::printf("  memory: vostrel-cli %ld KiB after %zu stations, %ld KiB after the last (%zu): %+ld KiB;"
                        " %d replugs\n",
                        run.RssWarmKb, run.WarmStations, run.RssEndKb, run.Programmed, run.RssEndKb - run.RssWarmKb,
                        run.Replugs);
            if (run.Inexact > 0 || (run.RecordRows >= 0 && run.RecordRows != static_cast<long>(run.Programmed))) {
                allDone = false;
                std::printf("  WRONG: %d packets 09 differ from the file's block; the record has %ld programmed rows"
                            " for %zu stations\n",
                            run.Inexact, run.RecordRows, run.Programmed);
            }
            runs.push_back(std::move(run));
        }
    }

    std::printf("\n| ports | output | stations per minute | the line's limit x ports | reached | CPU per station |"
                " cores busy | RSS after two per port | RSS at the end |\n|---|---|---|---|---|---|---|---|---|\n");
    for (const TRun& run : runs) {
        const char* output = run.Variant.Verbose ? (run.Variant.Log ? "-v, --log" : "-v")
                             : run.Variant.Log   ? "--log"
                                                 : "plain";
        if (!run.Done) {
            std::printf("| %d | %s | %s | | | | | | |\n", run.Ports, output,
                        run.Refused.empty() ? "not all programmed" : "not run");
            continue;
        }
        const double target = lineRate * run.Ports;
        std::printf("| %d | %s | %.2f | %.2f | %.1f %% | %.1f ms | %.3f | %ld KiB | %ld KiB |\n", run.Ports, output,
                    run.Rate, target, 100.0 * run.Rate / target,
                    1000.0 * run.CliCpu / static_cast<double>(run.Programmed), run.CliCpu / run.WallS, run.RssWarmKb,
                    run.RssEndKb);
    }
    std::filesystem::remove_all(dir);
    return allDone ? 0 : 1;
}

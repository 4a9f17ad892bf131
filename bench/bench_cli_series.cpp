// Stations per minute of "vostrel-cli program --each" against the paced
// simulator (4800 bit/s, a station greeting as soon as a wait begins), beside
// the limit of the line itself: the greeting, the confirmation, the answer
// window and programming at 4800 bit/s plus the pauses of the sequence.
// Prints numbers, asserts nothing.
//   vostrel-bench-cli-series [stations=4]
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
#include <string>
#include <sys/wait.h>
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

// Bytes of a packet on the line, each 0x10 from index 2 to size-3 twice.
std::size_t LineBytes(const TByteArray& packet, bool doubled)
{
    std::size_t n = packet.size();
    for (std::size_t i = 2; doubled && i + 2 < packet.size(); ++i)
        n += packet[i] == kDle ? 1 : 0;
    return n;
}

}  // namespace

int main(int argc, char* argv[])
{
    const int stations = argc > 1 ? std::max(2, std::atoi(argv[1])) : 4;

    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("vostrel-bench-cli-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir / "data");
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

    StationConfig config = PacedStation();
    config.GreetOnWait = true;
    StationSimulator station(config);

    std::vector<std::string> env{"XDG_DATA_HOME=" + (dir / "data").string()};
    for (char** e = environ; *e != nullptr; ++e) {
        if (std::string(*e).rfind("XDG_DATA_HOME=", 0) != 0)
            env.emplace_back(*e);
    }
    std::vector<std::string> args{VOSTREL_CLI, "program", station.SlavePath(), (dir / "series.txt").string(), "--each"};
    std::vector<char*> a, e;
    for (auto& s : args)
        a.push_back(s.data());
    a.push_back(nullptr);
    for (auto& s : env)
        e.push_back(s.data());
    e.push_back(nullptr);
    const int quietOut = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(quietOut, STDOUT_FILENO);
        dup2(quietOut, STDERR_FILENO);
        execve(a[0], a.data(), e.data());
        _exit(127);
    }
    const bool done =
        station.WaitFor([&] { return station.ProgrammedBlocks().size() >= static_cast<std::size_t>(stations); },
                        std::chrono::milliseconds(stations * 20000));
    kill(pid, SIGINT);
    waitpid(pid, nullptr, 0);
    std::filesystem::remove_all(dir);
    if (!done) {
        std::fprintf(stderr, "only %zu of %d stations were programmed\n", station.ProgrammedBlocks().size(), stations);
        return 1;
    }

    const auto programmed = station.ProgrammedBlocks();
    std::vector<double> cycles;
    for (std::size_t k = 1; k < programmed.size(); ++k)
        cycles.push_back(Ms(programmed[k].End - programmed[k - 1].End));
    std::sort(cycles.begin(), cycles.end());
    const double median = cycles[cycles.size() / 2];

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
    std::printf("\nprogram --each, %d stations on the paced simulator (it greets %lld ms after a wait's purge,\n"
                "which the line's limit does not count):\n",
                stations, static_cast<long long>(config.GreetDelay.count()));
    std::printf("  cycle median %.1f ms, min %.1f ms, max %.1f ms\n", median, cycles.front(), cycles.back());
    std::printf("  %.2f stations per minute; the line's limit %.2f (%.1f %%)\n", 60000.0 / median, 60000.0 / limit,
                100.0 * limit / median);
    return 0;
}

// vostrel-stand's figures, its window offscreen in this process against
// paced simulated stations (4800 bit/s, a station greeting as soon as a wait
// begins), one per pty: stations a minute with 1, 16 and 64 ports beside the
// line's limit times the ports; with 64 ports working, the longest the
// window's thread was busy at once (a 5 ms heartbeat's longest lateness) and
// the process's resident memory; with every port waiting for a station that
// never greets, the CPU of the window's thread and of the whole process
// (the simulators' idle threads too) and the window thread's voluntary
// context switches a second. Prints figures, asserts nothing.
//   vostrel-bench-stand [stations-per-port=3] [port counts, default 1,16,64]
#include "Application.h"
#include "ParamFile.h"
#include "SeriesBench.h"
#include "StandWindow.h"

#include <QEventLoop>
#include <QTimer>

#include <chrono>
#include <ctime>
#include <memory>
#include <sstream>
#include <vector>

using namespace vostrel;

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

double Ms(SimClock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

double ThreadCpuS()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

double ProcessCpuS()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// This thread's voluntary context switches: each one a sleep, so a wake-up.
long VoluntarySwitches()
{
    std::ifstream status("/proc/thread-self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("voluntary_ctxt_switches:", 0) == 0)
            return std::strtol(line.c_str() + 24, nullptr, 10);
    }
    return -1;
}

// Runs the window's loop until done() or timeout.
bool Spin(const std::function<bool()>& done, std::chrono::milliseconds timeout)
{
    const auto end = SimClock::now() + timeout;
    while (!done()) {
        if (SimClock::now() >= end)
            return false;
        QEventLoop loop;
        QTimer::singleShot(50, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

// The heartbeat: how late a 5 ms timer came at worst, which is how long the
// window's thread was busy with something else at once.
class THeartbeat {
public:
    THeartbeat()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(5);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            const auto now = SimClock::now();
            if (m_last != SimClock::time_point{})
                m_worst = std::max(m_worst, Ms(now - m_last) - 5.0);
            m_last = now;
        });
        m_timer.start();
    }
    double WorstMs() const { return m_worst; }
    void Reset() { m_worst = 0; }

private:
    QTimer m_timer;
    SimClock::time_point m_last{};
    double m_worst = 0;
};

struct TFigures {
    int Ports = 0;
    bool Done = false;
    std::string Refused;
    double Rate = 0;
    double BusyMs = 0;
    long RssKb = -1;
    int Inexact = 0;
};

TStandSetup Setup(const fs::path& dir)
{
    TStandSetup setup;
    setup.Shift.CopiesFolder = (dir / "copies").string();
    setup.Shift.LockDir = (dir / "lock").string();
    fs::create_directories(dir / "lock");
    setup.RecordsFolder = QString::fromStdString((dir / "records").string());
    return setup;
}

TFigures RunShift(int ports, int stations, const fs::path& dir, const fs::path& file, const TByteArray& block)
{
    TFigures f;
    f.Ports = ports;
    if (!RoomForPorts(ports, f.Refused))
        return f;
    StationConfig config = PacedStation();
    config.GreetOnWait = true;
    std::vector<std::unique_ptr<StationSimulator>> sims;
    TStandOptions options;
    for (int p = 0; p < ports; ++p) {
        sims.push_back(std::make_unique<StationSimulator>(config));
        options.Ports.push_back(sims.back()->SlavePath());
    }
    options.File = file.string();
    options.Log = (dir / ("shift-" + std::to_string(ports) + ".csv")).string();
    const fs::path run = dir / ("run-" + std::to_string(ports));
    TStandWindow window(options, Setup(run));
    window.show();
    THeartbeat heartbeat;
    if (!window.StartShift()) {
        f.Refused = "the shift did not start";
        return f;
    }
    // The start itself (the rows made, the ports opened) is not the ports working.
    Spin(
        [&] {
            const auto& rows = window.Rows();
            return std::none_of(rows.begin(), rows.end(), [](const TPortRow& r) { return r.State == "открывается"; });
        },
        30s);
    heartbeat.Reset();
    const auto wanted = static_cast<std::size_t>(stations);
    f.Done = Spin(
        [&] {
            return std::all_of(sims.begin(), sims.end(),
                               [&](const auto& s) { return s->ProgrammedBlocks().size() >= wanted; });
        },
        std::chrono::milliseconds(stations * 20000 + ports * 200));
    f.BusyMs = heartbeat.WorstMs();
    f.RssKb = RssKb(getpid());
    window.StopShift();
    Spin([&] { return !window.ShiftRunning(); }, 30s);
    for (const auto& s : sims) {
        const auto blocks = s->ProgrammedBlocks();
        std::vector<double> cycles;
        for (std::size_t k = 1; k < blocks.size() && k < wanted; ++k)
            cycles.push_back(Ms(blocks[k].End - blocks[k - 1].End));
        for (const ReceivedPacket& b : blocks)
            f.Inexact += b.Data == block && b.CrcOk ? 0 : 1;
        if (cycles.empty())
            continue;
        std::sort(cycles.begin(), cycles.end());
        f.Rate += 60000.0 / cycles[cycles.size() / 2];
    }
    fs::remove_all(run);
    return f;
}

// Every port waits for a station that never greets.
void RunWaiting(int ports, const fs::path& dir, const fs::path& file)
{
    std::string refused;
    if (!RoomForPorts(ports, refused)) {
        std::printf("  not run: %s\n", refused.c_str());
        return;
    }
    std::vector<std::unique_ptr<StationSimulator>> sims;
    TStandOptions options;
    for (int p = 0; p < ports; ++p) {
        sims.push_back(std::make_unique<StationSimulator>());
        options.Ports.push_back(sims.back()->SlavePath());
    }
    options.File = file.string();
    options.Log = (dir / "waiting.csv").string();
    const fs::path run = dir / "run-waiting";
    TStandWindow window(options, Setup(run));
    window.show();
    window.StartShift();
    const bool waiting = Spin(
        [&] {
            const auto& rows = window.Rows();
            return !rows.empty() &&
                   std::all_of(rows.begin(), rows.end(), [](const TPortRow& r) { return r.State == "ждёт станцию"; });
        },
        30s);
    if (!waiting) {
        std::printf("  not every port began to wait\n");
        return;
    }
    Spin([] { return false; }, 1000ms);  // the last events drawn
    constexpr double kSeconds = 10.0;
    const double thread0 = ThreadCpuS(), process0 = ProcessCpuS();
    const long switches0 = VoluntarySwitches();
    {
        QEventLoop loop;
        QTimer::singleShot(static_cast<int>(kSeconds * 1000), &loop, &QEventLoop::quit);
        loop.exec();
    }
    const double thread = ThreadCpuS() - thread0, process = ProcessCpuS() - process0;
    const long switches = VoluntarySwitches() - switches0;
    std::printf("  %d ports waiting, %.0f s: the window's thread %.3f %% of a core, %.1f wake-ups a second;"
                " the whole process (the simulators too) %.3f %% of a core; RSS %ld KiB\n",
                ports, kSeconds, 100.0 * thread / kSeconds, static_cast<double>(switches) / kSeconds,
                100.0 * process / kSeconds, RssKb(getpid()));
    window.StopShift();
    Spin([&] { return !window.ShiftRunning(); }, 30s);
    fs::remove_all(run);
}

std::vector<int> ParsePortCounts(const char* text)
{
    std::vector<int> counts;
    std::stringstream in(text);
    for (std::string item; std::getline(in, item, ',');) {
        if (const int n = std::atoi(item.c_str()); n >= 1)
            counts.push_back(n);
    }
    return counts;
}

}  // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const int stations = argc > 1 ? std::max(2, std::atoi(argv[1])) : 3;
    const std::vector<int> portCounts = ParsePortCounts(argc > 2 ? argv[2] : "1,16,64");
    int qtArgc = 1;
    const auto app = MakeApplication(qtArgc, argv);

    const fs::path dir = fs::temp_directory_path() / ("vostrel-bench-stand-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const TByteArray block = WriteBenchPlan(dir / "series.txt");
    const double lineRate = PrintLineCycle(block);

    std::printf("\nThe stand window, %d stations per port; per port the median cycle between packets 09,\n"
                "all ports the sum of the ports' rates. Busy: the longest a 5 ms heartbeat on the window's\n"
                "thread came late while the ports worked.\n",
                stations);
    std::vector<TFigures> all;
    for (const int ports : portCounts) {
        TFigures f = RunShift(ports, stations, dir, dir / "series.txt", block);
        std::printf("\n%d port%s:\n", ports, ports == 1 ? "" : "s");
        if (!f.Refused.empty())
            std::printf("  not run: %s\n", f.Refused.c_str());
        else
            std::printf("  %s%.2f stations per minute; the line's limit x %d = %.2f (%.1f %%); busy at most %.1f ms;"
                        " RSS %ld KiB%s\n",
                        f.Done ? "" : "NOT ALL PROGRAMMED: ", f.Rate, ports, lineRate * ports,
                        100.0 * f.Rate / (lineRate * ports), f.BusyMs, f.RssKb,
                        f.Inexact > 0 ? "; WRONG packets 09" : "");
        std::fflush(stdout);
        all.push_back(f);
    }
    const int most = portCounts.empty() ? 64 : *std::max_element(portCounts.begin(), portCounts.end());
    std::printf("\nWaiting:\n");
    RunWaiting(most, dir, dir / "series.txt");

    std::printf("\n| ports | stations per minute | the line's limit x ports | reached | busy at most | RSS |\n"
                "|---|---|---|---|---|---|\n");
    for (const TFigures& f : all) {
        if (f.Refused.empty())
            std::printf("| %d | %.2f | %.2f | %.1f %% | %.1f ms | %ld KiB |\n", f.Ports, f.Rate, lineRate * f.Ports,
                        100.0 * f.Rate / (lineRate * f.Ports), f.BusyMs, f.RssKb);
    }
    fs::remove_all(dir);
    return 0;
}

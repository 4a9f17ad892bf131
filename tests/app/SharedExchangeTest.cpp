// The window and vostrel-cli drive one station exchange: given the same
// simulated station they put the same bytes on the line with the same pauses.
// And a wait that has ended leaves the window asleep, even while a station
// goes on sending bytes nobody reads.
#include "AppTestSupport.h"

#include "Commands.h"
#include "ParamFile.h"
#include "StationSimulator.h"

#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <fstream>

#include <sys/resource.h>

using namespace vostrel;

namespace {

using std::chrono::duration_cast;

// Under AddressSanitizer every step takes longer, the window's drawing most.
#ifdef __SANITIZE_ADDRESS__
constexpr long kSlowdown = 3;
#else
constexpr long kSlowdown = 1;
#endif

using std::chrono::milliseconds;

// Each byte the utility wrote, with the milliseconds since the byte before
// it on the line, whoever sent that.
struct TUtilityByte {
    std::uint8_t Byte;
    long Gap;
};

std::vector<TUtilityByte> UtilityBytes(const StationSimulator& sim)
{
    const std::vector<LineByte> trace = sim.Trace();
    std::vector<TUtilityByte> out;
    for (std::size_t k = 1; k < trace.size(); ++k) {
        if (!trace[k].FromStation)
            out.push_back({trace[k].Byte,
                           static_cast<long>(duration_cast<milliseconds>(trace[k].Time - trace[k - 1].Time).count())});
    }
    return out;
}

// The window reads the station, is programmed or closed at once as an
// operator's quickest click would, and closes.
std::vector<TUtilityByte> ThroughTheWindow(bool program)
{
    StationSimulator sim(PacedStation());
    sim.SetGreetOnWait(true);
    StopWaitingFlag = false;
    ConnectedFlag = false;
    TfmMain w(PortsOptions({QString::fromStdString(sim.SlavePath())}, 300));
    w.show();
    EXPECT_TRUE(WaitStarted(w, 1));
    EXPECT_TRUE(QTest::qWaitFor([] { return ConnectedFlag; }, 15000));
    if (program) {
        QTest::mouseClick(Ctl<QPushButton>(w, "butProgr"), Qt::LeftButton);
        EXPECT_EQ(sim.ProgrammedBlocks().size(), 1u);
    }
    w.close();
    return UtilityBytes(sim);
}

// vostrel-cli's command, run in this process, on the same station.
std::vector<TUtilityByte> ThroughTheCommandLine(bool program)
{
    StationSimulator sim(PacedStation());
    sim.SetGreetOnWait(true);
    const QTemporaryDir dir;
    const std::string file = dir.filePath(QStringLiteral("plan.txt")).toStdString();
    TParamFile plan;
    plan.Set = ShownSet(DefaultStationBlock(), TParameterSet{});
    std::ofstream(file) << FormatParamFile(plan);

    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    TCliContext context;
    context.Out = out;
    context.Err = err;
    context.CopiesFolder = dir.filePath(QStringLiteral("copies")).toStdString();
    context.LockDir = TestLockDir();
    context.Stop = [] { return false; };
    const std::vector<std::string> args =
        program ? std::vector<std::string>{"program", sim.SlavePath(), file}
                : std::vector<std::string>{"read", sim.SlavePath(), "-o",
                                           dir.filePath(QStringLiteral("read.txt")).toStdString()};
    EXPECT_EQ(RunCommand(ParseCommandLine(args), context), ExitCode::Done);
    std::fclose(out);
    std::fclose(err);
    return UtilityBytes(sim);
}

TEST(SharedExchange, TheWindowAndTheCommandLinePutTheSameBytesOnTheLineWithTheSamePauses)
{
    // read: packet 08, then the goodbye; program: packet 08, then packet 09.
    for (const bool program : {false, true}) {
        SCOPED_TRACE(program ? "program" : "read");
        const std::vector<TUtilityByte> window = ThroughTheWindow(program);
        const std::vector<TUtilityByte> cli = ThroughTheCommandLine(program);
        ASSERT_EQ(window.size(), cli.size());
        ASSERT_GT(window.size(), 7u);
        for (std::size_t k = 0; k < window.size(); ++k) {
            SCOPED_TRACE("byte " + std::to_string(k));
            EXPECT_EQ(window[k].Byte, cli[k].Byte);
            // The window adds its drawing and the click to a pause, a loaded
            // machine a scheduling delay to either; a pause of 50 ms left out
            // or doubled still shows.
            const long longer = std::max(window[k].Gap, cli[k].Gap);
            EXPECT_LE(std::abs(window[k].Gap - cli[k].Gap), kSlowdown * (30 + longer / 10))
                << window[k].Gap << " ms in the window, " << cli[k].Gap << " ms from the command line";
        }
    }
}

TEST(SharedExchange, TheWindowSleepsWhileBytesLieUnreadAfterItsWait)
{
    StationSimulator sim(PacedStation());
    sim.SetGreetOnWait(true);
    StopWaitingFlag = false;
    ConnectedFlag = false;
    TfmMain w(PortsOptions({QString::fromStdString(sim.SlavePath())}));
    w.show();
    ASSERT_TRUE(WaitStarted(w, 1));
    ASSERT_TRUE(QTest::qWaitFor([] { return ConnectedFlag; }, 15000));
    // The station goes on talking while its parameters are shown.
    sim.SendRaw(TByteArray(64, 0x55));
    QTest::qWait(200);

    const auto usage = [] {
        rusage u{};
        getrusage(RUSAGE_THREAD, &u);
        const long cpuMs =
            (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000 + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1000;
        return std::pair<long, long>(u.ru_nvcsw + u.ru_nivcsw, cpuMs);
    };
    const auto before = usage();
    QEventLoop second;
    QTimer::singleShot(1000, &second, &QEventLoop::quit);
    second.exec();
    const auto after = usage();
    EXPECT_TRUE(ConnectedFlag);
    // A wake-up left on the unread bytes spins the loop: thousands of passes
    // and the whole second of CPU. The margins leave room for a loaded machine.
    EXPECT_LE(after.first - before.first, 20);
    EXPECT_LE(after.second - before.second, 300);
    w.close();
}

}  // namespace

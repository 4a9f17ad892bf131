// vostrel-cli's standard streams and signals as a shell leaves them: nohup,
// a reader that leaves, a non-blocking or full output, streams closed at
// start, a record on a stream, a restore whose input can bring nothing.
#include "CliRun.h"
#include "Commands.h"
#include "EdgeBlocks.h"
#include "Output.h"
#include "ParamBlock.h"
#include "ParamFile.h"
#include "Progress.h"
#include "StationSimulator.h"

#include <gtest/gtest.h>

#include <cstring>
#include <poll.h>
#include <thread>

namespace vostrel {

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// User and system time of a process, in clock ticks.
long CpuTicks(pid_t pid)
{
    std::ifstream f("/proc/" + std::to_string(pid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    std::istringstream rest(stat.substr(stat.rfind(')') + 2));
    std::string field;
    long utime = 0, stime = 0;
    // After the name: state is field 3, utime 14, stime 15.
    for (int k = 3; k <= 15 && rest >> field; ++k) {
        if (k == 14)
            utime = std::stol(field);
        if (k == 15)
            stime = std::stol(field);
    }
    return utime + stime;
}

class CliStreams : public TCliScratch {
protected:
    void SetUp() override
    {
        MakeScratch("vostrel-streams-test");
        TParamFile plan;
        plan.Set = WorkedSet();
        std::ofstream(dir / "plan.txt", std::ios::binary) << FormatParamFile(plan);
    }

    std::unique_ptr<TCliRun> Start(const std::vector<std::string>& args, const std::function<void()>& inChild,
                                   bool piped = false, int errPipeBytes = 0)
    {
        auto run = std::make_unique<TCliRun>(args, env, dir, piped, errPipeBytes, TCliInput::Pipe, inChild);
        EXPECT_TRUE(run->Started());
        return run;
    }
    std::string Plan() const { return (dir / "plan.txt").string(); }
    bool Waiting(const TCliRun& run) const
    {
        return Eventually([&] { return run.Err().find("Ожидание") != std::string::npos; }, 15000);
    }
};

}  // namespace

// nohup ignores SIGHUP, a shell's background job SIGINT: the series outlives
// them. Ended by the signal left, before any station, it does not end well.
TEST_F(CliStreams, AnEndingSignalIgnoredAtStartStaysIgnored)
{
    const struct {
        const char* Name;
        int Ignored;
        int End;
    } cases[] = {{"nohup", SIGHUP, SIGINT}, {"background job", SIGINT, SIGTERM}, {"SIGTERM", SIGTERM, SIGINT}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        StationSimulator silent;
        auto run = Start({"program", silent.SlavePath(), Plan(), "--each", "--log", (dir / "bench.csv").string()},
                         [ignored = c.Ignored] { signal(ignored, SIG_IGN); });
        ASSERT_TRUE(Waiting(*run)) << run->Err();
        run->Signal(c.Ignored);
        EXPECT_EQ(run->Wait(1500), -1) << run->Err();
        run->Signal(c.End);
        EXPECT_EQ(run->Wait(10000), ExitCode::Interrupted) << run->Err();
    }
}

// "program ... --each | tee", tee killed while the first station is awaited:
// nothing was written to standard output yet.
TEST_F(CliStreams, AReaderGoneBeforeAnyLineEndsTheWait)
{
    StationSimulator silent;
    int out[2];
    ASSERT_EQ(pipe2(out, O_CLOEXEC), 0);
    auto run =
        Start({"program", silent.SlavePath(), Plan(), "--each"}, [writer = out[1]] { dup2(writer, STDOUT_FILENO); });
    close(out[1]);
    ASSERT_TRUE(Waiting(*run)) << run->Err();
    close(out[0]);
    EXPECT_EQ(run->Wait(5000), ExitCode::OutputLost) << run->Err();
    EXPECT_TRUE(silent.ReceivedBytes().empty());
}

// Standard error's file status made non-blocking by whoever shares it, and
// its pipe full while its reader is still there: full, not gone.
TEST_F(CliStreams, AFullNonBlockingPipeIsWaitedFor)
{
    StationSimulator silent;
    int err[2];
    ASSERT_EQ(pipe2(err, O_CLOEXEC), 0);
    fcntl(err[1], F_SETPIPE_SZ, 4096);
    fcntl(err[1], F_SETFL, O_NONBLOCK);
    fcntl(err[0], F_SETFL, O_NONBLOCK);
    const std::string filler(4096, '.');
    while (write(err[1], filler.data(), filler.size()) > 0) {
    }
    auto run =
        Start({"program", silent.SlavePath(), Plan(), "--each"}, [writer = err[1]] { dup2(writer, STDERR_FILENO); });
    close(err[1]);
    std::this_thread::sleep_for(3s);
    EXPECT_EQ(run->Wait(0), -1);
    // Read at last: what waited comes, and the wait goes on until Ctrl+C.
    std::string shown;
    const auto drain = [&] {
        char buf[4096];
        for (ssize_t n; (n = read(err[0], buf, sizeof buf)) > 0;)
            shown.append(buf, static_cast<std::size_t>(n));
        return shown.find("Ожидание") != std::string::npos;
    };
    EXPECT_TRUE(Eventually(drain, 15000));
    run->Signal(SIGINT);
    Eventually([&] { return drain() && run->Wait(0) != -1; }, 10000);
    EXPECT_EQ(run->Wait(0), ExitCode::Interrupted) << shown;
    close(err[0]);
}

// "vostrel-cli ... <&- >&- 2>&-": the wait sleeps; a spin would take the
// whole of a core.
TEST_F(CliStreams, StreamsClosedAtStartLeaveTheWaitAsleep)
{
    StationSimulator silent;
    auto run = Start({"program", silent.SlavePath(), Plan()}, [] {
        close(STDIN_FILENO);
        close(STDOUT_FILENO);
        close(STDERR_FILENO);
    });
    std::this_thread::sleep_for(2s);
    const long before = CpuTicks(run->Pid());
    std::this_thread::sleep_for(2s);
    const long used = CpuTicks(run->Pid()) - before;
    EXPECT_EQ(run->Wait(0), -1);
    EXPECT_LT(used, 2 * sysconf(_SC_CLK_TCK) / 4);
    run->Signal(SIGINT);
    EXPECT_EQ(run->Wait(10000), ExitCode::Interrupted);
}

// A record that goes to a stream rather than a file: nothing to sync there.
TEST_F(CliStreams, ARecordOnAStreamIsAccepted)
{
    const struct {
        const char* Log;
        bool Piped;  // standard output a pipe, which /dev/stdout then is
    } cases[] = {{"/dev/null", false}, {"/dev/stdout", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Log);
        StationConfig config;
        config.GreetOnWait = true;
        StationSimulator station(config);
        auto run = Start({"program", station.SlavePath(), Plan(), "--log", c.Log}, {}, c.Piped);
        if (c.Piped) {
            EXPECT_TRUE(run->ReadUntil("Время;Порт", 20000));
            EXPECT_TRUE(run->ReadUntil(";запрограммировано;", 20000));
        }
        EXPECT_EQ(run->Wait(20000), ExitCode::Done) << run->Err();
        EXPECT_EQ(station.ProgrammedBlocks().size(), 1u);
    }
}

// "true | vostrel-cli restore": no answer can come, so the station is not
// read; an answer already in a pipe whose writer closed is not used up by
// finding that out.
TEST_F(CliStreams, RestoreRefusesAnInputThatCanBringNothing)
{
    TByteArray held{0x00, 0xEE, 0x39, 0x00, 0xF3, 0xC5, 0x00, 0xB5, 0xF9,
                    0xF0, 0xC8, 0x03, 0x7F, 0x18, 0x0D, 0x1C, 0x64, 0x5F};
    held.resize(kBlockSize, 0x77);
    TParamFile copy;
    copy.Kind = "read";
    copy.When = "2026-12-07 21:03:55";
    copy.Port = "COM1";
    copy.Set = ShownSet(held, TParameterSet{});
    copy.Raw = held;
    std::ofstream(dir / "copy.txt", std::ios::binary) << FormatParamFile(copy);

    const struct {
        const char* Name;
        const char* Answer;
        int Code;
        std::size_t Programmed;
    } cases[] = {{"empty, writer closed", "", ExitCode::Usage, 0}, {"answered, writer closed", "д\n", 0, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        StationConfig config;
        config.GreetOnWait = true;
        StationSimulator station(config);
        auto run = Start({"restore", station.SlavePath(), (dir / "copy.txt").string()}, [answer = c.Answer] {
            int in[2];
            if (pipe(in) != 0)
                _exit(126);
            [[maybe_unused]] const ssize_t n = write(in[1], answer, strlen(answer));
            close(in[1]);
            dup2(in[0], STDIN_FILENO);
        });
        EXPECT_EQ(run->Wait(20000), c.Code) << run->Err();
        EXPECT_EQ(station.ProgrammedBlocks().size(), c.Programmed);
        if (c.Programmed == 0) {
            EXPECT_TRUE(station.ReceivedBytes().empty());
        }
    }
}

// Standard output on a full disk: the result line is lost, and said to be.
TEST_F(CliStreams, OutputToAFullDiskEndsAsLost)
{
    StationConfig config;
    config.GreetOnWait = true;
    StationSimulator station(config);
    auto run = Start({"program", station.SlavePath(), Plan()}, [] {
        const int full = open("/dev/full", O_WRONLY);
        dup2(full, STDOUT_FILENO);
    });
    EXPECT_EQ(run->Wait(20000), ExitCode::OutputLost) << run->Err();
    EXPECT_EQ(station.ProgrammedBlocks().size(), 1u);
}

// On a terminal the wait is one status line counting its seconds.
TEST_F(CliStreams, ATerminalShowsTheStatusLine)
{
    StationSimulator silent;
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master) | unlockpt(master), 0);
    const int terminal = open(ptsname(master), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(terminal, 0);
    auto run = Start({"program", silent.SlavePath(), Plan()}, [terminal] { dup2(terminal, STDERR_FILENO); });
    close(terminal);
    std::string shown;
    const auto seen = [&](const std::string& text) {
        return Eventually(
            [&] {
                char buf[512];
                pollfd p{master, POLLIN, 0};
                while (poll(&p, 1, 0) == 1 && (p.revents & POLLIN) != 0) {
                    const ssize_t n = read(master, buf, sizeof buf);
                    if (n <= 0)
                        break;
                    shown.append(buf, static_cast<std::size_t>(n));
                }
                return shown.find(text) != std::string::npos;
            },
            15000);
    };
    EXPECT_TRUE(seen("\rОжидание сообщения от станции на порту " + silent.SlavePath() + " ... 2 с")) << shown;
    run->Signal(SIGINT);
    EXPECT_TRUE(seen("больше не ждёт станцию.")) << shown;
    EXPECT_EQ(run->Wait(10000), ExitCode::Interrupted);
    close(master);
}

// A refused answer is a station met: the port was not idle.
TEST_F(CliStreams, APortWhoseStationsWereAllRefusedWasNotIdle)
{
    StationConfig config;
    config.GreetOnWait = true;
    StationSimulator station(config);
    station.SetFault(StationFault::Corrupt, -1, true);
    auto run = Start({"program", station.SlavePath(), Plan(), "--each"}, {});
    EXPECT_TRUE(Eventually([&] { return station.AnswerCount() >= 2; }, 20000));
    run->Signal(SIGINT);
    EXPECT_EQ(run->Wait(10000), ExitCode::Interrupted);
    EXPECT_NE(run->Out().find("запрограммировано 0, отклонено "), std::string::npos) << run->Out();
    EXPECT_EQ(run->Out().find("станций не было"), std::string::npos) << run->Out();
}

// A pipe in this process that the writer blocks on until Drain reads it all.
class TStalled {
public:
    TStalled()
    {
        if (pipe2(m_pipe, O_CLOEXEC) != 0 || (Out = fdopen(m_pipe[1], "w")) == nullptr)
            return;
        // The writer takes this and blocks on the full pipe.
        Emit(Out, std::string(1 << 20, 'a') + "\n");
        pollfd p{m_pipe[0], POLLIN, 0};
        Blocked = poll(&p, 1, 5000) == 1;
    }
    ~TStalled() { close(m_pipe[0]); }

    // Everything written once the writer is through, the blocking text apart.
    std::string Drain()
    {
        std::string read;
        std::thread reader([&] {
            char buf[65536];
            for (ssize_t n; (n = ::read(m_pipe[0], buf, sizeof buf)) > 0;)
                read.append(buf, static_cast<std::size_t>(n));
        });
        FlushOutput();
        std::fclose(Out);
        reader.join();
        return read.substr(std::min<std::size_t>(read.size(), (1u << 20) + 1));
    }

    std::FILE* Out = nullptr;
    bool Blocked = false;

private:
    int m_pipe[2] = {-1, -1};
};

// Much queued behind a stalled terminal: the status line drawn before it is
// still erased before the next lasting line.
TEST_F(CliStreams, TheStatusLinesEraseIsNeverDropped)
{
    TStalled stalled;
    ASSERT_TRUE(stalled.Blocked);
    {
        TProgress progress(stalled.Out, true);
        progress.Status("Ожидание");
        Emit(stalled.Out, std::string(100 * 1024, 'b') + "\n");
        progress.Note("после");
    }
    const std::string shown = stalled.Drain();
    EXPECT_NE(shown.find("\n\r" + std::string(Utf8Length("Ожидание"), ' ') + "\rпосле\n"), std::string::npos);
}

// A terminal stalled for long: past the hard cap lines are dropped, and the
// count told afterwards is of lines, not of the redraws and erases dropped
// with them. In this process, through the writer itself: reaching the cap
// through a real exchange would take hours of stations.
TEST_F(CliStreams, TheLostCountIsOfLines)
{
    TStalled stalled;
    ASSERT_TRUE(stalled.Blocked);
    const std::string line = std::string(65535, 'b') + "\n";
    for (int k = 0; k < 1024; ++k)
        Emit(stalled.Out, line);  // exactly the hard cap: all kept
    for (int k = 0; k < 5; ++k) {
        Emit(stalled.Out, "\rstatus " + std::to_string(k), TText::Redraw);
        Emit(stalled.Out, "\r          \r");
        Emit(stalled.Out, "dropped\n");
    }
    const std::string read = stalled.Drain();
    EXPECT_NE(read.find("(вывод отставал: пропущено строк — 5)\n"), std::string::npos);
    EXPECT_EQ(read.find("dropped"), std::string::npos);
    EXPECT_EQ(read.size(), 1024u * 65536 + std::string("(вывод отставал: пропущено строк — 5)\n").size());
}

}  // namespace vostrel

// The built program itself, with its own timings, against a simulated station
// that stands in for its "COM1" inside a private mount namespace.
#include "ChildGuard.h"
#include "CommandOutput.h"
#include "Packets.h"
#include "ParamFile.h"
#include "SentAt.h"
#include "StationSimulator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace vostrel;

extern char** environ;

namespace {

using namespace std::chrono_literals;

long long Ms(SimClock::duration d)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(d).count();
}

// The program as shipped, with its own timings, on a station at the real line
// rate: the first exchange gets no answer, the second a late one. What shows
// on the line is measured, with margins wide enough for a loaded machine but
// far narrower than any wrong default.
TEST(ProgramTest, ConfirmsReadsAndSaysGoodbyeOnItsOwnTimings)
{
    StationConfig line = PacedStation();
    std::mutex mutex;
    std::vector<SimClock::time_point> purges;
    line.OnEvent = [&](SimClock::time_point t, const std::string& what) {
        if (what == "utility purged its input") {
            std::lock_guard<std::mutex> lock(mutex);
            purges.push_back(t);
        }
    };
    StationSimulator station(line);
    station.SetFault(StationFault::Silence);
    station.SetGreetOnWait(true);

    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string var(*e);
        if (var.rfind("QT_QPA_PLATFORM=", 0) != 0 && var.rfind("XDG_DATA_HOME=", 0) != 0)
            env.emplace_back(*e);
    }
    env.emplace_back("QT_QPA_PLATFORM=offscreen");
    // The program's data folder, where it keeps its copies, is the test's.
    std::string dataHome = "/tmp/vostrel-program-test-XXXXXX";
    ASSERT_NE(mkdtemp(dataHome.data()), nullptr);
    struct TRemove {
        std::string Path;
        ~TRemove() { std::filesystem::remove_all(Path); }
    } removeDataHome{dataHome};
    env.push_back("XDG_DATA_HOME=" + dataHome);
    std::vector<char*> envp;
    for (auto& s : env)
        envp.push_back(s.data());
    envp.push_back(nullptr);
    const std::string script = VOSTREL_AS_COM1, program = VOSTREL_PROGRAM, term = station.SlavePath();
    std::vector<char*> argv{const_cast<char*>(script.c_str()), const_cast<char*>(term.c_str()),
                            const_cast<char*>(program.c_str()), nullptr};

    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        execve(script.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    TChildGuard running(pid);
    auto confirmations = [&] {
        std::vector<ReceivedPacket> out;
        for (const ReceivedPacket& p : station.Packets()) {
            if (p.Number == kPacketConfirm)
                out.push_back(p);
        }
        return out;
    };

    if (!station.WaitFor([&] { return confirmations().size() >= 1; }, 30000ms)) {
        const int status = running.Wait(100);
        if (status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 77)
            GTEST_SKIP() << "this machine allows no private mount namespace, so the program's COM1 cannot be pointed "
                            "at the simulator";
        FAIL() << "the program never confirmed a greeting";
    }
    // The second answer comes late in the program's reading window.
    station.SetAnswerDelay(800ms);
    const bool second = station.WaitFor([&] { return station.AnswerCount() >= 1; }, 15000ms);
    const auto confirms = confirmations();
    ASSERT_TRUE(second && confirms.size() >= 2) << "no second exchange after the silent one";
    const TByteArray confirmLine{0x10, 0x08, 0x00, 0x06, 0x70, 0x10, 0x03};
    EXPECT_EQ(confirms[0].Line, confirmLine);

    // Greeting to confirmation: polled every 20 ms, confirmed 50 ms after the ETX.
    const auto trace = station.Trace();
    const std::vector<std::size_t> confirmAt = SentAt(trace, confirmLine);
    ASSERT_GE(confirmAt.size(), confirms.size());
    for (std::size_t k = 0; k < confirms.size(); ++k) {
        SCOPED_TRACE("confirmation " + std::to_string(k));
        ASSERT_GT(confirmAt[k], 0u);
        const LineByte& first = trace[confirmAt[k]];
        const LineByte& etx = trace[confirmAt[k] - 1];
        ASSERT_TRUE(etx.FromStation && etx.Byte == kEtx);
        EXPECT_GE(Ms(first.Time - etx.Time), 49);
        EXPECT_LE(Ms(first.Time - etx.Time), 400);
    }

    // The silent exchange: the reading window (1000 ms), then the timer (555 ms)
    // before the next wait purges the line.
    {
        std::lock_guard<std::mutex> lock(mutex);
        const auto next = std::find_if(purges.begin(), purges.end(),
                                       [&](SimClock::time_point t) { return t > confirms[0].End + 100ms; });
        ASSERT_NE(next, purges.end());
        EXPECT_GE(Ms(*next - confirms[0].End), 1500);
        EXPECT_LE(Ms(*next - confirms[0].End), 2200);
    }

    // Wait for the whole late answer and the window's end, then close as a
    // session does: connected, the program says goodbye some 250 ms later.
    const std::size_t answer = StationAnswerLine(DefaultStationBlock()).size();
    ASSERT_TRUE(station.WaitFor(
        [&] {
            const auto t = station.Trace();
            return static_cast<std::size_t>(std::count_if(t.begin(), t.end(), [&](const LineByte& b) {
                       return b.FromStation && b.Time > confirms[1].End;
                   })) >= answer;
        },
        10000ms));
    std::this_thread::sleep_until(confirms[1].End + 1000ms + 3000ms);
    const auto terminated = SimClock::now();
    ASSERT_EQ(kill(running.Pid(), SIGTERM), 0);
    EXPECT_TRUE(station.WaitFor([&] { return station.GoodbyeCount() == 1; }, 10000ms))
        << "no goodbye: the late answer was not taken";
    const int status = running.Wait(15000);
    ASSERT_NE(status, -1) << "the program did not end after its window closed";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    const TByteArray goodbyeLine{0x10, 0x00, 0x00, 0x01, 0xB0, 0x10, 0x03};
    const auto after = station.Packets();
    ASSERT_GE(after.size(), 3u);
    EXPECT_EQ(after.back().Line, goodbyeLine);
    const auto lastTrace = station.Trace();
    const std::vector<std::size_t> goodbyeAt = SentAt(lastTrace, goodbyeLine);
    ASSERT_FALSE(goodbyeAt.empty());
    const auto goodbyeStart = lastTrace[goodbyeAt.back()].Time;
    EXPECT_GE(Ms(goodbyeStart - terminated), 240);
    EXPECT_LE(Ms(goodbyeStart - terminated), 2000);

    // The station shown was kept in the user's data folder, under the name
    // the list shows with the device it reached.
    std::vector<std::filesystem::path> copies;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(dataHome + "/vostrel/copies", ec))
        copies.push_back(entry.path());
    ASSERT_EQ(copies.size(), 1u) << ec.message();
    EXPECT_TRUE(copies[0].filename().string().ends_with("_COM1_read.txt")) << copies[0];
    std::ostringstream text;
    text << std::ifstream(copies[0]).rdbuf();
    TParamFile copy;
    TParamFileError error;
    ASSERT_TRUE(ParseParamFile(text.str(), copy, error)) << DescribeParamFileError(error);
    EXPECT_EQ(copy.Raw, DefaultStationBlock());
    EXPECT_EQ(copy.Port, "COM1 (/dev/COM1)");
}

}  // namespace

// --version answers before the toolkit starts: with a platform that does not
// exist, any window, or the application object itself, would abort the program.
TEST(ProgramTest, VersionNeedsNoWindow)
{
    const struct {
        const char* Name;
        const char* Args;
    } rows[] = {
        {"alone", "--version"},
        {"among the toolkit's own arguments", "-style fusion --version -reverse"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Name);
        const std::string command =
            std::string("QT_QPA_PLATFORM=no-such-platform '") + VOSTREL_PROGRAM + "' " + row.Args + " 2>/dev/null";
        int status = -1;
        const std::string text = CommandOutput(command, status);
        ASSERT_NE(status, -1);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        EXPECT_EQ(text, "vostrel " VOSTREL_VERSION "\n");
    }
}

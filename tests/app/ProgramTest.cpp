// The built program itself against a simulated station that stands in for
// its "COM1" inside a private mount namespace.
#include "Packets.h"
#include "StationSimulator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace vostrel;

extern char** environ;

namespace {

using namespace std::chrono_literals;

TEST(ProgramTest, ConfirmsTheGreetingAndSaysGoodbyeWhenClosed)
{
    StationConfig line;
    line.ByteInterval = kLineByteTime;
    line.AnswerDelay = 30ms;
    StationSimulator station(line);
    station.SetGreetOnWait(true);

    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        if (std::string(*e).rfind("QT_QPA_PLATFORM=", 0) != 0)
            env.emplace_back(*e);
    }
    env.emplace_back("QT_QPA_PLATFORM=offscreen");
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
    auto reap = [&](int ms) {
        int status = -1;
        for (int i = 0; i < ms / 10; ++i) {
            if (waitpid(pid, &status, WNOHANG) == pid)
                return status;
            usleep(10000);
        }
        return -1;
    };

    const bool answered = station.WaitFor([&] { return station.AnswerCount() >= 1; }, 30000ms);
    if (!answered) {
        const int status = reap(100);
        if (status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 77)
            GTEST_SKIP() << "this machine allows no private mount namespace, so the program's COM1 cannot be pointed "
                            "at the simulator";
        kill(pid, SIGKILL);
        reap(5000);
        FAIL() << "the program never confirmed a greeting";
    }
    const auto packets = station.Packets();
    ASSERT_FALSE(packets.empty());
    EXPECT_EQ(packets[0].Line, (TByteArray{0x10, 0x08, 0x00, 0x06, 0x70, 0x10, 0x03}));

    // The program takes every byte for 1000 ms after packet 08 and then shows
    // the parameters: wait until the whole answer is on the line, then for
    // that window to pass, with a wide margin for a loaded machine.
    const auto confirmed = packets[0].End;
    const std::size_t answer = StationAnswerLine(DefaultStationBlock()).size();
    ASSERT_TRUE(station.WaitFor(
        [&] {
            const auto trace = station.Trace();
            return static_cast<std::size_t>(std::count_if(trace.begin(), trace.end(), [&](const LineByte& b) {
                       return b.FromStation && b.Time > confirmed;
                   })) >= answer;
        },
        10000ms));
    std::this_thread::sleep_until(confirmed + 1000ms + 3000ms);

    // End it as a session would: the window closes and, being connected, says
    // goodbye.
    ASSERT_EQ(kill(pid, SIGTERM), 0);
    EXPECT_TRUE(station.WaitFor([&] { return station.GoodbyeCount() == 1; }, 10000ms));
    const int status = reap(15000);
    if (status == -1)
        kill(pid, SIGKILL), reap(5000);
    ASSERT_NE(status, -1) << "the program did not end after its window closed";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    const auto after = station.Packets();
    ASSERT_GE(after.size(), 2u);
    EXPECT_EQ(after.back().Line, (TByteArray{0x10, 0x00, 0x00, 0x01, 0xB0, 0x10, 0x03}));
}

}  // namespace

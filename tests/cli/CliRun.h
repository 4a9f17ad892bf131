// The built vostrel-cli run as a process: its arguments, an environment with
// a private data folder, its standard input, output and error.
#pragma once

#include "ChildGuard.h"
#include "FileText.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <string_view>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

extern char** environ;

namespace vostrel {

// What the child's standard input is: a pipe, or a pty where it is asked.
// Standard input: a pipe Type writes to, a pty, or /dev/null.
enum class TCliInput { Pipe, Terminal, Nothing };

class TCliRun {
public:
    // Starts VOSTREL_CLI with args; env entries ("NAME=value") replace the
    // inherited ones of that name. Output goes to files in dir, or with piped
    // both streams into one pipe that ReadUntil reads and CloseOutput ends;
    // errPipeBytes > 0 sends standard error alone into a pipe of that size.
    // Type writes to its standard input, a pipe or a pty as stdinKind says.
    // inChild runs in the child just before the program starts, to change
    // its streams or signals: only calls safe after a fork (dup2, close,
    // open, fcntl, pipe, write, sigaction).
    TCliRun(const std::vector<std::string>& args, const std::vector<std::string>& env, const std::filesystem::path& dir,
            bool piped = false, int errPipeBytes = 0, TCliInput stdinKind = TCliInput::Pipe,
            const std::function<void()>& inChild = {})
        : m_out(dir / "stdout.txt"), m_err(dir / "stderr.txt")
    {
        std::vector<std::string> environment = env;
        for (char** e = environ; *e != nullptr; ++e) {
            const std::string entry(*e);
            const std::string name = entry.substr(0, entry.find('=') + 1);
            bool replaced = false;
            for (const std::string& mine : env)
                replaced = replaced || mine.rfind(name, 0) == 0;
            if (!replaced)
                environment.push_back(entry);
        }
        std::vector<std::string> argv{VOSTREL_CLI};
        argv.insert(argv.end(), args.begin(), args.end());

        // Everything the child needs is made before the fork: the simulator's
        // thread runs, so the child may only call what is safe there.
        std::vector<char*> a, e;
        for (auto& s : argv)
            a.push_back(s.data());
        a.push_back(nullptr);
        for (auto& s : environment)
            e.push_back(s.data());
        e.push_back(nullptr);
        const int out = open(m_out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        const int err = open(m_err.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        int input[2];
        int output[2] = {-1, -1};
        const bool ownPipe = piped || errPipeBytes > 0;
        if (out < 0 || err < 0 || (ownPipe && pipe2(output, O_CLOEXEC) != 0))
            return;
        if (!OpenInput(stdinKind, input))
            return;
        if (errPipeBytes > 0)
            fcntl(output[1], F_SETPIPE_SZ, errPipeBytes);
        const pid_t pid = fork();
        if (pid == 0) {
            dup2(input[0], STDIN_FILENO);
            dup2(piped ? output[1] : out, STDOUT_FILENO);
            dup2(ownPipe ? output[1] : err, STDERR_FILENO);
            if (inChild)
                inChild();
            execve(a[0], a.data(), e.data());
            _exit(127);
        }
        m_child.Reset(pid);
        close(out);
        close(err);
        close(input[0]);
        m_input = input[1];
        if (ownPipe) {
            close(output[1]);
            m_pipe = output[0];
            fcntl(m_pipe, F_SETFL, O_NONBLOCK);
        }
    }

    ~TCliRun()
    {
        CloseOutput();
        if (m_input >= 0)
            close(m_input);
    }

    TCliRun(const TCliRun&) = delete;
    TCliRun& operator=(const TCliRun&) = delete;

    bool Started() const { return m_child.Pid() > 0; }
    pid_t Pid() const { return m_child.Pid(); }

    void Type(const std::string& text) { [[maybe_unused]] const auto n = write(m_input, text.data(), text.size()); }

    void Signal(int signal) const { m_child.Signal(signal); }

    // Reads the piped output until it holds text; false after ms without it.
    bool ReadUntil(const std::string& text, int ms)
    {
        for (int waited = 0; m_piped.find(text) == std::string::npos; waited += 10) {
            char buf[256];
            const ssize_t n = m_pipe < 0 ? -1 : read(m_pipe, buf, sizeof buf);
            if (n > 0)
                m_piped.append(buf, static_cast<std::size_t>(n));
            else if (n == 0 || waited > ms)
                return false;
            else
                usleep(10000);
        }
        return true;
    }

    // The reader goes away, as | head does once it has its lines.
    void CloseOutput()
    {
        if (m_pipe >= 0)
            close(m_pipe);
        m_pipe = -1;
    }

    // The exit code, -1 while running after ms, 128 + n for signal n.
    int Wait(int ms)
    {
        const int status = m_child.Wait(ms);
        return status == -1 ? -1 : WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    std::string Out() const { return FileText(m_out); }
    std::string Err() const { return FileText(m_err); }

private:
    // A pty for the child's standard input: [0] its side, [1] ours.
    static bool OpenInput(TCliInput kind, int (&input)[2])
    {
        if (kind == TCliInput::Terminal)
            return OpenTerminal(input);
        if (kind == TCliInput::Pipe)
            return pipe2(input, O_CLOEXEC) == 0;
        input[0] = open("/dev/null", O_RDONLY | O_CLOEXEC);
        input[1] = open("/dev/null", O_WRONLY | O_CLOEXEC);
        return input[0] >= 0 && input[1] >= 0;
    }

    static bool OpenTerminal(int (&input)[2])
    {
        input[1] = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (input[1] < 0 || grantpt(input[1]) != 0 || unlockpt(input[1]) != 0)
            return false;
        const char* name = ptsname(input[1]);
        input[0] = name == nullptr ? -1 : open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
        return input[0] >= 0;
    }

    std::filesystem::path m_out, m_err;
    int m_input = -1;
    int m_pipe = -1;
    std::string m_piped;
    TChildGuard m_child;  // last: stopped once the input and output are closed
};

// Polls pred every 50 ms for up to ms: for conditions over processes and
// simulators that say nothing when they come true.
inline bool Eventually(const std::function<bool()>& pred, int ms)
{
    for (int waited = 0; !pred(); waited += 50) {
        if (waited > ms)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

// A test's own scratch folder, named by kind and test, with a data folder
// for the copies and the environment that points the program at it.
class TCliScratch : public ::testing::Test {
protected:
    void MakeScratch(std::string_view kind)
    {
        dir =
            std::filesystem::temp_directory_path() / (std::string(kind) + "-" + std::to_string(getpid()) + "-" +
                                                      ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir / "data");
        env = {"XDG_DATA_HOME=" + (dir / "data").string(), "HOME=" + dir.string(), "LC_ALL=C.UTF-8"};
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    std::filesystem::path dir;
    std::vector<std::string> env;
};

}  // namespace vostrel

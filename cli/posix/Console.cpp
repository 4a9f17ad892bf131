#include "Console.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vostrel {

namespace {

// Lock-free, so safe in the handler, and seen by every port's thread.
std::atomic<bool> g_interrupted{false};
std::atomic<bool> g_woken{false};
static_assert(std::atomic<bool>::is_always_lock_free);
// Written by the handler, so a sleep on the line ends with the interrupt even
// when it comes just before the sleep begins. Never drained: the interrupt
// stays, and only waits that end on it look at it, so nothing spins on it.
int g_wakePipe[2] = {-1, -1};

void Wake()
{
    g_woken = true;
    const int saved = errno;
    if (g_wakePipe[1] >= 0) {
        const char b = 1;
        [[maybe_unused]] const ssize_t n = ::write(g_wakePipe[1], &b, 1);
    }
    errno = saved;
}

void OnSignal(int)
{
    g_interrupted = true;
    Wake();
}

}  // namespace

void WakeWaits()
{
    Wake();
}

void InstallInterruptHandlers()
{
    if (g_wakePipe[0] < 0 && ::pipe2(g_wakePipe, O_CLOEXEC | O_NONBLOCK) != 0)
        g_wakePipe[0] = g_wakePipe[1] = -1;
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    // No SA_RESTART: a read of the operator's answer must end at once.
    sa.sa_flags = 0;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
    // A reader that went away (| head, a killed tee) must not end the
    // program between two bytes of a packet: writes fail and are noticed.
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, nullptr);
}

bool Interrupted()
{
    return g_interrupted;
}

bool WaitReadableOrInterrupt(int descriptor, int timeoutMs)
{
    if (descriptor < 0 || g_wakePipe[0] < 0)
        return false;
    if (g_woken)
        return true;
    pollfd p[2] = {{descriptor, POLLIN, 0}, {g_wakePipe[0], POLLIN, 0}};
    // EINTR too is a reason to look.
    ::poll(p, 2, timeoutMs);
    return true;
}

bool WaitReadable(int descriptor, int timeoutMs)
{
    if (descriptor < 0)
        return false;
    pollfd p{descriptor, POLLIN, 0};
    ::poll(&p, 1, timeoutMs);
    return true;
}

void MarkFinished()
{}

void PrepareConsole()
{}

bool IsTerminal(std::FILE* stream)
{
    return ::isatty(::fileno(stream)) == 1;
}

bool CanReadAnswer()
{
    struct stat st {};
    if (::fstat(STDIN_FILENO, &st) != 0)
        return false;
    if (::isatty(STDIN_FILENO) == 1 || S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode))
        return true;
    return S_ISREG(st.st_mode) && st.st_size > 0;
}

std::optional<std::string> ReadAnswerLine()
{
    std::string line;
    for (;;) {
        if (Interrupted())
            return std::nullopt;
        pollfd p{STDIN_FILENO, POLLIN, 0};
        const int ready = ::poll(&p, 1, 100);
        if (ready < 0 && errno != EINTR)
            return std::nullopt;
        if (ready <= 0)
            continue;
        char c = 0;
        const ssize_t n = ::read(STDIN_FILENO, &c, 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return line.empty() ? std::nullopt : std::optional<std::string>(line);
        if (c == '\n')
            return line;
        if (c != '\r')
            line.push_back(c);
    }
}

}  // namespace vostrel

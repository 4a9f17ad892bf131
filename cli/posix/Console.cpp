#include "Console.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
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

// Job-control stops. Packets on the line now; a stop under way (no packet
// may begin); the stop signal the last packet to end carries out.
std::atomic<int> g_sending{0};
std::atomic<bool> g_stopping{false};
std::atomic<int> g_pendingStop{0};
// The stop signals whose handler is ours (not ignored since the start).
std::atomic<bool> g_stopHandled[3] = {false, false, false};
constexpr int kStopSignals[3] = {SIGTSTP, SIGTTOU, SIGTTIN};

void OnStopSignal(int signal);

// Installs handler for signal unless the program was started ignoring it;
// whether it did.
bool Handle(int signal, void (*handler)(int))
{
    struct sigaction old {};
    if (sigaction(signal, nullptr, &old) == 0 && old.sa_handler == SIG_IGN)
        return false;
    struct sigaction sa {};
    sa.sa_handler = handler;
    sigemptyset(&sa.sa_mask);
    // No SA_RESTART: a read of the operator's answer must end at once.
    sa.sa_flags = 0;
    return sigaction(signal, &sa, nullptr) == 0;
}

// Stops the whole job with the signal's own default action, as if nobody
// had caught it; returns once the job is continued. Safe in a handler.
void StopNow(int signal)
{
    struct sigaction dfl {};
    struct sigaction ours {};
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    sigaction(signal, &dfl, &ours);
    sigset_t one;
    sigset_t before;
    sigemptyset(&one);
    sigaddset(&one, signal);
    // Blocked inside its handler and in the writer thread: let it through here.
    pthread_sigmask(SIG_UNBLOCK, &one, &before);
    raise(signal);
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    sigaction(signal, &ours, nullptr);
}

void RunPendingStop()
{
    if (const int signal = g_pendingStop.exchange(0); signal != 0) {
        StopNow(signal);
        g_stopping = false;
    }
}

// Begins a stop unless one is under way: at once when no packet is on the
// line, otherwise when the last packet ends.
bool BeginStop(int signal)
{
    if (g_stopping.exchange(true))
        return false;
    g_pendingStop = signal;
    if (g_sending == 0)
        RunPendingStop();
    return true;
}

void OnStopSignal(int signal)
{
    const int saved = errno;
    BeginStop(signal);
    errno = saved;
}

}  // namespace

void WakeWaits()
{
    Wake();
}

void OpenClosedStandardStreams()
{
    // The lowest free number is taken: one open per closed stream, in order.
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        const int opened = ::open("/dev/null", O_RDWR);
        if (opened >= 0 && opened != fd) {
            ::dup2(opened, fd);
            ::close(opened);
        }
    }
}

void PacketBegins()
{
    for (;;) {
        ++g_sending;
        if (!g_stopping)
            return;
        PacketEnded();
        ::usleep(1000);
    }
}

void PacketEnded()
{
    if (--g_sending == 0)
        RunPendingStop();
}

void HoldTerminalStopsInThisThread()
{
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGTTOU);
    sigaddset(&stops, SIGTTIN);
    pthread_sigmask(SIG_BLOCK, &stops, nullptr);
}

void StopIfBackgroundWriter(int descriptor)
{
    // Only where the system would have stopped the writer itself.
    if (!g_stopHandled[1] || ::isatty(descriptor) != 1)
        return;
    const pid_t foreground = ::tcgetpgrp(descriptor);
    termios modes{};
    if (foreground < 0 || foreground == ::getpgrp() || ::tcgetattr(descriptor, &modes) != 0 ||
        (modes.c_lflag & TOSTOP) == 0)
        return;
    BeginStop(SIGTTOU);
    while (g_stopping)
        ::usleep(1000);
}

void InstallInterruptHandlers()
{
    if (g_wakePipe[0] < 0 && ::pipe2(g_wakePipe, O_CLOEXEC | O_NONBLOCK) != 0)
        g_wakePipe[0] = g_wakePipe[1] = -1;
    // nohup, or a shell's background job, meant these not to end the program.
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        Handle(signal, OnSignal);
    for (int k = 0; k < 3; ++k)
        g_stopHandled[k] = Handle(kStopSignals[k], OnStopSignal);
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
    if (::isatty(STDIN_FILENO) == 1)
        return true;
    if (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode)) {
        // "true | vostrel-cli restore": the writer may be ending just now,
        // so it gets a moment. Poll and FIONREAD consume nothing.
        pollfd p{STDIN_FILENO, POLLIN, 0};
        if (::poll(&p, 1, 200) <= 0)
            return true;  // still silent, but its writer is there
        // Readable with nothing in it: its end.
        int waiting = 0;
        if (::ioctl(STDIN_FILENO, FIONREAD, &waiting) == 0)
            return waiting > 0;
        return (p.revents & (POLLHUP | POLLERR | POLLNVAL)) == 0;
    }
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

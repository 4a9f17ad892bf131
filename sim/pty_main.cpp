// vostrel-pty MODE: a bare pseudo-terminal for the line tests of the Windows
// build, whose COM ports Wine maps to ptys. The first line of output is the
// slave path. Modes:
//   silent        never reads: writes to the slave fill it up and stall
//   record FILE   appends every byte the other side writes to FILE
//   hangup        closes the master at the first byte written to the slave
// It keeps a slave descriptor of its own, so the other side may close and
// reopen the slave freely, and ends on SIGTERM or after ten minutes.
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t g_stop = 0;

void OnSignal(int)
{
    g_stop = 1;
}

int Fail(const char* what)
{
    std::fprintf(stderr, "vostrel-pty: %s: %s\n", what, std::strerror(errno));
    return 1;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    if (!(mode == "silent" || mode == "hangup" || (mode == "record" && argc > 2))) {
        std::fputs("usage: vostrel-pty silent | record FILE | hangup\n", stderr);
        return 2;
    }
    std::signal(SIGTERM, OnSignal);
    std::signal(SIGINT, OnSignal);
    std::signal(SIGPIPE, SIG_IGN);

    int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0)
        return Fail("pty");
    const char* name = ::ptsname(master);
    if (!name)
        return Fail("ptsname");
    const std::string slavePath = name;
    const int slave = ::open(slavePath.c_str(), O_RDWR | O_NOCTTY);
    if (slave < 0)
        return Fail("slave");
    // A raw line, so that every byte passes as it is.
    termios t{};
    ::tcgetattr(slave, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(slave, TCSANOW, &t);

    int record = -1;
    if (mode == "record") {
        record = ::open(argv[2], O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (record < 0)
            return Fail(argv[2]);
    }
    std::printf("%s\n", slavePath.c_str());
    std::fflush(stdout);

    const auto end = std::chrono::steady_clock::now() + std::chrono::minutes(10);
    while (!g_stop && std::chrono::steady_clock::now() < end) {
        if (mode == "silent" || master < 0) {
            ::usleep(50 * 1000);
            continue;
        }
        pollfd p{master, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0 || !(p.revents & POLLIN))
            continue;
        unsigned char buf[4096];
        const ssize_t n = ::read(master, buf, sizeof buf);
        if (n <= 0)
            continue;
        if (mode == "hangup") {
            ::close(master);
            master = -1;
            continue;
        }
        if (::write(record, buf, static_cast<std::size_t>(n)) != n)
            return Fail("record");
    }
    if (master >= 0)
        ::close(master);
    ::close(slave);
    return 0;
}

// A child process a test starts, stopped and reaped however the test ends:
// a failed assertion returns early, and a child left running would hold the
// test's output open and keep the whole run waiting.
#pragma once

#include <atomic>
#include <cerrno>
#include <csignal>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

namespace vostrel {

// Holds a child from fork (a PID of -1 or 0 holds none). Stop, and the
// destructor, send SIGTERM, give the child graceMs to end, then SIGKILL, and
// reap it. A child once reaped is never signalled again.
class TChildGuard {
public:
    explicit TChildGuard(pid_t pid = -1, int graceMs = 5000) : m_graceMs(graceMs) { Reset(pid); }
    ~TChildGuard() { Stop(); }
    TChildGuard(const TChildGuard&) = delete;
    TChildGuard& operator=(const TChildGuard&) = delete;

    // Stops the child held, if any, and holds pid instead.
    void Reset(pid_t pid)
    {
        Stop();
        m_pid = pid > 0 ? pid : -1;
        m_status = -1;
        m_running = m_pid > 0;
    }

    pid_t Pid() const { return m_pid; }  // also once reaped

    // Safe from another thread while the holder waits.
    void Signal(int signal) const
    {
        if (m_running)
            ::kill(m_pid, signal);
    }

    // The wait status once the child has ended, waiting up to ms for that;
    // -1 while it runs, or when there is none.
    int Wait(int ms)
    {
        for (int waited = 0; m_running; waited += 10) {
            int status = 0;
            const pid_t r = ::waitpid(m_pid, &status, WNOHANG);
            if (r == m_pid || (r < 0 && errno == ECHILD)) {
                m_status = r == m_pid ? status : -1;
                m_running = false;
            } else if (waited >= ms) {
                return -1;
            } else {
                ::usleep(10000);
            }
        }
        return m_status;
    }

    // Ends the child if it still runs; its wait status, as Wait gives it.
    int Stop()
    {
        if (m_running) {
            Signal(SIGTERM);
            if (Wait(m_graceMs) == -1 && m_running) {
                Signal(SIGKILL);
                int status = 0;
                pid_t r = -1;
                while ((r = ::waitpid(m_pid, &status, 0)) < 0 && errno == EINTR) {
                }
                m_status = r == m_pid ? status : -1;
                m_running = false;
            }
        }
        return m_status;
    }

private:
    pid_t m_pid = -1;
    int m_graceMs;
    int m_status = -1;
    std::atomic<bool> m_running{false};
};

}  // namespace vostrel

#include "SerialTestSupport.h"

#include <asm/termbits.h>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <thread>
#include <unistd.h>

namespace vostrel {

PtyStation::PtyStation()
{
    m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_master < 0)
        return;
    const char* name = ::ptsname(m_master);
    if (::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0 || name == nullptr) {
        ::close(m_master);
        m_master = -1;
        return;
    }
    m_slavePath = name;
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
}

PtyStation::~PtyStation()
{
    HangUp();
}

void PtyStation::HangUp()
{
    if (m_master >= 0)
        ::close(m_master);
    m_master = -1;
}

void PtyStation::Send(const std::vector<std::uint8_t>& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_master, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            pollfd p{m_master, POLLOUT, 0};
            ::poll(&p, 1, 100);
        } else {
            return;
        }
    }
}

std::vector<std::uint8_t> PtyStation::Receive(std::size_t count, int timeoutMs)
{
    std::vector<std::uint8_t> out;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (out.size() < count && std::chrono::steady_clock::now() < deadline) {
        pollfd p{m_master, POLLIN, 0};
        if (::poll(&p, 1, 20) <= 0)
            continue;
        std::uint8_t buf[4096];
        const std::size_t want = std::min(sizeof buf, count - out.size());
        const ssize_t n = ::read(m_master, buf, want);
        if (n > 0)
            out.insert(out.end(), buf, buf + n);
    }
    return out;
}

struct OwnerLoop::Core {
    mutable std::mutex lock;
    std::condition_variable changed;
    std::deque<std::packaged_task<void()>> tasks;
    bool closed = false;
};

OwnerLoop::OwnerLoop() : m_core(std::make_shared<Core>())
{}

OwnerLoop::~OwnerLoop()
{
    Shutdown();
}

TSyncDispatcher OwnerLoop::Dispatcher()
{
    std::weak_ptr<Core> weak = m_core;
    return [weak](const std::function<void()>& fn) {
        auto core = weak.lock();
        if (!core)
            return;
        std::future<void> done;
        {
            std::lock_guard<std::mutex> g(core->lock);
            if (core->closed)
                return;
            core->tasks.emplace_back(fn);
            done = core->tasks.back().get_future();
        }
        core->changed.notify_all();
        done.wait();  // a dropped task (Shutdown) breaks the promise and ends the wait
    };
}

bool OwnerLoop::ProcessUntil(const std::function<bool()>& pred, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (pred())
            return true;
        std::unique_lock<std::mutex> g(m_core->lock);
        if (!m_core->changed.wait_until(g, deadline, [this] { return !m_core->tasks.empty(); }))
            return pred();
        auto task = std::move(m_core->tasks.front());
        m_core->tasks.pop_front();
        g.unlock();
        task();
    }
}

void OwnerLoop::ProcessFor(int ms)
{
    ProcessUntil([] { return false; }, ms);
}

std::size_t OwnerLoop::Pending() const
{
    std::lock_guard<std::mutex> g(m_core->lock);
    return m_core->tasks.size();
}

void OwnerLoop::Shutdown()
{
    std::deque<std::packaged_task<void()>> dropped;
    {
        std::lock_guard<std::mutex> g(m_core->lock);
        m_core->closed = true;
        dropped.swap(m_core->tasks);
    }
    dropped.clear();
}

std::pair<std::uint32_t, std::uint32_t> LineSpeeds(int fd)
{
    termios2 t{};
    if (::ioctl(fd, TCGETS2, &t) != 0)
        return {0, 0};
    return {t.c_ispeed, t.c_ospeed};
}

int ThreadCount()
{
    int n = 0;
    if (DIR* d = ::opendir("/proc/self/task")) {
        while (const dirent* e = ::readdir(d))
            if (e->d_name[0] != '.')
                ++n;
        ::closedir(d);
    }
    return n;
}

}  // namespace vostrel

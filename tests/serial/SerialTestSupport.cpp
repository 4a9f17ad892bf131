#include "SerialTestSupport.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <thread>
#include <unistd.h>

PtyStation::PtyStation()
{
    FMaster = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (FMaster < 0)
        return;
    const char* name = ::ptsname(FMaster);
    if (::grantpt(FMaster) != 0 || ::unlockpt(FMaster) != 0 || name == nullptr) {
        ::close(FMaster);
        FMaster = -1;
        return;
    }
    FSlavePath = name;
    ::fcntl(FMaster, F_SETFL, ::fcntl(FMaster, F_GETFL) | O_NONBLOCK);
}

PtyStation::~PtyStation()
{
    HangUp();
}

void PtyStation::HangUp()
{
    if (FMaster >= 0)
        ::close(FMaster);
    FMaster = -1;
}

void PtyStation::Send(const std::vector<std::uint8_t>& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(FMaster, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            pollfd p{FMaster, POLLOUT, 0};
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
        pollfd p{FMaster, POLLIN, 0};
        if (::poll(&p, 1, 20) <= 0)
            continue;
        std::uint8_t buf[4096];
        const std::size_t want = std::min(sizeof buf, count - out.size());
        const ssize_t n = ::read(FMaster, buf, want);
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

OwnerLoop::OwnerLoop() : FCore(std::make_shared<Core>())
{}

OwnerLoop::~OwnerLoop()
{
    Shutdown();
}

TSyncDispatcher OwnerLoop::Dispatcher()
{
    std::weak_ptr<Core> weak = FCore;
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
        std::unique_lock<std::mutex> g(FCore->lock);
        if (!FCore->changed.wait_until(g, deadline, [this] { return !FCore->tasks.empty(); }))
            return pred();
        auto task = std::move(FCore->tasks.front());
        FCore->tasks.pop_front();
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
    std::lock_guard<std::mutex> g(FCore->lock);
    return FCore->tasks.size();
}

void OwnerLoop::Shutdown()
{
    std::deque<std::packaged_task<void()>> dropped;
    {
        std::lock_guard<std::mutex> g(FCore->lock);
        FCore->closed = true;
        dropped.swap(FCore->tasks);
    }
    dropped.clear();
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

bool WaitUntil(const std::function<bool()>& pred, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!pred()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return pred();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

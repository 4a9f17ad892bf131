#include "Output.h"

#include "Console.h"

#include <QDateTime>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <utility>

#ifndef _WIN32
#include <poll.h>
#endif

namespace vostrel {

namespace {

using namespace std::chrono_literals;

// Beyond this, transient text is dropped; beyond the hard cap everything is,
// and counted, so a terminal paused for a whole shift cannot eat the memory.
constexpr std::size_t kTransientCap = 64 * 1024;
constexpr std::size_t kHardCap = 64 * 1024 * 1024;

int DescriptorOf(std::FILE* stream)
{
#ifdef _WIN32
    return _fileno(stream);
#else
    return ::fileno(stream);
#endif
}

class TWriter {
public:
    ~TWriter()
    {
        {
            const std::lock_guard<std::mutex> hold(m_mutex);
            m_stopping = true;
        }
        m_wake.notify_all();
        if (m_thread.joinable())
            m_thread.join();
    }

    void Emit(std::FILE* stream, std::string text, bool transient)
    {
        {
            const std::lock_guard<std::mutex> hold(m_mutex);
            if (!m_thread.joinable())
                m_thread = std::thread([this] { Run(); });
            // Only the program's own standard streams are watched: they
            // live as long as the program.
            if (const int fd = DescriptorOf(stream); fd == 1 || fd == 2)
                m_watched[fd] = stream;
            if (m_lostStreams.count(stream) != 0)
                return;
            if ((transient && m_queued > kTransientCap) || m_queued + text.size() > kHardCap) {
                m_dropped += transient ? 0 : 1;
                return;
            }
            m_queued += text.size();
            m_queue.emplace_back(stream, std::move(text));
        }
        m_wake.notify_all();
    }

    void Flush()
    {
        std::unique_lock<std::mutex> hold(m_mutex);
        m_drained.wait(hold, [this] { return m_queue.empty() && !m_writing; });
    }

    bool Lost() const { return m_lost; }

    bool StreamLost(std::FILE* stream)
    {
        const std::lock_guard<std::mutex> hold(m_mutex);
        return m_lostStreams.count(stream) != 0;
    }

private:
    void Run()
    {
        std::unique_lock<std::mutex> hold(m_mutex);
        for (;;) {
            // Idle, the writer looks at its streams' readers a few times a second.
            m_wake.wait_for(hold, 250ms, [this] { return !m_queue.empty() || m_stopping; });
            if (m_queue.empty()) {
                if (m_stopping)
                    return;
                const std::map<int, std::FILE*> watched = m_watched;
                hold.unlock();
                for (const auto& [fd, stream] : watched) {
                    if (ReaderGone(fd))
                        MarkLost(stream);
                }
                hold.lock();
                continue;
            }
            std::deque<std::pair<std::FILE*, std::string>> batch;
            batch.swap(m_queue);
            m_queued = 0;
            const int dropped = std::exchange(m_dropped, 0);
            m_writing = true;
            hold.unlock();
            if (dropped > 0)
                Write(batch.front().first, "(вывод отставал: пропущено строк — " + std::to_string(dropped) + ")\n");
            for (const auto& [stream, text] : batch)
                Write(stream, text);
            hold.lock();
            m_writing = false;
            m_drained.notify_all();
        }
    }

    void Write(std::FILE* stream, const std::string& text)
    {
        if (IsLost(stream))
            return;
        if (std::fwrite(text.data(), 1, text.size(), stream) != text.size() || std::fflush(stream) != 0) {
            std::clearerr(stream);
            MarkLost(stream);
        }
    }

    static bool ReaderGone(int fd)
    {
#ifdef _WIN32
        static_cast<void>(fd);
        return false;
#else
        // No events asked for: poll still tells an error or a hang-up.
        pollfd p{fd, 0, 0};
        return ::poll(&p, 1, 0) == 1 && (p.revents & (POLLERR | POLLHUP)) != 0;
#endif
    }

    bool IsLost(std::FILE* stream)
    {
        const std::lock_guard<std::mutex> hold(m_mutex);
        return m_lostStreams.count(stream) != 0;
    }

    void MarkLost(std::FILE* stream)
    {
        {
            const std::lock_guard<std::mutex> hold(m_mutex);
            m_lostStreams.insert(stream);
        }
        if (!m_lost.exchange(true))
            WakeWaits();
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_drained;
    std::deque<std::pair<std::FILE*, std::string>> m_queue;
    std::size_t m_queued = 0;
    int m_dropped = 0;
    bool m_writing = false;
    bool m_stopping = false;
    std::map<int, std::FILE*> m_watched;
    std::set<std::FILE*> m_lostStreams;
    std::atomic<bool> m_lost{false};
    std::thread m_thread;
};

TWriter& Writer()
{
    static TWriter writer;
    return writer;
}

}  // namespace

void Emit(std::FILE* stream, std::string text, bool transient)
{
    Writer().Emit(stream, std::move(text), transient);
}

void PrintLine(std::FILE* out, const std::string& line)
{
    Emit(out, line + "\n");
}

void FlushOutput()
{
    Writer().Flush();
}

bool OutputLost()
{
    return Writer().Lost();
}

bool StreamLost(std::FILE* stream)
{
    return Writer().StreamLost(stream);
}

}  // namespace vostrel

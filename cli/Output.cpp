#include "Output.h"

#include "Console.h"

#include <QDateTime>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <utility>

#ifndef _WIN32
#include <poll.h>
#include <unistd.h>
#endif

namespace vostrel {

namespace {

using namespace std::chrono_literals;

// Beyond this, redraws are dropped; beyond the hard cap everything is, and
// its lines counted, so a terminal paused for a whole shift cannot eat the memory.
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

// The lines of text: a status line's erase or a question has none.
int LinesIn(const std::string& text)
{
    return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

#ifndef _WIN32
// All of text to fd. A non-blocking descriptor (its file status shared with
// whoever set it) whose pipe is full is waited for: a full pipe is not a
// reader gone, which poll tells by an error.
bool WriteAll(int fd, const char* data, std::size_t size)
{
    StopIfBackgroundWriter(fd);
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n > 0) {
            data += n;
            size -= static_cast<std::size_t>(n);
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd p{fd, POLLOUT, 0};
            ::poll(&p, 1, -1);
        } else if (n == 0 || errno != EINTR) {
            return false;
        }
    }
    return true;
}
#endif

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

    // Only the program's own standard streams are watched: they live as
    // long as the program.
    void Watch(std::FILE* stream)
    {
        {
            const std::lock_guard<std::mutex> hold(m_mutex);
            Start();
            m_watched[DescriptorOf(stream)] = stream;
        }
        m_wake.notify_all();
    }

    void Emit(std::FILE* stream, std::string text, TText kind)
    {
        {
            const std::lock_guard<std::mutex> hold(m_mutex);
            Start();
            if (m_lostStreams.count(stream) != 0) {
                CountLost(text, kind);
                return;
            }
            if ((kind == TText::Redraw && m_queued > kTransientCap) || m_queued + text.size() > kHardCap) {
                m_dropped += kind == TText::Redraw ? 0 : LinesIn(text);
                return;
            }
            m_queued += text.size();
            m_queue.push_back({stream, std::move(text), kind});
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

    TLostLines LostLines()
    {
        const std::lock_guard<std::mutex> hold(m_mutex);
        return m_lostLines;
    }

private:
    struct TItem {
        std::FILE* Stream;
        std::string Text;
        TText Kind;
    };

    void Start()
    {
        if (!m_thread.joinable())
            m_thread = std::thread([this] { Run(); });
    }

    void CountLost(const std::string& text, TText kind)
    {
        if (kind == TText::Lasting)
            m_lostLines.Counted += LinesIn(text);
        else if (kind == TText::Kept)
            m_lostLines.Kept += LinesIn(text);
    }

    void Run()
    {
        HoldTerminalStopsInThisThread();
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
            std::deque<TItem> batch;
            batch.swap(m_queue);
            m_queued = 0;
            const int dropped = std::exchange(m_dropped, 0);
            m_writing = true;
            hold.unlock();
            if (dropped > 0)
                Write({batch.front().Stream, "(вывод отставал: пропущено строк — " + std::to_string(dropped) + ")\n",
                       TText::Lasting});
            for (const TItem& item : batch)
                Write(item);
            hold.lock();
            m_writing = false;
            m_drained.notify_all();
        }
    }

    void Write(const TItem& item)
    {
        if (IsLost(item.Stream)) {
            const std::lock_guard<std::mutex> hold(m_mutex);
            CountLost(item.Text, item.Kind);
            return;
        }
        if (!WriteText(item.Stream, item.Text)) {
            MarkLost(item.Stream);
            const std::lock_guard<std::mutex> hold(m_mutex);
            CountLost(item.Text, item.Kind);
        }
    }

    static bool WriteText(std::FILE* stream, const std::string& text)
    {
#ifndef _WIN32
        // Straight to the descriptor: stdio cannot say how much of a short
        // write it kept.
        if (const int fd = DescriptorOf(stream); fd >= 0)
            return WriteAll(fd, text.data(), text.size());
#endif
        if (std::fwrite(text.data(), 1, text.size(), stream) == text.size() && std::fflush(stream) == 0)
            return true;
        std::clearerr(stream);
        return false;
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
    std::deque<TItem> m_queue;
    std::size_t m_queued = 0;
    int m_dropped = 0;  // lines past the hard cap, not yet told
    bool m_writing = false;
    bool m_stopping = false;
    std::map<int, std::FILE*> m_watched;
    std::set<std::FILE*> m_lostStreams;
    TLostLines m_lostLines;
    std::atomic<bool> m_lost{false};
    std::thread m_thread;
};

TWriter& Writer()
{
    static TWriter writer;
    return writer;
}

}  // namespace

void Emit(std::FILE* stream, std::string text, TText kind)
{
    Writer().Emit(stream, std::move(text), kind);
}

void PrintLine(std::FILE* out, const std::string& line, TText kind)
{
    Emit(out, line + "\n", kind);
}

void WatchStandardStreams()
{
    Writer().Watch(stdout);
    Writer().Watch(stderr);
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

TLostLines LostLines()
{
    return Writer().LostLines();
}

}  // namespace vostrel

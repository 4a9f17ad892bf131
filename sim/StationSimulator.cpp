// The simulator's pty and its one thread: the line both ways, the station's
// bytes paced onto it, the utility's bytes framed into packets, the trace and
// the waits. What the station does with them is StationBehaviour.cpp's.
#include "StationSimulator.h"

#include "HexText.h"
#include "Packets.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <system_error>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace vostrel {

namespace {

// Bounds: the simulator may run for hours in a demo.
constexpr std::size_t kMaxTrace = std::size_t{1} << 20;
constexpr std::size_t kMaxPacketLine = 512;
constexpr std::size_t kMaxOutput = 64 * 1024;

[[noreturn]] void ThrowErrno(const char* what)
{
    throw std::system_error(errno, std::generic_category(), what);
}

void CloseFd(int& fd)
{
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

}  // namespace

std::string HexText(const TByteArray& bytes)
{
    std::string s;
    char buf[4];
    for (std::uint8_t b : bytes) {
        std::snprintf(buf, sizeof buf, "%s%02X", s.empty() ? "" : " ", b);
        s += buf;
    }
    return s;
}

StationSimulator::StationSimulator(StationConfig config) : m_config(std::move(config)), m_start(SimClock::now())
{
    if (m_config.Block.empty())
        m_config.Block = DefaultStationBlock();
    m_noiseState = m_config.NoiseSeed != 0 ? m_config.NoiseSeed : 1;

    try {
        // O_NOCTTY: the simulator must never become a controlling terminal.
        m_master = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (m_master < 0)
            ThrowErrno("posix_openpt");
        if (::fcntl(m_master, F_SETFD, FD_CLOEXEC) < 0 ||
            ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK) < 0)
            ThrowErrno("fcntl on pty master");
        if (::grantpt(m_master) < 0)
            ThrowErrno("grantpt");
        if (::unlockpt(m_master) < 0)
            ThrowErrno("unlockpt");
        char name[128];
        if (::ptsname_r(m_master, name, sizeof name) != 0)
            ThrowErrno("ptsname_r");
        m_slavePath = name;

        // Our own slave keeps the pty alive: without it the master reads EIO
        // (and poll spins on POLLHUP) whenever the utility closes its port.
        m_slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
        if (m_slave < 0)
            ThrowErrno("open pty slave");
        termios tio{};
        if (::tcgetattr(m_slave, &tio) < 0)
            ThrowErrno("tcgetattr");
        ::cfmakeraw(&tio);
        ::cfsetispeed(&tio, B4800);
        ::cfsetospeed(&tio, B4800);
        if (::tcsetattr(m_slave, TCSANOW, &tio) < 0)
            ThrowErrno("tcsetattr");

        // Packet mode turns the utility's input purge into a status byte.
        int one = 1;
        if (::ioctl(m_master, TIOCPKT, &one) < 0)
            ThrowErrno("TIOCPKT");

        int fds[2];
        if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) < 0)
            ThrowErrno("pipe2");
        m_wakeRead = fds[0];
        m_wakeWrite = fds[1];

        m_thread = std::thread([this] { Run(); });
    } catch (...) {
        CloseFd(m_master);
        CloseFd(m_slave);
        CloseFd(m_wakeRead);
        CloseFd(m_wakeWrite);
        throw;
    }
}

StationSimulator::~StationSimulator()
{
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    Wake();
    if (m_thread.joinable())
        m_thread.join();
    CloseFd(m_master);
    CloseFd(m_slave);
    CloseFd(m_wakeRead);
    CloseFd(m_wakeWrite);
}

void StationSimulator::Wake() const
{
    const std::uint8_t b = 1;
    // A full pipe already means a pending wake-up.
    [[maybe_unused]] const ssize_t r = ::write(m_wakeWrite, &b, 1);
}

void StationSimulator::Notify() const
{
    {
        std::lock_guard lock(m_eventMutex);
        ++m_eventCount;
    }
    m_eventCv.notify_all();
}

void StationSimulator::EventLocked(std::string text)
{
    if (m_config.OnEvent && m_notes.size() < 4096)
        m_notes.push_back(Note{LineByte{SimClock::now(), 0, false}, std::move(text)});
}

void StationSimulator::SendRaw(const TByteArray& bytes)
{
    {
        std::lock_guard lock(m_mutex);
        m_scheduled.push_back(Scheduled{SimClock::now(), bytes});
    }
    Wake();
}

void StationSimulator::HangUp()
{
    {
        std::lock_guard lock(m_mutex);
        if (m_dead)
            return;
        m_scheduled.push_back(Scheduled{SimClock::now(), {}, true});
    }
    Wake();
    WaitFor([this] { return IsDead(); }, std::chrono::seconds(5));
}

void StationSimulator::ReleaseExclusive()
{
    std::lock_guard lock(m_mutex);
    if (m_slave >= 0)
        ::ioctl(m_slave, TIOCNXCL);
}

std::vector<LineByte> StationSimulator::Trace() const
{
    std::lock_guard lock(m_mutex);
    return m_trace;
}

std::vector<LineByte> StationSimulator::Received() const
{
    std::lock_guard lock(m_mutex);
    std::vector<LineByte> out;
    for (const auto& b : m_trace)
        if (!b.FromStation)
            out.push_back(b);
    return out;
}

TByteArray StationSimulator::ReceivedBytes() const
{
    std::lock_guard lock(m_mutex);
    TByteArray out;
    for (const auto& b : m_trace)
        if (!b.FromStation)
            out.push_back(b.Byte);
    return out;
}

std::vector<ReceivedPacket> StationSimulator::Packets() const
{
    std::lock_guard lock(m_mutex);
    return m_packets;
}

std::vector<ReceivedPacket> StationSimulator::ProgrammedBlocks() const
{
    std::lock_guard lock(m_mutex);
    std::vector<ReceivedPacket> out;
    for (const auto& p : m_packets)
        if (p.Number == kPacketProgram)
            out.push_back(p);
    return out;
}

TByteArray StationSimulator::LastAnsweredBlock() const
{
    std::lock_guard lock(m_mutex);
    return m_lastAnswered;
}

int StationSimulator::GreetingCount() const
{
    std::lock_guard lock(m_mutex);
    return m_greetings;
}

int StationSimulator::AnswerCount() const
{
    std::lock_guard lock(m_mutex);
    return m_answers;
}

int StationSimulator::GoodbyeCount() const
{
    std::lock_guard lock(m_mutex);
    return m_goodbyes;
}

int StationSimulator::PurgeCount() const
{
    std::lock_guard lock(m_mutex);
    return m_purges;
}

bool StationSimulator::IsDead() const
{
    std::lock_guard lock(m_mutex);
    return m_dead;
}

bool StationSimulator::WaitFor(const std::function<bool()>& pred, std::chrono::milliseconds timeout) const
{
    const auto deadline = SimClock::now() + timeout;
    std::unique_lock lock(m_eventMutex);
    for (;;) {
        const std::uint64_t seen = m_eventCount;
        lock.unlock();
        if (pred())
            return true;
        lock.lock();
        if (!m_eventCv.wait_until(lock, deadline, [&] { return m_eventCount != seen; })) {
            lock.unlock();
            return pred();
        }
    }
}

void StationSimulator::CloseMasterLocked()
{
    // Closing the master hangs the slave up under the utility; our own slave
    // goes too, so nothing keeps the pty alive.
    CloseFd(m_master);
    CloseFd(m_slave);
    m_dead = true;
    m_scheduled.clear();
    m_output.clear();
    EventLocked("hung up");
}

void StationSimulator::RunDueLocked(SimClock::time_point now)
{
    for (;;) {
        auto it = std::min_element(m_scheduled.begin(), m_scheduled.end(),
                                   [](const Scheduled& a, const Scheduled& b) { return a.Due < b.Due; });
        if (it == m_scheduled.end() || it->Due > now)
            break;
        Scheduled item = std::move(*it);
        m_scheduled.erase(it);
        if (item.HangUp) {
            CloseMasterLocked();
            return;
        }
        if (m_dead)
            continue;
        if (item.Greeting) {
            item.Bytes = GreetingBytesLocked();
            item.Greeting = false;
            ++m_greetings;
            EventLocked("greeting: " + HexText(item.Bytes));
        }
        if (item.Answer) {
            item.Answer = false;
            ++m_answers;
            EventLocked("packet 01: " + HexText(item.Bytes));
        }
        if (item.Bytes.empty())
            continue;
        const auto byteTime = m_config.ByteInterval;
        if (byteTime.count() <= 0) {
            m_output.insert(m_output.end(), item.Bytes.begin(), item.Bytes.end());
            continue;
        }
        // Byte times count from the packet's start, not from when this thread
        // got round to it: a late wake-up hands over all that is due at once
        // and the packet still takes its line time, no more.
        if (!item.OnLine) {
            item.OnLine = true;
            item.Start = std::max(item.Due, m_lineFreeAt);
            m_lineFreeAt = item.Start + byteTime * static_cast<std::int64_t>(item.Bytes.size());
        }
        const auto byteDue = [&item, byteTime](std::size_t k) {
            return item.Start + byteTime * static_cast<std::int64_t>(k + 1);
        };
        while (item.Sent < item.Bytes.size() && byteDue(item.Sent) <= now)
            m_output.push_back(item.Bytes[item.Sent++]);
        if (item.Sent < item.Bytes.size()) {
            item.Due = byteDue(item.Sent);
            m_scheduled.push_back(std::move(item));
        }
    }
    if (m_output.size() > kMaxOutput)
        m_output.resize(kMaxOutput);
    FlushOutputLocked();
}

void StationSimulator::FlushOutputLocked()
{
    if (m_master < 0) {
        m_output.clear();
        return;
    }
    while (!m_output.empty()) {
        // Stamped before the write: a thread put aside between the write and
        // the clock must not make the utility's answer look early.
        const auto now = SimClock::now();
        const ssize_t n = TEMP_FAILURE_RETRY(::write(m_master, m_output.data(), m_output.size()));
        if (n < 0) {
            if (errno != EAGAIN)
                m_output.clear();  // nothing sensible to do with a broken master
            return;
        }
        for (ssize_t i = 0; i < n; ++i) {
            const LineByte lb{now, m_output[static_cast<std::size_t>(i)], true};
            if (m_trace.size() < kMaxTrace)
                m_trace.push_back(lb);
            if (m_config.OnByte)
                m_notes.push_back(Note{lb, {}});
        }
        m_output.erase(m_output.begin(), m_output.begin() + n);
    }
}

void StationSimulator::HandleStatus(std::uint8_t status, SimClock::time_point now)
{
    if (status & TIOCPKT_FLUSHREAD) {
        ++m_purges;
        EventLocked("utility purged its input");
        if (m_config.GreetOnWait && now >= m_ignorePurgeUntil)
            ScheduleGreetingLocked(now + m_config.GreetDelay);
    }
}

void StationSimulator::HandleInput(const std::uint8_t* data, std::size_t n, SimClock::time_point now)
{
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint8_t b = data[i];
        const LineByte lb{now, b, false};
        if (m_trace.size() < kMaxTrace)
            m_trace.push_back(lb);
        if (m_config.OnByte)
            m_notes.push_back(Note{lb, {}});

        if (m_parse.empty()) {
            if (b == kDle)
                m_parse.push_back(b);
            else
                EventLocked("stray byte outside a packet");
            continue;
        }
        m_parse.push_back(b);
        if (m_parse.size() == 2)
            continue;  // the packet number
        if (m_parseDle) {
            m_parseDle = false;
            if (b == kEtx) {
                const TByteArray line = std::move(m_parse);
                m_parse.clear();
                HandlePacket(line, now);
            } else if (b != kDle) {
                // A lone DLE inside a packet: take it as the start of a new one.
                EventLocked("broken framing: " + HexText(m_parse));
                m_parse = {kDle, b};
            }
        } else if (b == kDle) {
            m_parseDle = true;
        } else if (m_parse.size() > kMaxPacketLine) {
            EventLocked("overlong packet dropped");
            m_parse.clear();
        }
    }
}

void StationSimulator::Run()
{
    std::array<std::uint8_t, 512> buf{};
    for (;;) {
        std::vector<Note> notes;
        timespec timeout{};
        timespec* timeoutPtr = nullptr;
        int master = -1;
        bool wantOut = false;
        {
            std::lock_guard lock(m_mutex);
            if (m_stop)
                break;
            const auto now = SimClock::now();
            RunDueLocked(now);
            if (!m_scheduled.empty()) {
                auto due = m_scheduled.front().Due;
                for (const auto& s : m_scheduled)
                    due = std::min(due, s.Due);
                const auto wait = std::max(SimClock::duration::zero(), due - now);
                const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count();
                timeout.tv_sec = static_cast<time_t>(ns / 1000000000);
                timeout.tv_nsec = static_cast<long>(ns % 1000000000);
                timeoutPtr = &timeout;
            }
            master = m_master;
            wantOut = !m_output.empty();
            notes.swap(m_notes);
        }
        for (const auto& n : notes) {
            if (n.Text.empty())
                m_config.OnByte(n.Byte);
            else
                m_config.OnEvent(n.Byte.Time, n.Text);
        }
        // Scheduled bytes may have gone out above, and counts changed, with
        // nothing more to come from the line: waiters must hear of it now.
        Notify();

        pollfd fds[2]{};
        fds[0].fd = m_wakeRead;
        fds[0].events = POLLIN;
        nfds_t nfds = 1;
        if (master >= 0) {
            fds[1].fd = master;
            fds[1].events = static_cast<short>(POLLIN | (wantOut ? POLLOUT : 0));
            nfds = 2;
        }
        const int r = ::ppoll(fds, nfds, timeoutPtr, nullptr);
        if (r < 0) {
            if (errno == EINTR)
                continue;
            std::lock_guard lock(m_mutex);
            CloseMasterLocked();  // cannot wait any more: better dead than deaf
            break;
        }
        if (fds[0].revents & POLLIN) {
            while (::read(m_wakeRead, buf.data(), buf.size()) > 0) {
            }
        }
        if (nfds == 2 && fds[1].revents != 0) {
            std::lock_guard lock(m_mutex);
            if (m_master == master) {
                if (fds[1].revents & POLLIN) {
                    const ssize_t n = ::read(master, buf.data(), buf.size());
                    const auto now = SimClock::now();
                    if (n > 0) {
                        // Packet mode: a leading 0 marks data, anything else is status.
                        if (buf[0] == TIOCPKT_DATA)
                            HandleInput(buf.data() + 1, static_cast<std::size_t>(n - 1), now);
                        else
                            HandleStatus(buf[0], now);
                    } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                        CloseMasterLocked();
                    }
                } else if (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) {
                    // Cannot happen while our slave is open; never spin on it.
                    CloseMasterLocked();
                }
                if (m_master >= 0 && (fds[1].revents & POLLOUT))
                    FlushOutputLocked();
            }
        }
        Notify();
    }
}

}  // namespace vostrel

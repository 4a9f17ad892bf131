#include "PortLock.h"
#include "SysFiles.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>
#include <utility>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vostrel {

namespace {

// Each pass ends because someone else removed or created the file; a handful
// covers any real contention.
constexpr int kAttempts = 8;
// Lock files are a line or three; a longer first line is garbage anyway.
constexpr std::size_t kReadLimit = 256;
// The kernel's PID_MAX_LIMIT. Four text bytes read as an int lie far above
// it, so garbage of that size is not taken for a PID that has gone.
constexpr int kMaxPid = 4 * 1024 * 1024;

class TFd {
public:
    explicit TFd(int fd) : m_fd(fd) {}
    ~TFd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;
    int Get() const { return m_fd; }
    int Take() { return std::exchange(m_fd, -1); }

private:
    int m_fd;
};

// The lock files this process holds. Holders in one process share one file
// (and the descriptor that keeps it flocked), so replacing a lock object with
// a fresh one for the same port does not pull the file from under it.
struct THeld {
    int Count = 0;
    int Fd = -1;
};

std::mutex& HeldMutex()
{
    static std::mutex mutex;
    return mutex;
}

std::map<std::string, THeld>& HeldLocks()
{
    static std::map<std::string, THeld> held;
    return held;
}

void Hold(const std::string& path, int fd)
{
    THeld& held = HeldLocks()[path];
    // An earlier file of ours at this path was removed by someone: its
    // descriptor keeps nothing any more.
    if (held.Fd >= 0 && held.Fd != fd)
        ::close(held.Fd);
    held.Fd = fd;
    ++held.Count;
}

int Self()
{
    return static_cast<int>(::getpid());
}

// EPERM: the process is there but belongs to another user.
bool Alive(int pid)
{
    return ::kill(pid, 0) == 0 || errno == EPERM;
}

std::string Describe(int pid)
{
    const std::string pidText = "PID " + std::to_string(pid);
    const std::string comm = ReadSmallFile("/proc/" + std::to_string(pid) + "/comm").value_or(std::string());
    return comm.empty() ? pidText : comm + " (" + pidText + ")";
}

// No allocation: this also runs from Release(), which must not throw.
std::optional<int> ReadPid(int fd)
{
    char buf[kReadLimit];
    const ssize_t n = ::pread(fd, buf, sizeof buf, 0);
    if (n < 0)
        return std::nullopt;
    const std::string_view text(buf, static_cast<std::size_t>(n));
    // A cut first line could read as a shorter, wrong PID.
    if (text.size() == sizeof buf && text.find('\n') == std::string_view::npos)
        return std::nullopt;
    return ParseLockPid(text);
}

bool WriteAll(int fd, std::string_view text)
{
    while (!text.empty()) {
        const ssize_t n = ::write(fd, text.data(), text.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        text.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

struct TCreated {
    int Fd = -1;          // ours, flocked, at the lock's path
    bool Exists = false;  // someone's lock is already there
};

// The file is written and flocked under a private name and then linked into
// place: link() never replaces an existing file, and nobody ever sees a
// half-written lock of ours.
TCreated Create(const std::string& dir, const std::string& name, const std::string& path)
{
    char text[16];
    std::snprintf(text, sizeof text, "%10d\n", Self());
    std::string temp = dir + "/." + name + ".XXXXXX";
    int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0)
        return {};
    // Others must be able to read who holds the port.
    if (::fchmod(fd, 0644) != 0 || !WriteAll(fd, text) || ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::unlink(temp.c_str());
        ::close(fd);
        return {};
    }
    const int linkError = ::link(temp.c_str(), path.c_str()) == 0 ? 0 : errno;
    ::unlink(temp.c_str());
    if (linkError == 0)
        return {fd, false};
    ::close(fd);
    if (linkError == EEXIST)
        return {-1, true};
    if (linkError != EPERM && linkError != ENOSYS && linkError != EOPNOTSUPP)
        return {};
    // No hard links on this file system: exclusive creation still keeps two
    // takers apart; the moment it is empty it reads as a fresh unreadable lock.
    fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0)
        return {-1, errno == EEXIST};
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::fchmod(fd, 0644) != 0 || !WriteAll(fd, text)) {
        ::unlink(path.c_str());
        ::close(fd);
        return {};
    }
    return {fd, false};
}

struct TExisting {
    bool Gone = false;  // removed before it could be looked at
    int Fd = -1;        // opened; -1 when it cannot be read (no access, no regular file)
    struct stat Stat {};
    std::optional<int> Pid;
};

TExisting Inspect(const std::string& path)
{
    TExisting existing;
    // O_NOFOLLOW and O_NONBLOCK: a link or a FIFO planted in a shared folder
    // must neither lead us elsewhere nor hang us.
    existing.Fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (existing.Fd >= 0 && (::fstat(existing.Fd, &existing.Stat) != 0 || !S_ISREG(existing.Stat.st_mode))) {
        ::close(existing.Fd);
        existing.Fd = -1;
    }
    if (existing.Fd < 0) {
        if (::lstat(path.c_str(), &existing.Stat) != 0)
            existing.Gone = errno == ENOENT;
        return existing;
    }
    existing.Pid = ReadPid(existing.Fd);
    return existing;
}

// Either way round: a clock set back must not make a file young for ever.
bool Young(const struct stat& st)
{
    const long long age = static_cast<long long>(std::time(nullptr)) - static_cast<long long>(st.st_mtime);
    return std::llabs(age) < static_cast<long long>(kUnreadLockStaleAfter.count());
}

}  // namespace

std::string LockFileName(const std::string& devicePath)
{
    const std::string real = RealPath(devicePath);
    std::string name;
    if (StartsWith(real, "/dev/")) {
        name = real.substr(5);
        std::replace(name.begin(), name.end(), '/', '_');
    } else {
        const std::string& path = real.empty() ? devicePath : real;
        const std::size_t slash = path.rfind('/');
        name = slash == std::string::npos ? path : path.substr(slash + 1);
    }
    return name.empty() ? std::string() : "LCK.." + name;
}

std::optional<int> ParseLockPid(std::string_view content)
{
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    const auto textual = [&](char c) { return IsDigit(c) || blank(c) || c == '\n'; };
    if (content.size() == sizeof(int) && !std::all_of(content.begin(), content.end(), textual)) {
        int pid = 0;
        std::memcpy(&pid, content.data(), sizeof pid);
        if (pid <= 0 || pid > kMaxPid)
            return std::nullopt;
        return pid;
    }
    std::string_view line = content.substr(0, content.find('\n'));
    while (!line.empty() && blank(line.front()))
        line.remove_prefix(1);
    while (!line.empty() && blank(line.back()))
        line.remove_suffix(1);
    const std::optional<int> pid = ParsePid(line);
    if (!pid || *pid <= 0)
        return std::nullopt;
    return pid;
}

TPortLock TPortLock::Acquire(const std::string& lockDir, const std::string& devicePath)
{
    TPortLock lock;
    const std::string name = LockFileName(devicePath);
    const std::string dir = RealPath(lockDir);
    if (name.empty() || dir.empty())
        return lock;
    lock.m_lockPath = dir + "/" + name;
    const std::string& path = lock.m_lockPath;

    const std::lock_guard<std::mutex> guard(HeldMutex());
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        const TCreated created = Create(dir, name, path);
        if (created.Fd >= 0) {
            Hold(path, created.Fd);
            lock.m_outcome = TOutcome::Acquired;
            return lock;
        }
        // A folder we cannot write in (a root-only /run/lock) still shows
        // whether someone else holds the port.
        TExisting existing = Inspect(path);
        if (existing.Gone) {
            if (created.Exists)
                continue;
            return lock;
        }
        TFd fd(existing.Fd);
        if (existing.Pid && *existing.Pid == Self()) {
            const auto held = HeldLocks().find(path);
            if (held != HeldLocks().end()) {
                ++held->second.Count;
                lock.m_outcome = TOutcome::Acquired;
                return lock;
            }
            // Left by us earlier: take it over, flocked like one we create.
            if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
                lock.m_outcome = TOutcome::Busy;
                return lock;
            }
            Hold(path, fd.Take());
            lock.m_outcome = TOutcome::Acquired;
            return lock;
        }
        if (existing.Pid && Alive(*existing.Pid)) {
            lock.m_outcome = TOutcome::Busy;
            lock.m_holder = Describe(*existing.Pid);
            return lock;
        }
        if (!existing.Pid && Young(existing.Stat)) {
            lock.m_outcome = TOutcome::Busy;
            return lock;
        }
        // Stale, but not a file we may remove: go on as if there were no lock
        // folder rather than refuse the port for ever.
        if (fd.Get() < 0)
            return lock;
        // Whoever removes a stale lock flocks it first, so two removers never
        // take turns deleting each other's fresh lock; a flock held by someone
        // else means a live holder (perhaps in another PID namespace) or a
        // remover about to take it.
        if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
            lock.m_outcome = TOutcome::Busy;
            return lock;
        }
        // Stale, but ours could not stand in its place anyway.
        if (!created.Exists)
            return lock;
        struct stat now {};
        if (::lstat(path.c_str(), &now) != 0 || now.st_ino != existing.Stat.st_ino ||
            now.st_dev != existing.Stat.st_dev)
            continue;
        if (::unlink(path.c_str()) != 0 && errno != ENOENT)
            return lock;
    }
    lock.m_outcome = TOutcome::Busy;
    return lock;
}

TPortLock::~TPortLock()
{
    Release();
}

TPortLock::TPortLock(TPortLock&& other) noexcept
    : m_outcome(std::exchange(other.m_outcome, TOutcome::NotLocked)), m_lockPath(std::move(other.m_lockPath)),
      m_holder(std::move(other.m_holder))
{}

TPortLock& TPortLock::operator=(TPortLock&& other) noexcept
{
    if (this != &other) {
        Release();
        m_outcome = std::exchange(other.m_outcome, TOutcome::NotLocked);
        m_lockPath = std::move(other.m_lockPath);
        m_holder = std::move(other.m_holder);
    }
    return *this;
}

void TPortLock::Release() noexcept
{
    if (m_outcome != TOutcome::Acquired)
        return;
    m_outcome = TOutcome::NotLocked;
    const std::lock_guard<std::mutex> guard(HeldMutex());
    const auto held = HeldLocks().find(m_lockPath);
    if (held == HeldLocks().end() || --held->second.Count > 0)
        return;
    const int fd = held->second.Fd;
    HeldLocks().erase(held);
    const int current = ::open(m_lockPath.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (current >= 0) {
        struct stat st {};
        if (::fstat(current, &st) == 0 && S_ISREG(st.st_mode) && ReadPid(current) == Self())
            ::unlink(m_lockPath.c_str());
        ::close(current);
    }
    // Closed only after the unlink: until then no stale-lock remover can flock it.
    if (fd >= 0)
        ::close(fd);
}

}  // namespace vostrel

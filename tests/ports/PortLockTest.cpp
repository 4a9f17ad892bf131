// UUCP lock files: their names, their contents, and taking them in a
// temporary lock folder against live, gone and racing holders played by
// child processes.
#include "PortLock.h"
#include "ChildGuard.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace vostrel {

namespace {

namespace fs = std::filesystem;
using TOutcome = TPortLock::TOutcome;

class TTempDir {
public:
    TTempDir()
    {
        std::string pattern = ::testing::TempDir() + "portlock.XXXXXX";
        const char* made = ::mkdtemp(pattern.data());
        // Resolved, as the lock's own path is.
        if (made != nullptr)
            m_path = fs::canonical(made).string();
    }
    ~TTempDir()
    {
        std::error_code ec;
        if (!m_path.empty())
            fs::remove_all(m_path, ec);
    }
    TTempDir(const TTempDir&) = delete;
    TTempDir& operator=(const TTempDir&) = delete;

    bool Ok() const { return !m_path.empty(); }
    std::string operator/(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

void WriteFile(const std::string& path, const std::string& content)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

std::optional<std::string> ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Both its times moved to now + shift.
bool ShiftTime(const std::string& path, std::chrono::seconds shift)
{
    timespec times[2] = {};
    times[0].tv_sec = std::time(nullptr) + shift.count();
    times[1].tv_sec = times[0].tv_sec;
    return ::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0;
}

std::vector<std::string> Entries(const std::string& dir)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// The PID as its four bytes in this machine's order, as old UUCP locks hold it.
std::string Binary(int pid)
{
    return std::string(reinterpret_cast<const char*>(&pid), sizeof pid);
}

std::string Classic(int pid)
{
    const std::string digits = std::to_string(pid);
    return std::string(10 - digits.size(), ' ') + digits + "\n";
}

int Self()
{
    return static_cast<int>(::getpid());
}

// A child named `name` that waits to be killed, holding a flock on flockPath
// when one is given, as user uid when one is given (needs root); it is killed
// and reaped with this object.
class TSleeper {
public:
    explicit TSleeper(const char* name, const std::string& flockPath = "", uid_t uid = 0)
    {
        int ready[2];
        if (::pipe(ready) != 0)
            return;
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::close(ready[0]);
            ::prctl(PR_SET_PDEATHSIG, SIGKILL, 0, 0, 0);
            ::prctl(PR_SET_NAME, name, 0, 0, 0);
            if (uid != 0 &&
                (::setgroups(0, nullptr) != 0 || ::setresgid(uid, uid, uid) != 0 || ::setresuid(uid, uid, uid) != 0))
                ::_exit(1);
            if (!flockPath.empty()) {
                const int fd = ::open(flockPath.c_str(), O_RDONLY);
                if (fd < 0 || ::flock(fd, LOCK_EX | LOCK_NB) != 0)
                    ::_exit(1);
            }
            const char ok = 1;
            if (::write(ready[1], &ok, 1) != 1)
                ::_exit(1);
            for (;;)
                ::pause();
        }
        m_child.Reset(pid);
        ::close(ready[1]);
        char ok = 0;
        // Its name is set before anyone looks.
        if (pid > 0 && ::read(ready[0], &ok, 1) != 1)
            m_child.Reset(-1);
        ::close(ready[0]);
    }

    int Pid() const { return static_cast<int>(m_child.Pid()); }

private:
    TChildGuard m_child;
};

// A PID that was a process a moment ago and is surely gone.
int GonePid()
{
    const pid_t pid = ::fork();
    if (pid == 0)
        ::_exit(0);
    if (pid > 0)
        ::waitpid(pid, nullptr, 0);
    return static_cast<int>(pid);
}

// A device, a COM1 link to it and a lock folder, all in a temporary folder.
struct TLockSetup {
    TTempDir Root;
    std::string Device = Root / "ttyUSB0";
    std::string Com1 = Root / "COM1";
    std::string Locks = Root / "locks";
    std::string LockFile = Locks + "/LCK..ttyUSB0";

    bool Make()
    {
        if (!Root.Ok())
            return false;
        WriteFile(Device, "");
        return ::symlink(Device.c_str(), Com1.c_str()) == 0 && ::mkdir(Locks.c_str(), 0755) == 0;
    }
};

TEST(PortLockTest, LockIsNamedAfterTheNodeReached)
{
    TTempDir dir;
    ASSERT_TRUE(dir.Ok());
    WriteFile(dir / "ttyUSB0", "");
    WriteFile(dir / "ttyACM0", "");
    fs::create_directory(dir / "by-id");
    fs::create_symlink(dir / "ttyUSB0", dir / "COM1");
    fs::create_symlink("../ttyACM0", dir / "by-id/usb-FTDI_FT232R_A12345-if00-port0");
    fs::create_symlink("by-id/usb-FTDI_FT232R_A12345-if00-port0", dir / "COM2");
    fs::create_symlink(dir / "gone", dir / "COM3");
    fs::create_symlink("/dev/null", dir / "nothing");

    struct TRow {
        std::string Name;
        std::string Path;
        std::string Expected;
    };
    std::vector<TRow> rows = {
        {"a link to a device", dir / "COM1", "LCK..ttyUSB0"},
        {"the device itself", dir / "ttyUSB0", "LCK..ttyUSB0"},
        {"a link in a subfolder", dir / "by-id/usb-FTDI_FT232R_A12345-if00-port0", "LCK..ttyACM0"},
        {"a chain of links", dir / "COM2", "LCK..ttyACM0"},
        {"a dangling link keeps its own name", dir / "COM3", "LCK..COM3"},
        {"a missing path keeps its own name", dir / "COM9", "LCK..COM9"},
        {"a node directly in /dev", "/dev/null", "LCK..null"},
        {"a link to a node directly in /dev", dir / "nothing", "LCK..null"},
        {"no path", "", ""},
        {"no last component", dir / "missing/", ""},
    };
    // A real node in a subfolder of /dev, when this machine has terminals.
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0) {
        const std::string slave = ::ptsname(master);
        const std::string expected = "LCK..pts_" + slave.substr(slave.rfind('/') + 1);
        fs::create_symlink(slave, dir / "terminal");
        rows.push_back({"a node in a subfolder of /dev", slave, expected});
        rows.push_back({"a link to a node in a subfolder of /dev", dir / "terminal", expected});
    }
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Name);
        EXPECT_EQ(LockFileName(row.Path), row.Expected);
    }
    if (master >= 0)
        ::close(master);
}

TEST(PortLockTest, PidIsReadFromEitherFormat)
{
    const int binaryPid = 1234;
    struct TRow {
        const char* Name;
        std::string Content;
        std::optional<int> Expected;
    };
    const std::vector<TRow> rows = {
        {"classic, ten characters right-aligned", "      1234\n", 1234},
        {"classic, all ten used", "4194304000\n", std::nullopt},
        {"the PID alone on its line", "1234\n", 1234},
        {"the PID followed by a program and a user", "1234\nminicom\noperator\n", 1234},
        {"no line end", "1234", 1234},
        {"blanks around it", "\t 1234 \r\n", 1234},
        {"nine digits", "999999999\n", 999999999},
        {"ten digits", "1234567890\n", std::nullopt},
        {"absurdly long", "99999999999999999999999\n", std::nullopt},
        {"empty", "", std::nullopt},
        {"an empty first line", "\n1234\n", std::nullopt},
        {"blanks only", "          \n", std::nullopt},
        {"zero", "         0\n", std::nullopt},
        {"negative", "     -1234\n", std::nullopt},
        {"a plus sign", "+1234\n", std::nullopt},
        {"letters in it", "12a4\n", std::nullopt},
        {"two numbers on the line", "1234 5678\n", std::nullopt},
        {"the PID with a name on its line", "1234 minicom\n", std::nullopt},
        {"a name first", "minicom\n1234\n", std::nullopt},
        {"a binary PID", Binary(binaryPid), 1234},
        {"a binary PID above the kernel's highest", Binary(4 * 1024 * 1024 + 1), std::nullopt},
        {"four text bytes, the PID and its line end", "123\n", 123},
        {"four text bytes, blanks first", "  12", 12},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Name);
        EXPECT_EQ(ParseLockPid(row.Content), row.Expected);
    }
}

TEST(PortLockTest, FreeLockIsTakenAndGivenBack)
{
    TLockSetup setup;
    ASSERT_TRUE(setup.Make());
    {
        const TPortLock lock = TPortLock::Acquire(setup.Locks, setup.Com1);
        ASSERT_EQ(lock.Outcome(), TOutcome::Acquired);
        EXPECT_TRUE(lock.Held());
        EXPECT_EQ(lock.LockPath(), setup.LockFile);
        EXPECT_EQ(lock.Holder(), "");
        EXPECT_EQ(ReadFile(setup.LockFile), Classic(Self()));
        // Nothing of the writing left behind.
        EXPECT_EQ(Entries(setup.Locks), std::vector<std::string>{"LCK..ttyUSB0"});
        // Other users' programs must be able to read who holds it.
        struct stat st {};
        ASSERT_EQ(::stat(setup.LockFile.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0644u);
        // Flocked while held, so a taker that cannot see our PID still keeps off.
        const int fd = ::open(setup.LockFile.c_str(), O_RDONLY);
        EXPECT_NE(::flock(fd, LOCK_EX | LOCK_NB), 0);
        ::close(fd);
    }
    EXPECT_FALSE(fs::exists(setup.LockFile)) << "destruction gives it back";

    TPortLock lock = TPortLock::Acquire(setup.Locks, setup.Com1);
    ASSERT_TRUE(lock.Held());
    lock.Release();
    EXPECT_FALSE(lock.Held());
    EXPECT_FALSE(fs::exists(setup.LockFile)) << "Release gives it back";
    lock.Release();
    EXPECT_EQ(Entries(setup.Locks), std::vector<std::string>{});
}

TEST(PortLockTest, ExistingLocks)
{
    TLockSetup setup;
    ASSERT_TRUE(setup.Make());
    const TSleeper holder("lock-holder");
    ASSERT_GT(holder.Pid(), 0);
    const int gone = GonePid();
    ASSERT_GT(gone, 0);
    const std::string holderName = "lock-holder (PID " + std::to_string(holder.Pid()) + ")";
    const int holderPid = holder.Pid();
    const std::string binaryPid = Binary(holderPid);
    const auto old = -2 * kUnreadLockStaleAfter;
    const auto future = 2 * kUnreadLockStaleAfter;
    const std::chrono::seconds now{0};

    struct TRow {
        const char* Name;
        std::string Content;
        std::chrono::seconds Shift;  // of its time from now
        TOutcome Expected;
        std::string Holder;
        std::string After;  // the file's content while the outcome lasts
    };
    const std::string ours = Classic(Self());
    const std::vector<TRow> rows = {
        {"a live holder, classic format", Classic(holderPid), now, TOutcome::Busy, holderName, Classic(holderPid)},
        {"a live holder, PID on the first line", std::to_string(holderPid) + "\nminicom\nroot\n", now, TOutcome::Busy,
         holderName, std::to_string(holderPid) + "\nminicom\nroot\n"},
        {"a live holder's lock however old", Classic(holderPid), old, TOutcome::Busy, holderName, Classic(holderPid)},
        {"a gone holder, classic format", Classic(gone), now, TOutcome::Acquired, "", ours},
        {"a gone holder, PID on the first line", std::to_string(gone) + "\ncu\n", now, TOutcome::Acquired, "", ours},
        {"our own PID left behind", ours, now, TOutcome::Acquired, "", ours},
        {"our own PID on the first line", std::to_string(Self()) + "\nvostrel\n", now, TOutcome::Acquired, "",
         std::to_string(Self()) + "\nvostrel\n"},
        {"garbage written just now", "modem\n", now, TOutcome::Busy, "", "modem\n"},
        {"an empty file just created", "", now, TOutcome::Busy, "", ""},
        {"a live holder, binary PID", binaryPid, now, TOutcome::Busy, holderName, binaryPid},
        {"a live holder's binary PID however old", binaryPid, old, TOutcome::Busy, holderName, binaryPid},
        {"a gone holder, binary PID", Binary(gone), now, TOutcome::Acquired, "", ours},
        {"garbage left long ago", "modem\n", old, TOutcome::Acquired, "", ours},
        {"garbage dated far ahead", "modem\n", future, TOutcome::Acquired, "", ours},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Name);
        WriteFile(setup.LockFile, row.Content);
        if (row.Shift != now) {
            ASSERT_TRUE(ShiftTime(setup.LockFile, row.Shift));
        }
        {
            TPortLock lock = TPortLock::Acquire(setup.Locks, setup.Com1);
            EXPECT_EQ(lock.Outcome(), row.Expected);
            EXPECT_EQ(lock.Holder(), row.Holder);
            EXPECT_EQ(ReadFile(setup.LockFile), row.After);
            EXPECT_EQ(Entries(setup.Locks), std::vector<std::string>{"LCK..ttyUSB0"});
        }
        if (row.Expected == TOutcome::Acquired)
            EXPECT_FALSE(fs::exists(setup.LockFile)) << "ours once taken, so given back";
        else
            EXPECT_EQ(ReadFile(setup.LockFile), row.Content) << "someone else's: left alone";
        std::error_code ec;
        fs::remove(setup.LockFile, ec);
    }
}

// A PID that looks gone (a holder in another PID namespace, or another taker
// about to replace the stale lock) does not make the lock stale while someone
// holds a flock on it.
TEST(PortLockTest, AFlockedLockIsNotStale)
{
    TLockSetup setup;
    ASSERT_TRUE(setup.Make());
    const std::string content = Classic(GonePid());
    WriteFile(setup.LockFile, content);
    {
        const TSleeper holder("lock-holder", setup.LockFile);
        ASSERT_GT(holder.Pid(), 0);
        const TPortLock lock = TPortLock::Acquire(setup.Locks, setup.Com1);
        EXPECT_EQ(lock.Outcome(), TOutcome::Busy);
        EXPECT_EQ(ReadFile(setup.LockFile), content);
    }
    EXPECT_TRUE(TPortLock::Acquire(setup.Locks, setup.Com1).Held()) << "stale once the flock is gone";
}

TEST(PortLockTest, NoUsableLockFolderMeansNoLock)
{
    TLockSetup setup;
    ASSERT_TRUE(setup.Make());
    WriteFile(setup.Root / "plain-file", "");

    struct TRow {
        const char* Name;
        std::string LockDir;
        std::string Device;
    };
    const std::vector<TRow> rows = {
        {"no lock folder", setup.Root / "missing", setup.Com1},
        {"a file where the folder should be", setup.Root / "plain-file", setup.Com1},
        {"no device name", setup.Locks, ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Name);
        TPortLock lock = TPortLock::Acquire(row.LockDir, row.Device);
        EXPECT_EQ(lock.Outcome(), TOutcome::NotLocked);
        EXPECT_FALSE(lock.Held());
        EXPECT_EQ(lock.Holder(), "");
        lock.Release();
    }
    EXPECT_EQ(Entries(setup.Locks), std::vector<std::string>{});
    EXPECT_EQ(ReadFile(setup.Root / "plain-file"), "");

    // Something in the lock's place that cannot be read or removed: held while
    // it is new, then no reason to refuse the port.
    ASSERT_EQ(::mkdir(setup.LockFile.c_str(), 0755), 0);
    {
        SCOPED_TRACE("a fresh folder in the lock's place");
        EXPECT_EQ(TPortLock::Acquire(setup.Locks, setup.Com1).Outcome(), TOutcome::Busy);
    }
    ASSERT_TRUE(ShiftTime(setup.LockFile, -2 * kUnreadLockStaleAfter));
    {
        SCOPED_TRACE("an old folder in the lock's place");
        EXPECT_EQ(TPortLock::Acquire(setup.Locks, setup.Com1).Outcome(), TOutcome::NotLocked);
    }
    EXPECT_TRUE(fs::is_directory(setup.LockFile));
}

struct TSeen {
    TOutcome Outcome;
    std::string Holder;
};

// Acquire's outcome and the holder it names, in a child run as `nobody`;
// nothing when the child could not run it (the test's folder out of its
// reach, say).
std::optional<TSeen> AcquireAsNobody(const std::string& lockDir, const std::string& device)
{
    constexpr int kCannot = 100;
    int holder[2];
    if (::pipe(holder) != 0)
        return std::nullopt;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(holder[0]);
        constexpr uid_t kNobody = 65534;
        if (::setgroups(0, nullptr) != 0 || ::setresgid(kNobody, kNobody, kNobody) != 0 ||
            ::setresuid(kNobody, kNobody, kNobody) != 0 || ::access(lockDir.c_str(), X_OK) != 0)
            ::_exit(kCannot);
        TPortLock lock = TPortLock::Acquire(lockDir, device);
        const TOutcome outcome = lock.Outcome();
        const std::string& name = lock.Holder();
        if (::write(holder[1], name.data(), name.size()) != static_cast<ssize_t>(name.size()))
            ::_exit(kCannot);
        lock.Release();
        ::_exit(static_cast<int>(outcome));
    }
    ::close(holder[1]);
    std::string name;
    char buf[256];
    for (ssize_t n; pid > 0 && (n = ::read(holder[0], buf, sizeof buf)) > 0;)
        name.append(buf, static_cast<std::size_t>(n));
    ::close(holder[0]);
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) == kCannot)
        return std::nullopt;
    return TSeen{static_cast<TOutcome>(WEXITSTATUS(status)), name};
}

// Another user's program checks our locks: it may not signal us (EPERM) and
// may not write in a root-only lock folder, yet a held lock is held for it.
TEST(PortLockTest, AnotherUserSeesALiveLock)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to run the check as another user";
    TLockSetup setup;
    ASSERT_TRUE(setup.Make());
    ASSERT_EQ(::chmod((setup.Root / ".").c_str(), 0755), 0);
    // Neither root nor nobody: a third user's program holds the port.
    const TSleeper holder("lock-holder");
    const TSleeper thirdUser("third-user", "", 65533);
    ASSERT_GT(holder.Pid(), 0);
    ASSERT_GT(thirdUser.Pid(), 0);

    struct TRow {
        const char* Name;
        mode_t FolderMode;
        std::string Content;
        TOutcome Expected;
        std::string Holder;
    };
    const std::string named = "lock-holder (PID " + std::to_string(holder.Pid()) + ")";
    const std::vector<TRow> rows = {
        {"a live holder it may not signal", 0777, Classic(holder.Pid()), TOutcome::Busy, named},
        {"a live holder in a folder it cannot write", 0755, Classic(holder.Pid()), TOutcome::Busy, named},
        {"a third user's live holder", 0777, Classic(thirdUser.Pid()), TOutcome::Busy,
         "third-user (PID " + std::to_string(thirdUser.Pid()) + ")"},
        {"a gone holder in a folder it cannot write", 0755, Classic(GonePid()), TOutcome::NotLocked, ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Name);
        ASSERT_EQ(::chmod(setup.Locks.c_str(), row.FolderMode), 0);
        WriteFile(setup.LockFile, row.Content);
        ASSERT_EQ(::chmod(setup.LockFile.c_str(), 0644), 0);
        const std::optional<TSeen> seen = AcquireAsNobody(setup.Locks, setup.Com1);
        if (!seen)
            GTEST_SKIP() << "nobody cannot reach " << setup.Locks;
        EXPECT_EQ(seen->Outcome, row.Expected);
        EXPECT_EQ(seen->Holder, row.Holder);
        EXPECT_EQ(ReadFile(setup.LockFile), row.Content) << "someone else's: left alone";
    }
}

// Within one process the lock is shared, so replacing a lock object with a
// fresh one for the same port keeps the file.
TEST(PortLockTest, OneProcessSharesItsLock)
{
    TLockSetup setup;
    ASSERT_TRUE(setup.Make());
    {
        SCOPED_TRACE("two holders");
        TPortLock first = TPortLock::Acquire(setup.Locks, setup.Com1);
        TPortLock second = TPortLock::Acquire(setup.Locks, setup.Device);
        EXPECT_TRUE(first.Held());
        EXPECT_TRUE(second.Held());
        first.Release();
        EXPECT_EQ(ReadFile(setup.LockFile), Classic(Self())) << "the second still holds it";
        second.Release();
        EXPECT_FALSE(fs::exists(setup.LockFile));
    }
    {
        SCOPED_TRACE("replaced by a fresh one");
        TPortLock lock = TPortLock::Acquire(setup.Locks, setup.Com1);
        lock = TPortLock::Acquire(setup.Locks, setup.Com1);
        EXPECT_TRUE(lock.Held());
        EXPECT_EQ(ReadFile(setup.LockFile), Classic(Self()));
        lock.Release();
        EXPECT_FALSE(fs::exists(setup.LockFile));
    }
    {
        SCOPED_TRACE("moved");
        TPortLock from = TPortLock::Acquire(setup.Locks, setup.Com1);
        TPortLock to(std::move(from));
        EXPECT_FALSE(from.Held());
        EXPECT_TRUE(to.Held());
        from.Release();
        EXPECT_TRUE(fs::exists(setup.LockFile)) << "the moved-from object holds nothing";
        TPortLock last = TPortLock::Acquire(setup.Locks, setup.Com1);
        last = std::move(to);
        EXPECT_TRUE(last.Held());
        EXPECT_TRUE(fs::exists(setup.LockFile));
        last.Release();
        EXPECT_FALSE(fs::exists(setup.LockFile));
    }
}

TEST(PortLockTest, ALockTakenSinceIsNotRemoved)
{
    TLockSetup setup;
    ASSERT_TRUE(setup.Make());
    const TSleeper holder("lock-holder");
    ASSERT_GT(holder.Pid(), 0);
    TPortLock lock = TPortLock::Acquire(setup.Locks, setup.Com1);
    ASSERT_TRUE(lock.Held());
    // Someone removed ours and took the port.
    const std::string theirs = setup.Locks + "/theirs";
    WriteFile(theirs, Classic(holder.Pid()));
    ASSERT_EQ(::rename(theirs.c_str(), setup.LockFile.c_str()), 0);
    lock.Release();
    EXPECT_EQ(ReadFile(setup.LockFile), Classic(holder.Pid()));
}

// Takers in separate processes started together: exactly one wins, whether
// the lock starts free or stale, and the file names the winner.
TEST(PortLockTest, RacingTakersNeverBothWin)
{
    constexpr int kTakers = 6;
    struct TReport {
        int Pid;
        char Outcome;
    };
    struct TRow {
        const char* Name;
        std::optional<std::string> Existing;
    };
    const std::vector<TRow> rows = {
        {"a free lock", std::nullopt},
        {"a stale lock", Classic(GonePid())},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Name);
        TLockSetup setup;
        ASSERT_TRUE(setup.Make());
        if (row.Existing)
            WriteFile(setup.LockFile, *row.Existing);

        int go[2];
        int done[2];
        int reports[2];
        ASSERT_EQ(::pipe(go), 0);
        ASSERT_EQ(::pipe(done), 0);
        ASSERT_EQ(::pipe(reports), 0);
        std::vector<pid_t> takers;
        for (int i = 0; i < kTakers; ++i) {
            const pid_t pid = ::fork();
            if (pid == 0) {
                ::prctl(PR_SET_PDEATHSIG, SIGKILL, 0, 0, 0);
                ::close(go[1]);
                ::close(done[1]);
                ::close(reports[0]);
                char byte = 0;
                // Every taker waits for the start, then holds what it got until told.
                if (::read(go[0], &byte, 1) != 0)
                    ::_exit(1);
                TPortLock lock = TPortLock::Acquire(setup.Locks, setup.Com1);
                const TReport report{Self(), lock.Held() ? 'A' : lock.Outcome() == TOutcome::Busy ? 'B' : 'N'};
                if (::write(reports[1], &report, sizeof report) != sizeof report)
                    ::_exit(1);
                while (::read(done[0], &byte, 1) > 0) {
                }
                ::_exit(0);
            }
            if (pid > 0)
                takers.push_back(pid);
        }
        ::close(go[0]);
        ::close(done[0]);
        ::close(reports[1]);
        ::close(go[1]);

        std::vector<TReport> got;
        TReport report{};
        while (got.size() < takers.size() && ::read(reports[0], &report, sizeof report) == sizeof report)
            got.push_back(report);
        ::close(done[1]);
        ::close(reports[0]);
        for (const pid_t pid : takers)
            ::waitpid(pid, nullptr, 0);

        ASSERT_EQ(takers.size(), static_cast<std::size_t>(kTakers));
        ASSERT_EQ(got.size(), takers.size());
        const auto won = std::count_if(got.begin(), got.end(), [](const TReport& r) { return r.Outcome == 'A'; });
        const auto busy = std::count_if(got.begin(), got.end(), [](const TReport& r) { return r.Outcome == 'B'; });
        EXPECT_EQ(won, 1);
        EXPECT_EQ(busy, kTakers - 1);
        const auto winner = std::find_if(got.begin(), got.end(), [](const TReport& r) { return r.Outcome == 'A'; });
        if (winner != got.end()) {
            EXPECT_EQ(ReadFile(setup.LockFile), Classic(winner->Pid));
        }
    }
}

}  // namespace

}  // namespace vostrel

// UUCP lock files ("/run/lock/LCK..ttyUSB0" holding a PID), the mark minicom,
// cu and similar programs leave on a port they use on Linux. Another user's
// terminal program holds neither flock nor TIOCEXCL we could see, so this is
// the only way to keep out of its way and to keep it out of ours. Windows has
// no such files: its open of a port is exclusive by itself, and there every
// lock is NotLocked.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace vostrel {

// The lock file's name for a device: "LCK.." and the name under /dev of the
// node the path reaches after resolving links, a '/' below /dev becoming '_'
// ("/dev/usb/tts/0" -> "LCK..usb_tts_0"). A node outside /dev gives its own
// name; a path that cannot be resolved gives its last component. "" when the
// path has no last component.
std::string LockFileName(const std::string& devicePath);

// The PID in a lock file: the first line, blanks around it allowed, holding
// only digits. Covers both the classic right-aligned "%10d\n" and files whose
// first line is the PID followed by more lines. Exactly four bytes that are
// not all digits, blanks and line ends are the PID as a native int, as old
// UUCP programs wrote it, taken only up to the kernel's highest PID. Nothing
// for garbage, zero, signs or more than nine digits.
std::optional<int> ParseLockPid(std::string_view content);

// A lock whose PID cannot be read counts as held while its file is younger
// than this (it may be a writer between creating and filling it), and as
// stale once older, so a garbage file cannot keep the port away for ever.
inline constexpr std::chrono::seconds kUnreadLockStaleAfter{120};

// One lock file taken (or not) for one device. Move-only.
class TPortLock {
public:
    enum class TOutcome {
        Acquired,   // ours until Release() or destruction
        Busy,       // a live process other than us holds it
        NotLocked,  // nothing taken, and nothing says the port is in use
    };

    // Takes the lock for devicePath in lockDir ("/run/lock" on a real system).
    // A free lock is created atomically with our PID in the classic format;
    // one whose PID is gone, or an unreadable one older than
    // kUnreadLockStaleAfter, is removed and taken; one with our own PID is
    // taken over and shared with any other holder in this process (the file
    // stays until the last of them releases). A missing folder, a stale lock
    // that cannot be removed, or a folder we cannot write without a held lock
    // in it gives NotLocked; a held lock is Busy however the folder is.
    static TPortLock Acquire(const std::string& lockDir, const std::string& devicePath);

    TPortLock() = default;
    ~TPortLock();
    TPortLock(TPortLock&& other) noexcept;
    TPortLock& operator=(TPortLock&& other) noexcept;
    TPortLock(const TPortLock&) = delete;
    TPortLock& operator=(const TPortLock&) = delete;

    TOutcome Outcome() const { return m_outcome; }
    bool Held() const { return m_outcome == TOutcome::Acquired; }
    // When Busy: "minicom (PID 1234)", "PID 1234" when its name cannot be
    // read, "" when the lock does not say who holds it.
    const std::string& Holder() const { return m_holder; }
    // The lock file looked at; "" when there was none to look at.
    const std::string& LockPath() const { return m_lockPath; }

    // Gives the lock up; the file goes only if it still holds our PID, so a
    // lock someone else has since taken is left alone. Outcome becomes NotLocked.
    void Release() noexcept;

private:
    TOutcome m_outcome = TOutcome::NotLocked;
    std::string m_lockPath;
    std::string m_holder;
};

}  // namespace vostrel

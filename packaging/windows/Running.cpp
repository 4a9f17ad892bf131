// While a program runs it holds a named mutex, by which the installer and the
// uninstaller see that its files are in use. The handle stays open: Windows
// closes it when the process ends, however it ends.
#include <windows.h>

namespace {

struct RunningMark {
    RunningMark()
    {
        // Session-local for the operator's own session, global for others';
        // creating an existing one (another user's) may be refused, and is
        // then marked already.
        CreateMutexW(nullptr, FALSE, L"VostrelRunning");
        CreateMutexW(nullptr, FALSE, L"Global\\VostrelRunning");
    }
};

const RunningMark mark;

}  // namespace

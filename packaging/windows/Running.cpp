// While a program runs it holds a named mutex, by which the installer and the
// uninstaller see that its files are in use. The handle stays open: Windows
// closes it when the process ends, however it ends.
#include <windows.h>

#include <sddl.h>

#include <initializer_list>

namespace {

// Anyone may wait on the mark, nothing more: a mutex made with the default
// security opens only for its creator's account, so a second user's program
// could neither join the global one nor be seen by an installer run by
// someone else once the first user's program ended.
constexpr wchar_t kAnyoneMayWait[] = L"D:(A;;0x00100001;;;WD)";  // SYNCHRONIZE | MUTANT_QUERY_STATE, Everyone

struct RunningMark {
    RunningMark()
    {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kAnyoneMayWait, SDDL_REVISION_1, &descriptor,
                                                                  nullptr))
            descriptor = nullptr;
        SECURITY_ATTRIBUTES sa{sizeof sa, descriptor, FALSE};
        // Session-local for the operator's own session, global for others'.
        // Made or joined with no more than waiting, which the descriptor
        // grants every user.
        for (const wchar_t* name : {L"VostrelRunning", L"Global\\VostrelRunning"})
            CreateMutexExW(descriptor ? &sa : nullptr, name, 0, SYNCHRONIZE);
        LocalFree(descriptor);
    }
};

const RunningMark mark;

}  // namespace

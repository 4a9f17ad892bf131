// The mark a running program leaves for the installer: both mutexes exist
// while it runs, and every user may wait on them, no more (Wine runs one
// user, so the descriptor is what can be looked at).
#include <windows.h>

#include <aclapi.h>

#include <gtest/gtest.h>

namespace {

TEST(RunningMark, EveryUserMayWaitOnBothMutexesAndDoNothingElse)
{
    BYTE world[SECURITY_MAX_SID_SIZE];
    DWORD worldSize = sizeof world;
    ASSERT_TRUE(::CreateWellKnownSid(WinWorldSid, nullptr, world, &worldSize));
    for (const wchar_t* name : {L"VostrelRunning", L"Global\\VostrelRunning"}) {
        SCOPED_TRACE(testing::Message() << (name[0] == L'G' ? "global" : "session"));
        const HANDLE h = ::OpenMutexW(READ_CONTROL | SYNCHRONIZE, FALSE, name);
        ASSERT_NE(h, nullptr) << "error " << ::GetLastError();
        PACL dacl = nullptr;
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        ASSERT_EQ(::GetSecurityInfo(h, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr,
                                    &descriptor),
                  static_cast<DWORD>(ERROR_SUCCESS));
        ASSERT_NE(dacl, nullptr) << "no DACL: the object would be open to anything";
        ACCESS_MASK granted = 0;
        for (DWORD i = 0; i < dacl->AceCount; ++i) {
            void* ace = nullptr;
            ASSERT_TRUE(::GetAce(dacl, i, &ace));
            const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(ace);
            if (allowed->Header.AceType == ACCESS_ALLOWED_ACE_TYPE &&
                ::EqualSid(const_cast<DWORD*>(&allowed->SidStart), world))
                granted |= allowed->Mask;
        }
        EXPECT_EQ(granted & SYNCHRONIZE, static_cast<ACCESS_MASK>(SYNCHRONIZE));
        // Releasing, taking over or changing it stays the owner's.
        EXPECT_EQ(granted & ~static_cast<ACCESS_MASK>(SYNCHRONIZE | MUTANT_QUERY_STATE), 0u);
        ::LocalFree(descriptor);
        ::CloseHandle(h);
    }
}

}  // namespace

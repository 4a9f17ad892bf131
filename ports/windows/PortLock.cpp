// Windows has no lock files: its open of a port is exclusive by itself, so
// every lock is NotLocked and there is nothing to give up.
#include "PortLock.h"

namespace vostrel {

std::string LockFileName(const std::string& /*devicePath*/)
{
    return {};
}

std::optional<int> ParseLockPid(std::string_view /*content*/)
{
    return std::nullopt;
}

TPortLock TPortLock::Acquire(const std::string& /*lockDir*/, const std::string& /*devicePath*/)
{
    return {};
}

TPortLock::~TPortLock() = default;

TPortLock::TPortLock(TPortLock&& other) noexcept = default;

TPortLock& TPortLock::operator=(TPortLock&& other) noexcept = default;

void TPortLock::Release() noexcept
{
    m_outcome = TOutcome::NotLocked;
}

}  // namespace vostrel

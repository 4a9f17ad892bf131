// Synchronisation objects of the serial component: a handle owner, events
// that can be waited for and a lock. The objects themselves belong to each
// platform (CommObjsPlatform.h of the backend folder); what is said here holds
// for both.
#pragma once

#include <cstdint>

namespace vostrel {

enum TWaitResult : std::uint8_t { wrSignaled, wrTimeout, wrAbandoned, wrError };

}  // namespace vostrel

#include "CommObjsPlatform.h"

namespace vostrel {

// Holds a critical section for the life of a scope, also when an exception leaves.
class TLockGuard {
public:
    explicit TLockGuard(TCriticalSection& cs) : m_cs(cs) { m_cs.Enter(); }
    ~TLockGuard() { m_cs.Leave(); }
    TLockGuard(const TLockGuard&) = delete;
    TLockGuard& operator=(const TLockGuard&) = delete;

private:
    TCriticalSection& m_cs;
};

}  // namespace vostrel

// Synchronisation objects of the serial component: a handle owner, events that
// can be waited for (also from poll() through their descriptor) and a lock.
#pragma once

#include <cstdint>
#include <mutex>

enum TWaitResult : std::uint8_t { wrSignaled, wrTimeout, wrAbandoned, wrError };

// Time limit meaning "wait without limit" (all bits set).
constexpr std::uint32_t INFINITE = 0xFFFFFFFFu;

// Owns one descriptor and closes it when destroyed; LastError keeps the errno
// of the last failed call made through the object.
class THandleObject {
public:
    THandleObject() = default;
    THandleObject(const THandleObject&) = delete;
    THandleObject& operator=(const THandleObject&) = delete;
    virtual ~THandleObject();

    int Handle() const { return FHandle; }
    std::int32_t LastError() const { return FLastError; }

protected:
    int FHandle = -1;
    std::int32_t FLastError = 0;
};

// An event on an eventfd. Its descriptor is readable exactly while the event
// is set, so it can sit in a poll() set next to a device.
class TEvent : public THandleObject {
public:
    // Creation failure leaves Handle() at -1 and every wait ends in wrError.
    TEvent(bool manualReset, bool initialState);

    // Waits until the event is set or timeoutMs passes (INFINITE: no limit).
    // An auto-reset event is cleared by the wait that sees it set.
    // wrAbandoned is never returned: an eventfd has no owner that can die.
    TWaitResult WaitFor(std::uint32_t timeoutMs);
    void SetEvent();
    void ResetEvent();

private:
    bool TryConsume();
    bool FManualReset;
};

// Unnamed manual-reset event that starts cleared.
class TSimpleEvent : public TEvent {
public:
    TSimpleEvent() : TEvent(true, false) {}
};

// A mutual-exclusion lock; like the platform's critical section, the owning
// thread may enter it again.
class TCriticalSection {
public:
    TCriticalSection() = default;
    TCriticalSection(const TCriticalSection&) = delete;
    TCriticalSection& operator=(const TCriticalSection&) = delete;
    virtual ~TCriticalSection() = default;

    void Enter() { FSection.lock(); }
    void Leave() { FSection.unlock(); }
    void Acquire() { Enter(); }
    void Release() { Leave(); }

private:
    std::recursive_mutex FSection;
};

// Holds a critical section for the life of a scope, also when an exception leaves.
class TLockGuard {
public:
    explicit TLockGuard(TCriticalSection& cs) : FCs(cs) { FCs.Enter(); }
    ~TLockGuard() { FCs.Leave(); }
    TLockGuard(const TLockGuard&) = delete;
    TLockGuard& operator=(const TLockGuard&) = delete;

private:
    TCriticalSection& FCs;
};

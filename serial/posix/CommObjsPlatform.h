// The synchronisation objects on POSIX: events on an eventfd, so that they can
// sit in a poll() set next to a device, and a recursive mutex.
#pragma once

#include <cstdint>
#include <mutex>

namespace vostrel {

// Time limit meaning "wait without limit" (all bits set).
constexpr std::uint32_t INFINITE = 0xFFFFFFFFu;

}  // namespace vostrel

// Owns one descriptor and closes it when destroyed.
class THandleObject {
public:
    THandleObject() = default;
    THandleObject(const THandleObject&) = delete;
    THandleObject& operator=(const THandleObject&) = delete;
    virtual ~THandleObject();

    int Handle() const { return m_handle; }

protected:
    int m_handle = -1;
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
    vostrel::TWaitResult WaitFor(std::uint32_t timeoutMs);
    void SetEvent();
    void ResetEvent();

private:
    bool TryConsume();
    bool m_manualReset;
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

    void Enter() { m_section.lock(); }
    void Leave() { m_section.unlock(); }

private:
    std::recursive_mutex m_section;
};

// The synchronisation objects on Windows: kernel events and a critical section,
// kept free of <windows.h> so that the component's headers do not carry it.
#pragma once

#include <cstdint>

// Owns one kernel handle and closes it when destroyed.
class THandleObject {
public:
    THandleObject() = default;
    THandleObject(const THandleObject&) = delete;
    THandleObject& operator=(const THandleObject&) = delete;
    virtual ~THandleObject();

    void* Handle() const { return m_handle; }
    // The system's error number of the last failed wait.
    std::uint32_t LastError() const { return m_lastError; }

protected:
    void* m_handle = nullptr;
    std::uint32_t m_lastError = 0;
};

// An unnamed kernel event.
class TEvent : public THandleObject {
public:
    // Creation failure leaves Handle() null and every wait ends in wrError.
    TEvent(bool manualReset, bool initialState);

    // Waits until the event is set or timeoutMs passes (0xFFFFFFFF: no limit).
    // An auto-reset event is cleared by the wait that sees it set.
    vostrel::TWaitResult WaitFor(std::uint32_t timeoutMs);
    void SetEvent();
    void ResetEvent();
};

// Unnamed manual-reset event that starts cleared.
class TSimpleEvent : public TEvent {
public:
    TSimpleEvent() : TEvent(true, false) {}
};

// A platform critical section; the owning thread may enter it again.
class TCriticalSection {
public:
    TCriticalSection();
    TCriticalSection(const TCriticalSection&) = delete;
    TCriticalSection& operator=(const TCriticalSection&) = delete;
    virtual ~TCriticalSection();

    void Enter();
    void Leave();

private:
    // Room for a CRITICAL_SECTION (checked where <windows.h> is seen).
    alignas(8) unsigned char m_section[40];
};

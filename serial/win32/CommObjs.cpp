#include "CommObjs.h"

#include <windows.h>

#include <new>

using namespace vostrel;

static_assert(sizeof(CRITICAL_SECTION) <= 40 && alignof(CRITICAL_SECTION) <= 8, "room for the critical section");

THandleObject::~THandleObject()
{
    if (m_handle)
        ::CloseHandle(m_handle);
}

TEvent::TEvent(bool manualReset, bool initialState)
{
    m_handle = ::CreateEventA(nullptr, manualReset, initialState, nullptr);
    if (!m_handle)
        m_lastError = ::GetLastError();
}

TWaitResult TEvent::WaitFor(std::uint32_t timeoutMs)
{
    if (!m_handle) {
        // Nothing could ever set it: fail at once rather than wait out the limit.
        m_lastError = ERROR_INVALID_HANDLE;
        return wrError;
    }
    switch (::WaitForSingleObject(m_handle, timeoutMs)) {
    case WAIT_OBJECT_0:
        return wrSignaled;
    case WAIT_TIMEOUT:
        return wrTimeout;
    case WAIT_ABANDONED:
        return wrAbandoned;
    default:
        m_lastError = ::GetLastError();
        return wrError;
    }
}

void TEvent::SetEvent()
{
    if (m_handle)
        ::SetEvent(m_handle);
}

void TEvent::ResetEvent()
{
    if (m_handle)
        ::ResetEvent(m_handle);
}

TCriticalSection::TCriticalSection()
{
    ::InitializeCriticalSection(new (m_section) CRITICAL_SECTION);
}

TCriticalSection::~TCriticalSection()
{
    ::DeleteCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(m_section));
}

void TCriticalSection::Enter()
{
    ::EnterCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(m_section));
}

void TCriticalSection::Leave()
{
    ::LeaveCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(m_section));
}

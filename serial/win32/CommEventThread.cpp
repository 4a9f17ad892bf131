// The line-event watcher's body on Windows: an overlapped WaitCommEvent whose
// completion event is the wake event.
#include "CommInt.h"

#include <windows.h>

#include <algorithm>

namespace vostrel {

struct TDeviceWait {
    OVERLAPPED ov{};
    DWORD mask = 0;
    bool pending = false;  // a WaitCommEvent is in flight on ov
};

namespace {

// A wait that ends with nothing in its mask is tried again after a pause that
// grows to this: Wine completes WaitCommEvent on a pty at once with an empty
// mask, and a watcher must not spin on that.
constexpr DWORD kFirstIdleMs = 10;
constexpr DWORD kMaxIdleMs = 200;

HANDLE AsHandle(TDeviceHandle h)
{
    return reinterpret_cast<HANDLE>(h);
}

}  // namespace
}  // namespace vostrel

using namespace vostrel;

TCommEventThread::TCommEventThread(TDeviceHandle device, std::uint32_t mask, TCustomComm* owner,
                                   TSyncDispatcher dispatcher)
    : m_device(device), m_wait(std::make_unique<TDeviceWait>()), m_eventMask(mask), m_owner(owner),
      m_dispatcher(std::move(dispatcher))
{
    ::SetCommMask(AsHandle(device), mask);
}

TCommEventThread::~TCommEventThread() = default;

void TCommEventThread::CancelDeviceWaitLocked()
{
    if (!m_wait->pending || m_device == kInvalidDeviceHandle)
        return;
    // The record lives in this object: the wait must be over before the
    // handle is closed or the object freed.
    DWORD n = 0;
    ::CancelIoEx(AsHandle(m_device), &m_wait->ov);
    ::GetOverlappedResult(AsHandle(m_device), &m_wait->ov, &n, TRUE);
    m_wait->pending = false;
}

void TCommEventThread::NotifyWrite()
{
    // The driver reports EV_TXEMPTY by itself.
}

void TCommEventThread::Execute()
{
    if (!m_wakeEvent.Handle())
        return;  // a watcher that cannot be woken must not start waiting
    DWORD idleMs = 0;
    bool deviceFailed = false;
    for (;;) {
        DWORD mask = 0;
        bool pending = false;
        {
            std::lock_guard<std::mutex> g(m_deviceLock);
            // Cleared before the check, so that a stop set meanwhile is seen.
            m_wakeEvent.ResetEvent();
            if (m_terminated || m_device == kInvalidDeviceHandle)
                break;
            if (!deviceFailed) {
                m_wait->ov = OVERLAPPED{};
                m_wait->ov.hEvent = m_wakeEvent.Handle();
                m_wait->mask = 0;
                if (::WaitCommEvent(AsHandle(m_device), &m_wait->mask, &m_wait->ov))
                    mask = m_wait->mask;
                else if (::GetLastError() == ERROR_IO_PENDING)
                    m_wait->pending = pending = true;
                else
                    deviceFailed = true;  // a device that refuses waits: only the stop is left
            }
        }
        if (deviceFailed) {
            m_wakeEvent.WaitFor(INFINITE);
            continue;
        }
        if (pending) {
            m_wakeEvent.WaitFor(INFINITE);
            std::lock_guard<std::mutex> g(m_deviceLock);
            if (m_terminated || m_device == kInvalidDeviceHandle)
                break;  // Detach cancels the wait still in flight
            DWORD n = 0;
            if (::GetOverlappedResult(AsHandle(m_device), &m_wait->ov, &n, FALSE)) {
                m_wait->pending = false;
                mask = m_wait->mask;
            } else if (::GetLastError() == ERROR_IO_INCOMPLETE) {
                CancelDeviceWaitLocked();
            } else {
                m_wait->pending = false;
                deviceFailed = true;
            }
        }
        mask &= m_eventMask;
        if (mask == 0) {
            idleMs = idleMs == 0 ? kFirstIdleMs : std::min(idleMs * 2, kMaxIdleMs);
            m_wakeEvent.ResetEvent();
            if (m_terminated)
                break;
            m_wakeEvent.WaitFor(idleMs);
            continue;
        }
        idleMs = 0;
        Handover(mask);
    }
    // No final purge of the device's buffers: ClosePort discards the input and
    // lets the output drain, and the handle may be gone by now.
}

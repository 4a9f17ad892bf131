// The line-event watcher's body on Windows: an overlapped WaitCommEvent on an
// event of its own, and the wake event that only stops it.
#include "CommInt.h"

#include <windows.h>

#include <algorithm>

namespace vostrel {

struct TDeviceWait {
    OVERLAPPED ov{};
    DWORD mask = 0;
    bool pending = false;  // a WaitCommEvent is in flight on ov
    TSimpleEvent done;     // ov's event, set only by the system
};

namespace {

// A wait that ends with nothing in its mask is tried again after a pause that
// grows to this: Wine completes WaitCommEvent on a pty at once with an empty
// mask, and a watcher must not spin on that.
constexpr DWORD kFirstIdleMs = 10;
constexpr DWORD kMaxIdleMs = 200;

// How long a stop waits for a cancelled WaitCommEvent to complete; a driver
// that takes longer gets its record leaked rather than freed under it.
constexpr DWORD kCancelWaitMs = 2000;

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

TCommEventThread::~TCommEventThread()
{
    // Only a driver that never completed a cancelled wait leaves one here.
    if (m_wait && m_wait->pending)
        (void)m_wait.release();
}

void TCommEventThread::CancelDeviceWaitLocked()
{
    if (!m_wait || !m_wait->pending || m_device == kInvalidDeviceHandle)
        return;
    // The record lives in this object: the wait must be over before the
    // handle is closed or the object freed. An empty mask ends a pending
    // WaitCommEvent; the cancel is for a driver that does not.
    const HANDLE h = AsHandle(m_device);
    ::SetCommMask(h, 0);
    ::CancelIoEx(h, &m_wait->ov);
    if (::WaitForSingleObject(m_wait->done.Handle(), kCancelWaitMs) != WAIT_OBJECT_0) {
        (void)m_wait.release();
        return;
    }
    DWORD n = 0;
    ::GetOverlappedResult(h, &m_wait->ov, &n, FALSE);
    m_wait->pending = false;
}

void TCommEventThread::NotifyWrite()
{
    // The driver reports EV_TXEMPTY by itself.
}

void TCommEventThread::Execute()
{
    if (!m_wakeEvent.Handle() || !m_wait->done.Handle())
        return;  // a watcher that cannot be woken must not start waiting
    DWORD idleMs = 0;
    bool deviceFailed = false;
    // The wake event is set only together with m_terminated, and stays set.
    for (;;) {
        DWORD mask = 0;
        HANDLE waitDone = nullptr;  // set while a wait is in flight
        {
            std::lock_guard<std::mutex> g(m_deviceLock);
            if (m_terminated || m_device == kInvalidDeviceHandle || !m_wait)
                break;
            if (!deviceFailed && !m_wait->pending) {
                m_wait->ov = OVERLAPPED{};
                m_wait->ov.hEvent = m_wait->done.Handle();
                m_wait->done.ResetEvent();
                m_wait->mask = 0;
                if (::WaitCommEvent(AsHandle(m_device), &m_wait->mask, &m_wait->ov))
                    mask = m_wait->mask;
                else if (::GetLastError() == ERROR_IO_PENDING)
                    m_wait->pending = true;
                else
                    deviceFailed = true;  // a device that refuses waits: only the stop is left
            }
            if (m_wait->pending)
                waitDone = m_wait->done.Handle();
        }
        if (deviceFailed) {
            m_wakeEvent.WaitFor(INFINITE);
            continue;
        }
        if (waitDone) {
            const HANDLE events[2] = {waitDone, m_wakeEvent.Handle()};
            ::WaitForMultipleObjects(2, events, FALSE, INFINITE);
            std::lock_guard<std::mutex> g(m_deviceLock);
            if (m_terminated || m_device == kInvalidDeviceHandle || !m_wait)
                break;  // Detach ends the wait still in flight
            DWORD n = 0;
            if (::GetOverlappedResult(AsHandle(m_device), &m_wait->ov, &n, FALSE)) {
                m_wait->pending = false;
                mask = m_wait->mask;
            } else if (::GetLastError() != ERROR_IO_INCOMPLETE) {
                m_wait->pending = false;
                deviceFailed = true;
            } else {
                continue;  // still in flight: its record is not ours to reuse yet
            }
        }
        mask &= m_eventMask;
        if (mask == 0) {
            idleMs = idleMs == 0 ? kFirstIdleMs : std::min(idleMs * 2, kMaxIdleMs);
            m_wakeEvent.WaitFor(idleMs);
            continue;
        }
        idleMs = 0;
        Handover(mask);
    }
    {
        // Stopped without Detach: the wait in flight ends here.
        std::lock_guard<std::mutex> g(m_deviceLock);
        CancelDeviceWaitLocked();
    }
    // No final purge of the device's buffers: ClosePort discards the input and
    // lets the output drain, and the handle may be gone by now.
}

// The line-event watcher's body on POSIX: epoll on the device and the wake
// event, with the modem lines and the output queue sampled where the kernel
// cannot wake us for them.
#include "CommInt.h"
#include "PosixDevice.h"

#include <cerrno>
#include <sys/epoll.h>

namespace vostrel {

// Nothing to cancel here: the epoll wait is made under the device lock.
struct TDeviceWait {};

namespace {

// Period for states the kernel cannot wake us for (modem lines, drained output).
constexpr int kLinePollMs = 100;
constexpr int kDrainPollMs = 20;

// What the kernel can tell about each event, in one place:
//  evRxChar  new bytes in the input queue: an edge-triggered epoll wake-up of
//            the device (the line discipline wakes readers on every arrival),
//            confirmed by a non-zero FIONREAD. Unread bytes do not fire again.
//  evRxFlag  never raised: whether EvtChar arrived cannot be seen without
//            consuming the input, which belongs to the reader.
//  evTxEmpty after a WriteBytes, once TIOCOUTQ reports the output queue empty
//            (checked every kDrainPollMs while bytes are queued; no wake-up
//            exists for "drained").
//  evCts, evDsr, evRlsd, evRing  a change of the CTS, DSR, DCD counters or a
//            ring of the RI counter of TIOCGICOUNT; drivers without counters
//            but with TIOCMGET are compared line by line. Both are sampled
//            every kLinePollMs: TIOCMIWAIT cannot be woken to stop. Drivers
//            with neither (ptys) never raise these events.
//  evBreak, evError  growth of the break, and of the frame, overrun, parity
//            and buffer-overrun counters of TIOCGICOUNT, where supported.
constexpr std::uint32_t kLineEvents = EV_BREAK | EV_ERR | EV_CTS | EV_DSR | EV_RLSD | EV_RING;

class TLineSampler {
public:
    // Sampling only starts when the driver answers one of the two requests.
    void Start(int fd)
    {
        if (ReadErrorCounts(fd, m_counts))
            m_mode = Counters;
        else if (RetryIoctl(fd, TIOCMGET, &m_lines) == 0)
            m_mode = Lines;
    }
    bool Active() const { return m_mode != None; }

    std::uint32_t Sample(int fd)
    {
        std::uint32_t mask = 0;
        if (m_mode == Counters) {
            serial_icounter_struct c{};
            if (!ReadErrorCounts(fd, c)) {
                m_mode = None;  // the device went away
                return 0;
            }
            if (c.cts != m_counts.cts)
                mask |= EV_CTS;
            if (c.dsr != m_counts.dsr)
                mask |= EV_DSR;
            if (c.dcd != m_counts.dcd)
                mask |= EV_RLSD;
            if (c.rng != m_counts.rng)
                mask |= EV_RING;
            if (c.brk != m_counts.brk)
                mask |= EV_BREAK;
            if (c.frame != m_counts.frame || c.overrun != m_counts.overrun || c.parity != m_counts.parity ||
                c.buf_overrun != m_counts.buf_overrun)
                mask |= EV_ERR;
            m_counts = c;
        } else if (m_mode == Lines) {
            int lines = 0;
            if (RetryIoctl(fd, TIOCMGET, &lines) != 0) {
                m_mode = None;
                return 0;
            }
            const int changed = lines ^ m_lines;
            if (changed & TIOCM_CTS)
                mask |= EV_CTS;
            if (changed & TIOCM_DSR)
                mask |= EV_DSR;
            if (changed & TIOCM_CD)
                mask |= EV_RLSD;
            if ((changed & TIOCM_RI) && (lines & TIOCM_RI))
                mask |= EV_RING;
            m_lines = lines;
        }
        return mask;
    }

private:
    enum { None, Counters, Lines } m_mode = None;
    serial_icounter_struct m_counts{};
    int m_lines = 0;
};

}  // namespace
}  // namespace vostrel

using namespace vostrel;

TCommEventThread::TCommEventThread(TDeviceHandle device, std::uint32_t mask, TCustomComm* owner,
                                   TSyncDispatcher dispatcher)
    : m_device(device), m_wait(std::make_unique<TDeviceWait>()), m_eventMask(mask), m_owner(owner),
      m_dispatcher(std::move(dispatcher))
{}

TCommEventThread::~TCommEventThread() = default;

void TCommEventThread::CancelDeviceWaitLocked()
{}

void TCommEventThread::NotifyWrite()
{
    if (!(m_eventMask & EV_TXEMPTY))
        return;
    ++m_writeCount;
    m_wakeEvent.SetEvent();
}

void TCommEventThread::Execute()
{
    const int ep = ::epoll_create1(EPOLL_CLOEXEC);
    if (ep < 0)
        return;
    enum : std::uint32_t { kWake, kDevice };
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u32 = kWake;
    if (::epoll_ctl(ep, EPOLL_CTL_ADD, m_wakeEvent.Handle(), &ev) != 0) {
        ::close(ep);  // a watcher that cannot be woken must not start waiting
        return;
    }

    const bool watchTx = (m_eventMask & EV_TXEMPTY) != 0;
    bool deviceWatched = false;
    TLineSampler sampler;
    {
        std::lock_guard<std::mutex> g(m_deviceLock);
        if (m_device >= 0 && (m_eventMask & EV_RXCHAR)) {
            // The set forgets the descriptor by itself when the owner closes it.
            ev.events = EPOLLIN | EPOLLET;
            ev.data.u32 = kDevice;
            deviceWatched = ::epoll_ctl(ep, EPOLL_CTL_ADD, m_device, &ev) == 0;
        }
        if (m_device >= 0 && (m_eventMask & kLineEvents))
            sampler.Start(m_device);
    }

    std::uint64_t writesSeen = m_writeCount;
    for (;;) {
        std::uint32_t mask = 0;
        {
            // The wait itself is made under the lock: while epoll collects
            // events it holds a reference to the device's file, which would
            // keep the port (and its exclusive lock) open past ClosePort.
            std::lock_guard<std::mutex> g(m_deviceLock);
            if (m_terminated || m_device < 0)
                break;
            int timeoutMs = -1;  // nothing to sample: sleep until woken
            if (sampler.Active())
                timeoutMs = kLinePollMs;
            if (watchTx && m_writeCount != writesSeen)
                timeoutMs = timeoutMs < 0 ? kDrainPollMs : std::min(timeoutMs, kDrainPollMs);

            epoll_event got[2];
            const int n = ::epoll_wait(ep, got, 2, timeoutMs);
            if (n < 0 && errno != EINTR)
                break;
            bool rxEdge = false;
            bool hungUp = false;
            for (int i = 0; i < n; ++i) {
                if (got[i].data.u32 == kWake) {
                    m_wakeEvent.ResetEvent();
                } else {
                    rxEdge = rxEdge || (got[i].events & EPOLLIN) != 0;
                    hungUp = hungUp || (got[i].events & (EPOLLHUP | EPOLLERR)) != 0;
                }
            }
            if (m_terminated)
                break;
            if (hungUp && deviceWatched) {
                // Nothing more can arrive on a vanished device; wait for the stop only.
                ::epoll_ctl(ep, EPOLL_CTL_DEL, m_device, nullptr);
                deviceWatched = false;
            }
            if (rxEdge && InputQueueCount(m_device) > 0)
                mask |= EV_RXCHAR;
            const std::uint64_t writes = m_writeCount;
            if (watchTx && writes != writesSeen) {
                int queued = 0;
                const bool known = RetryIoctl(m_device, TIOCOUTQ, &queued) == 0;
                if (!known || queued == 0) {
                    writesSeen = writes;
                    if (known)
                        mask |= EV_TXEMPTY;
                }
            }
            if (sampler.Active())
                mask |= sampler.Sample(m_device);
        }
        mask &= m_eventMask;
        if (mask != 0)
            Handover(mask);
    }
    ::close(ep);
}

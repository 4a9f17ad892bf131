// The part of the serial component that is the same on every platform: the
// settings and their rules, the order of opening, the filling of the
// line-settings record, the dispatch of line events and the watcher's
// hand-over. The device calls are in the backend folder's CommPort.cpp and
// CommEventThread.cpp.
#include "CommInt.h"

#include <algorithm>
#include <chrono>
#include <system_error>
#include <thread>

namespace vostrel {

namespace {

using Clock = std::chrono::steady_clock;

// A close without a time limit gives up on output that has not moved for this
// long: longer than a 16-byte FIFO takes to go out at 110 bit/s.
constexpr int kCloseStallMs = 5000;

constexpr std::uint32_t kBaudRates[] = {110,   300,   600,   1200,  2400,   4800,   9600,  14400,
                                        19200, 38400, 56000, 57600, 115200, 128000, 256000};
static_assert(std::size(kBaudRates) == br256000 + 1, "one rate for each TBaudrate");

// The flow-control bits of each TFlowControl.
constexpr std::uint32_t kCtsFlowFlags = dcbOutxCtsFlow | dcbRtsControlHandshake;  // 0x2004
constexpr std::uint32_t kDtrFlowFlags = dcbOutxDsrFlow | dcbDtrControlHandshake;  // 0x0028
constexpr std::uint32_t kSoftwareFlowFlags = dcbOutX | dcbInX;                    // 0x0300

}  // namespace

std::uint32_t BaudRateValue(TBaudrate rate)
{
    return rate <= br256000 ? kBaudRates[rate] : 0;
}

std::uint32_t OptionFlag(TCommOption option)
{
    switch (option) {
    case coParityCheck:
        return dcbParity;
    case coDsrSensitivity:
        return dcbDsrSensitivity;
    case coIgnoreXOff:
        return dcbTXContinueOnXoff;
    case coErrorChar:
        return dcbErrorChar;
    case coNullStrip:
        return dcbNull;
    }
    return 0;
}

std::uint32_t LineFlags(TFlowControl flow, TCommOptions options, std::uint32_t reported, std::uint32_t lastWritten)
{
    std::uint32_t flags = dcbBinary;
    switch (flow) {
    case fcNone:
        break;  // also DTR and RTS held off
    case fcCTS:
        flags |= kCtsFlowFlags;
        break;
    case fcDTR:
        flags |= kDtrFlowFlags;
        break;
    case fcSoftware:
        flags |= kSoftwareFlowFlags;
        break;
    case fcDefault:
        // The driver's handshake lines stay as they are. XON/XOFF only as
        // this port chose it: a fresh Linux tty comes with IXON on, and a
        // Windows port keeps what its last user left; either would swallow
        // 0x11 and 0x13 of a binary line. Abort-on-error is never kept: after
        // a line error every transfer would fail until the error state is
        // read, which a write does not do.
        flags = (reported & ~(kSoftwareFlowFlags | dcbAbortOnError)) | (lastWritten & kSoftwareFlowFlags);
        break;
    }
    for (int o = coParityCheck; o <= coNullStrip; ++o) {
        const std::uint32_t bit = OptionFlag(static_cast<TCommOption>(o));
        if (options & OptionBit(static_cast<TCommOption>(o)))
            flags |= bit;
        else
            flags &= ~bit;
    }
    return flags;
}

std::uint32_t EventMaskBit(TCommEventType event)
{
    switch (event) {
    case evBreak:
        return EV_BREAK;
    case evCts:
        return EV_CTS;
    case evDsr:
        return EV_DSR;
    case evError:
        return EV_ERR;
    case evRing:
        return EV_RING;
    case evRlsd:
        return EV_RLSD;
    case evRxChar:
        return EV_RXCHAR;
    case evRxFlag:
        return EV_RXFLAG;
    case evTxEmpty:
        return EV_TXEMPTY;
    }
    return 0;
}

std::uint32_t EventMask(TCommEventTypes events)
{
    std::uint32_t mask = 0;
    for (int e = evBreak; e <= evTxEmpty; ++e)
        if (events & EventBit(static_cast<TCommEventType>(e)))
            mask |= EventMaskBit(static_cast<TCommEventType>(e));
    return mask;
}

bool WaitForDrain(const std::function<int()>& queued, std::int32_t limitMs, int stallMs)
{
    const auto start = Clock::now();
    auto lastProgress = start;
    int left = queued();
    while (left > 0) {
        const auto now = Clock::now();
        if (limitMs >= 0 ? now - start >= std::chrono::milliseconds(limitMs)
                         : now - lastProgress >= std::chrono::milliseconds(stallMs))
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        const int n = queued();
        if (n < left)
            lastProgress = Clock::now();
        left = n;
    }
    return true;
}

}  // namespace vostrel

using namespace vostrel;

ECommError::ECommError(const std::string& text, std::int32_t code)
    : std::runtime_error(text + " (Error: " + std::to_string(code) + ") "), ErrorCode(code)
{}

// ---------------------------------------------------------------------------

TCommEventChars::TCommEventChars(TCustomComm* owner) : m_owner(owner)
{}

void TCommEventChars::SetEventChar(int index, std::uint8_t c)
{
    m_chars[index - 1] = c;
    if (m_owner)
        m_owner->ApplyLineSettings();
}

void TCommEventChars::Assign(const TCommEventChars& source)
{
    std::copy(std::begin(source.m_chars), std::end(source.m_chars), std::begin(m_chars));
    if (m_owner)
        m_owner->ApplyLineSettings();
}

// ---------------------------------------------------------------------------

TCustomComm::TCustomComm() = default;

TCustomComm::~TCustomComm()
{
    ClosePort();
}

void TCustomComm::CheckClosed()
{
    if (IsOpen())
        throw ECommError("Port already assigned (open)", -1);
}

void TCustomComm::SetDeviceName(const std::string& name)
{
    if (name == m_deviceName)
        return;
    CheckClosed();
    m_deviceName = name;
}

void TCustomComm::SetReadBufSize(std::int32_t size)
{
    if (size == m_readBufSize)
        return;
    CheckClosed();
    m_readBufSize = size;
}

void TCustomComm::SetWriteBufSize(std::int32_t size)
{
    if (size == m_writeBufSize)
        return;
    CheckClosed();
    m_writeBufSize = size;
}

void TCustomComm::SetMonitorEvents(TCommEventTypes events)
{
    if (events == m_monitorEvents)
        return;
    CheckClosed();
    m_monitorEvents = events;
}

#define VOSTREL_LINE_SETTER(Name, Type, Field)                                                                         \
    void TCustomComm::Set##Name(Type value)                                                                            \
    {                                                                                                                  \
        if (value == Field)                                                                                            \
            return;                                                                                                    \
        Field = value;                                                                                                 \
        ApplyLineSettings();                                                                                           \
    }
VOSTREL_LINE_SETTER(BaudRate, TBaudrate, m_baudRate)
VOSTREL_LINE_SETTER(Parity, TParity, m_parity)
VOSTREL_LINE_SETTER(Stopbits, TStopbits, m_stopbits)
VOSTREL_LINE_SETTER(Databits, TDatabits, m_databits)
VOSTREL_LINE_SETTER(Options, TCommOptions, m_options)
VOSTREL_LINE_SETTER(FlowControl, TFlowControl, m_flowControl)
#undef VOSTREL_LINE_SETTER

void TCustomComm::ClosePort()
{
    if (!IsOpen())
        return;
    if (m_eventThread) {
        m_eventThread->StopWatching();
        m_eventThread->Detach();
    }
    m_ioEvent.SetEvent();  // a write waiting on another thread gives up
    TLockGuard lock(m_ioLock);
    m_eventThread.reset();
    DiscardInput();
    // Queued output still goes out (the last bytes written may be a closing
    // packet), but a line that stopped taking it must not hold the close:
    // what is left then is dropped.
    if (!WaitForDrain([this] { return OutputQueued(); }, m_writeTimeout, kCloseStallMs))
        DiscardOutput();
    const TDeviceHandle device = m_handle;
    m_handle = kInvalidDeviceHandle;
    ReleaseDevice(device);
    m_ioEvent.ResetEvent();
}

void TCustomComm::OpenPort()
{
    TLockGuard lock(m_ioLock);
    CheckClosed();
    CreateDeviceHandle();
    if (!IsOpen())
        return;
    DeviceOpened();

    // A watcher only when it has something to report and somewhere to report it.
    if (m_monitorEvents != 0 && m_dispatcher) {
        try {
            m_eventThread = TCommEventThread::Create(m_handle, m_monitorEvents, this, m_dispatcher);
        } catch (const std::system_error&) {
            m_eventThread.reset();  // no thread to spare: the port works, events stay silent
        }
    }
    // A device that refuses any of these is no port to work on: it is let go
    // again, so that a failed open never leaves a half-prepared line open.
    // The queues come before the line settings, whose XON/XOFF limits a
    // driver checks against its queue; a driver's refusal of the queue sizes
    // alone is no failure (they are advice to it).
    try {
        ApplyTimeouts();
        SetupQueues();
        ApplyLineSettings();
    } catch (...) {
        AbandonDevice();
        throw;
    }
}

void TCustomComm::AbandonDevice()
{
    if (m_eventThread) {
        m_eventThread->Detach();
        m_eventThread.reset();
    }
    const TDeviceHandle device = m_handle;
    m_handle = kInvalidDeviceHandle;
    ReleaseDevice(device);
}

void TCustomComm::ApplyLineSettings()
{
    if (!IsOpen())
        return;
    TDcb dcb = m_dcb;
    // A failed read leaves the record as last written, which fcDefault then
    // keeps; a line that really fails is reported by the write below.
    ReadLineRecord(dcb);

    dcb.DCBlength = sizeof(TDcb);
    dcb.BaudRate = BaudRateValue(m_baudRate);
    dcb.Parity = m_parity;
    dcb.StopBits = m_stopbits;
    dcb.ByteSize = static_cast<std::uint8_t>(4 + m_databits);
    dcb.XonChar = m_eventChars.XonChar();
    dcb.XoffChar = m_eventChars.XoffChar();
    dcb.ErrorChar = m_eventChars.ErrorChar();
    dcb.EofChar = m_eventChars.EofChar();
    dcb.EvtChar = m_eventChars.EvtChar();
    dcb.XonLim = static_cast<std::uint16_t>(m_readBufSize / 4);
    dcb.XoffLim = static_cast<std::uint16_t>(m_readBufSize / 4);

    dcb.Flags = LineFlags(m_flowControl, m_options, dcb.Flags, m_writtenFlags);

    // A refused record never reached the line: fcDefault must not take its
    // bits for the device's later on.
    if (const std::int32_t err = WriteLineRecord(dcb))
        throw ECommError("Error updating DataControlBlock", err);
    m_dcb = dcb;
    m_writtenFlags = dcb.Flags;
}

void TCustomComm::DispatchCommEvents(std::uint32_t mask)
{
    std::int32_t count = 0;
    const std::int32_t errors = IsOpen() ? ClearDeviceErrors(count) : 0;
    if ((mask & EV_BREAK) && OnBreak)
        OnBreak(this);
    if ((mask & EV_CTS) && OnCts)
        OnCts(this);
    if ((mask & EV_DSR) && OnDsr)
        OnDsr(this);
    if ((mask & EV_ERR) && OnError)
        OnError(this, errors);
    if ((mask & EV_RING) && OnRing)
        OnRing(this);
    if ((mask & EV_RLSD) && OnRlsd)
        OnRlsd(this);
    if ((mask & EV_RXCHAR) && OnRxChar && count > 0)
        OnRxChar(this, count);
    if ((mask & EV_RXFLAG) && OnRxFlag)
        OnRxFlag(this);
    if ((mask & EV_TXEMPTY) && OnTxEmpty)
        OnTxEmpty(this);
}

// ---------------------------------------------------------------------------
// Line-event watcher: starting, stopping and the hand-over to the owner.

std::shared_ptr<TCommEventThread> TCommEventThread::Create(TDeviceHandle device, TCommEventTypes events,
                                                           TCustomComm* owner, TSyncDispatcher dispatcher)
{
    std::shared_ptr<TCommEventThread> watcher(
        new TCommEventThread(device, EventMask(events), owner, std::move(dispatcher)));
    // The thread holds its own reference: it frees the object when it ends.
    std::thread([watcher] {
        try {
            watcher->Execute();
        } catch (...) {
            // A dispatcher or handler that throws ends the watching.
        }
    }).detach();
    return watcher;
}

void TCommEventThread::StopWatching()
{
    m_terminated = true;
    m_wakeEvent.SetEvent();
}

void TCommEventThread::Detach()
{
    StopWatching();  // the watcher leaves its wait at once and never waits again
    {
        std::lock_guard<std::mutex> g(m_deviceLock);
        CancelDeviceWaitLocked();
        m_device = kInvalidDeviceHandle;
    }
    // Waits only for a handler running on another thread; on the owner's
    // thread (also from inside a handler) the lock is re-entered.
    std::lock_guard<std::recursive_mutex> g(m_ownerLock);
    m_owner = nullptr;
}

void TCommEventThread::Handover(std::uint32_t mask)
{
    if (m_terminated)
        return;
    auto self = shared_from_this();
    m_dispatcher([self, mask] { self->RunDispatch(mask); });
}

void TCommEventThread::RunDispatch(std::uint32_t mask)
{
    std::lock_guard<std::recursive_mutex> g(m_ownerLock);
    if (m_owner && !m_terminated)
        m_owner->DispatchCommEvents(mask);
}

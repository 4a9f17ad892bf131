#include "CommInt.h"

#include "LineTermios.h"
#include "TermiosRate.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <system_error>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace vostrel {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kBaudRates[] = {110,   300,   600,   1200,  2400,   4800,   9600,  14400,
                                        19200, 38400, 56000, 57600, 115200, 128000, 256000};
static_assert(std::size(kBaudRates) == br256000 + 1, "one rate for each TBaudrate");

// Flow-control bits each TFlowControl sets on top of what the device reported.
constexpr std::uint32_t kCtsFlowFlags = dcbOutxCtsFlow | dcbRtsControlHandshake;  // 0x2004
constexpr std::uint32_t kDtrFlowFlags = dcbOutxDsrFlow | dcbDtrControlHandshake;  // 0x0028
constexpr std::uint32_t kSoftwareFlowFlags = dcbOutX | dcbInX;                    // 0x0300

// Period for states the kernel cannot wake us for (modem lines, drained output).
constexpr int kLinePollMs = 100;
constexpr int kDrainPollMs = 20;
// A close without a time limit gives up on output that has not moved for this
// long: longer than a 16-byte FIFO takes to go out at 110 bit/s.
constexpr int kCloseStallMs = 5000;

int RetryIoctl(int fd, unsigned long request, void* arg)
{
    return static_cast<int>(TEMP_FAILURE_RETRY(::ioctl(fd, request, arg)));
}

// GetCommState: the device's record as far as termios can tell, the rest as
// last written on this handle.
void ReadDeviceState(int fd, std::uint32_t deviceOnlyFlags, TDcb& dcb)
{
    termios t{};
    if (::tcgetattr(fd, &t) != 0)
        return;
    DcbFromTermios(t, deviceOnlyFlags, dcb);
    dcb.BaudRate = ReadBaudRate(fd);
}

void SetModemLine(int fd, bool on, int line)
{
    // Lines a driver does not have (ptys have none) are left alone.
    RetryIoctl(fd, on ? TIOCMBIS : TIOCMBIC, &line);
}

// SetCommState. Returns 0 or the errno of the failed step.
int WriteDeviceState(int fd, const TDcb& dcb)
{
    termios t{};
    if (::tcgetattr(fd, &t) != 0)
        return errno;
    bool customRate = false;
    if (const int err = TermiosFromDcb(dcb, t, customRate))
        return err;
    // A driver that cannot do a setting (a pty has no parity or character
    // size) is reported by tcsetattr as EINVAL.
    if (::tcsetattr(fd, TCSANOW, &t) != 0)
        return errno;
    if (customRate && !SetCustomBaudRate(fd, dcb.BaudRate))
        return errno;

    // DTR: off when disabled, else on (no DTR handshake on Linux). RTS: off
    // when disabled; driven by the driver under CRTSCTS; on for enable and for
    // toggle, which Linux does not do.
    SetModemLine(fd, (dcb.Flags & dcbDtrControlMask) != 0, TIOCM_DTR);
    if (!(t.c_cflag & CRTSCTS))
        SetModemLine(fd, (dcb.Flags & dcbRtsControlMask) != 0, TIOCM_RTS);
    return 0;
}

bool ReadErrorCounts(int fd, serial_icounter_struct& c)
{
    return fd >= 0 && RetryIoctl(fd, TIOCGICOUNT, &c) == 0;
}

std::int32_t InputQueueCount(int fd)
{
    int n = 0;
    if (fd < 0 || RetryIoctl(fd, FIONREAD, &n) != 0)
        return -1;
    return n;
}

}  // namespace

// ---------------------------------------------------------------------------

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

std::string ResolveDevicePath(const std::string& deviceName)
{
    std::string name = deviceName;
    if (name.rfind("\\\\.\\", 0) == 0)
        name = name.substr(4);
    const bool comName = name.size() > 3 && name.size() <= 6 &&
                         std::tolower(static_cast<unsigned char>(name[0])) == 'c' &&
                         std::tolower(static_cast<unsigned char>(name[1])) == 'o' &&
                         std::tolower(static_cast<unsigned char>(name[2])) == 'm' &&
                         std::all_of(name.begin() + 3, name.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (!comName)
        return deviceName;
    const int n = std::stoi(name.substr(3));
    if (n < 1)
        return deviceName;
    // An administrator's link (e.g. to a USB adapter) wins over the UART names.
    const std::string link = "/dev/COM" + std::to_string(n);
    if (::access(link.c_str(), F_OK) == 0)
        return link;
    return "/dev/ttyS" + std::to_string(n - 1);
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

void TCustomComm::CreateDeviceHandle()
{
    const std::string path = ResolveDevicePath(m_deviceName);
    // O_NOCTTY: the line must never become our controlling terminal.
    // O_NONBLOCK: neither open (carrier) nor any transfer may block.
    const int fd =
        static_cast<int>(TEMP_FAILURE_RETRY(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)));
    if (fd < 0)
        throw ECommError("Error accessing specified device", errno);

    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode) || !::isatty(fd)) {
        ::close(fd);
        m_handle = -1;
        throw ECommError("Invalid device handle, access denied", -1);
    }
    // Exclusive use: the advisory lock keeps out every program that asks for
    // it (another TComm included), TIOCEXCL keeps out plain opens.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || RetryIoctl(fd, TIOCEXCL, nullptr) != 0) {
        const int err = errno;
        ::close(fd);
        m_handle = -1;
        throw ECommError("Error accessing specified device", err);
    }
    m_handle = fd;
}

void TCustomComm::OpenPort()
{
    TLockGuard lock(m_ioLock);
    CheckClosed();
    CreateDeviceHandle();
    if (!IsOpen())
        return;
    m_writtenFlags = kOpenedLineFlags;
    serial_icounter_struct c{};
    m_haveErrorCounts = ReadErrorCounts(m_handle, c);
    if (m_haveErrorCounts)
        m_errorBase = {c.frame, c.overrun, c.parity, c.brk, c.buf_overrun};

    // A watcher only when it has something to report and somewhere to report it.
    if (m_monitorEvents != 0 && m_dispatcher) {
        try {
            m_eventThread = TCommEventThread::Create(m_handle, m_monitorEvents, this, m_dispatcher);
        } catch (const std::system_error&) {
            m_eventThread.reset();  // no thread to spare: the port works, events stay silent
        }
    }
    ApplyTimeouts();
    ApplyLineSettings();
    SetupQueues();
}

void TCustomComm::ApplyTimeouts()
{
    // The record's "return at once with what has arrived" is VMIN=0, VTIME=0.
    termios t{};
    if (::tcgetattr(m_handle, &t) != 0)
        throw ECommError("Error updating CommTimeouts", errno);
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    if (::tcsetattr(m_handle, TCSANOW, &t) != 0)
        throw ECommError("Error updating CommTimeouts", errno);
}

void TCustomComm::SetupQueues()
{
    // Linux tty queues have fixed sizes; only the request itself can be wrong.
    if (m_readBufSize <= 0 || m_writeBufSize <= 0)
        throw ECommError("Error initializing Read/Write Buffers", EINVAL);
}

void TCustomComm::ApplyLineSettings()
{
    if (!IsOpen())
        return;
    TDcb dcb = m_dcb;
    // A failed read leaves the record as last written, which fcDefault then
    // keeps; a line that really fails is reported by the write below.
    ReadDeviceState(m_handle, m_writtenFlags, dcb);
    // XON/XOFF only as this port chose it: a fresh Linux tty comes with IXON
    // on, which would swallow 0x11 and 0x13 of a binary line.
    dcb.Flags = (dcb.Flags & ~kSoftwareFlowFlags) | (m_writtenFlags & kSoftwareFlowFlags);

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

    switch (m_flowControl) {
    case fcNone:
        dcb.Flags = dcbBinary;
        break;  // also DTR and RTS held off
    case fcCTS:
        dcb.Flags |= kCtsFlowFlags;
        break;
    case fcDTR:
        dcb.Flags |= kDtrFlowFlags;
        break;
    case fcSoftware:
        dcb.Flags |= kSoftwareFlowFlags;
        break;
    case fcDefault:
        break;
    }
    for (int o = coParityCheck; o <= coNullStrip; ++o) {
        const std::uint32_t bit = OptionFlag(static_cast<TCommOption>(o));
        if (m_options & OptionBit(static_cast<TCommOption>(o)))
            dcb.Flags |= bit;
        else
            dcb.Flags &= ~bit;
    }

    m_dcb = dcb;
    m_writtenFlags = dcb.Flags;
    if (const int err = WriteDeviceState(m_handle, dcb))
        throw ECommError("Error updating DataControlBlock", err);
}

void TCustomComm::ClosePort()
{
    if (!IsOpen())
        return;
    if (m_eventThread) {
        m_eventThread->StopWatching();
        m_eventThread->Detach();
    }
    m_ioEvent.SetEvent();  // a write waiting for room on another thread gives up
    TLockGuard lock(m_ioLock);
    m_eventThread.reset();
    const int fd = m_handle;
    ::tcflush(fd, TCIFLUSH);
    // Queued output still goes out (the last bytes written may be a closing
    // packet), but a line that stopped taking it must not hold close() for the
    // driver's long closing wait: what is left then is dropped.
    const auto queued = [fd] {
        int n = 0;
        return RetryIoctl(fd, TIOCOUTQ, &n) == 0 ? n : -1;
    };
    if (!WaitForDrain(queued, m_writeTimeout, kCloseStallMs))
        ::tcflush(fd, TCOFLUSH);
    RetryIoctl(fd, TIOCNXCL, nullptr);  // the flag outlives us while others hold the tty
    m_handle = -1;
    ::close(fd);
    m_ioEvent.ResetEvent();
}

std::int32_t TCustomComm::WriteBytes(const void* buf, std::int32_t count)
{
    if (count < 0)
        throw ECommError("Write error", EINVAL);
    TLockGuard lock(m_ioLock);
    const int fd = m_handle;
    const auto* bytes = static_cast<const std::uint8_t*>(buf);
    ssize_t n = TEMP_FAILURE_RETRY(::write(fd, bytes, static_cast<std::size_t>(count)));
    if (n < 0 && errno != EAGAIN)
        throw ECommError("Write error", errno);

    std::int32_t done = n > 0 ? static_cast<std::int32_t>(n) : 0;
    bool failed = false;
    const auto deadline = Clock::now() + std::chrono::milliseconds(m_writeTimeout);
    // The rest waits for room; on time-out nothing is left pending, the bytes
    // already handed over are simply on their way.
    while (done < count) {
        int waitMs = -1;
        if (m_writeTimeout >= 0) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0) {
                failed = true;
                break;
            }
            waitMs = static_cast<int>(left);
        }
        pollfd p[2] = {{fd, POLLOUT, 0}, {m_ioEvent.Handle(), POLLIN, 0}};
        const int r = ::poll(p, 2, waitMs);
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0 || p[1].revents != 0 || (p[0].revents & (POLLERR | POLLHUP | POLLNVAL))) {
            failed = true;
            break;
        }
        if (!(p[0].revents & POLLOUT))
            continue;
        n = ::write(fd, bytes + done, static_cast<std::size_t>(count - done));
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            failed = true;
            break;
        }
        done += static_cast<std::int32_t>(n);
    }
    if (done > 0 && m_eventThread)
        m_eventThread->NotifyWrite();
    return failed ? -1 : done;
}

std::int32_t TCustomComm::ReadBytes(void* buf, std::int32_t count)
{
    if (count < 0)
        throw ECommError("Read error", EINVAL);
    TLockGuard lock(m_ioLock);
    // The descriptor is non-blocking and VMIN=VTIME=0, so a read completes at
    // once and ReadTimeout never has anything to bound.
    const ssize_t n = TEMP_FAILURE_RETRY(::read(m_handle, buf, static_cast<std::size_t>(count)));
    if (n > 0)
        return static_cast<std::int32_t>(n);
    if (n == 0 || errno == EAGAIN) {
        // An empty read also looks like this on a hung-up line (a pulled
        // adapter, a pty whose other end closed); that one is an error.
        pollfd p{m_handle, 0, 0};
        if (count > 0 && ::poll(&p, 1, 0) == 1 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)))
            throw ECommError("Read error", EIO);
        return 0;
    }
    throw ECommError("Read error", errno);
}

std::int32_t TCustomComm::InputCount()
{
    if (!IsOpen())
        return -1;
    ClearDeviceErrors();
    const std::int32_t n = InputQueueCount(m_handle);
    // A line that has hung up (a pulled adapter, a pty whose other end
    // closed) would otherwise look like a silent one for ever.
    if (n <= 0) {
        pollfd p{m_handle, 0, 0};
        if (::poll(&p, 1, 0) == 1 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)))
            throw ECommError("Read error", EIO);
    }
    return n;
}

void TCustomComm::PurgeInput()
{
    if (IsOpen())
        ::tcflush(m_handle, TCIFLUSH);
}

std::int32_t TCustomComm::ClearDeviceErrors()
{
    // The error state is the growth of the driver's interrupt counters since
    // the last clearing; drivers without counters (ptys) never report errors.
    serial_icounter_struct c{};
    if (!m_haveErrorCounts || !ReadErrorCounts(m_handle, c))
        return 0;
    std::int32_t errors = 0;
    if (c.buf_overrun != m_errorBase.bufOverrun)
        errors |= CE_RXOVER;
    if (c.overrun != m_errorBase.overrun)
        errors |= CE_OVERRUN;
    if (c.parity != m_errorBase.parity)
        errors |= CE_RXPARITY;
    if (c.frame != m_errorBase.frame)
        errors |= CE_FRAME;
    if (c.brk != m_errorBase.brk)
        errors |= CE_BREAK;
    m_errorBase = {c.frame, c.overrun, c.parity, c.brk, c.buf_overrun};
    return errors;
}

void TCustomComm::DispatchCommEvents(std::uint32_t mask)
{
    const std::int32_t errors = ClearDeviceErrors();
    const std::int32_t count = IsOpen() ? InputQueueCount(m_handle) : 0;
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
// Line-event watcher

namespace vostrel {
namespace {

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

std::shared_ptr<TCommEventThread> TCommEventThread::Create(int fd, TCommEventTypes events, TCustomComm* owner,
                                                           TSyncDispatcher dispatcher)
{
    std::shared_ptr<TCommEventThread> watcher(
        new TCommEventThread(fd, EventMask(events), owner, std::move(dispatcher)));
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

TCommEventThread::TCommEventThread(int fd, std::uint32_t mask, TCustomComm* owner, TSyncDispatcher dispatcher)
    : m_device(fd), m_eventMask(mask), m_owner(owner), m_dispatcher(std::move(dispatcher))
{}

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
        m_device = -1;
    }
    // Waits only for a handler running on another thread; on the owner's
    // thread (also from inside a handler) the lock is re-entered.
    std::lock_guard<std::recursive_mutex> g(m_ownerLock);
    m_owner = nullptr;
}

void TCommEventThread::NotifyWrite()
{
    if (!(m_eventMask & EV_TXEMPTY))
        return;
    ++m_writeCount;
    m_wakeEvent.SetEvent();
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

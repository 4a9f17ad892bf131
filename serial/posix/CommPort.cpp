// The serial component's device calls on POSIX termios.
#include "CommInt.h"
#include "LineTermios.h"
#include "PosixDevice.h"
#include "TermiosRate.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <termios.h>

namespace vostrel {

namespace {

using Clock = std::chrono::steady_clock;

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

    // DTR: off when disabled, else on (a DTR handshake never gets here). RTS: off
    // when disabled; driven by the driver under CRTSCTS; on for enable and for
    // toggle, which Linux does not do.
    SetModemLine(fd, (dcb.Flags & dcbDtrControlMask) != 0, TIOCM_DTR);
    if (!(t.c_cflag & CRTSCTS))
        SetModemLine(fd, (dcb.Flags & dcbRtsControlMask) != 0, TIOCM_RTS);
    return 0;
}

}  // namespace

TInputWait::TInputWait() : Fd(::epoll_create1(EPOLL_CLOEXEC))
{}

TInputWait::~TInputWait()
{
    if (Fd >= 0)
        ::close(Fd);
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

}  // namespace vostrel

using namespace vostrel;

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
        m_handle = kInvalidDeviceHandle;
        throw ECommError("Invalid device handle, access denied", -1);
    }
    // Exclusive use: the advisory lock keeps out every program that asks for
    // it (another TComm included), TIOCEXCL keeps out plain opens.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || RetryIoctl(fd, TIOCEXCL, nullptr) != 0) {
        const int err = errno;
        ::close(fd);
        m_handle = kInvalidDeviceHandle;
        throw ECommError("Error accessing specified device", err);
    }
    m_handle = fd;
}

void TCustomComm::DeviceOpened()
{
    m_writtenFlags = kOpenedLineFlags;
    // Hang-up and errors are reported without being asked for.
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.fd = m_handle;
    m_inputWait.HoldsDevice = m_inputWait.Fd >= 0 && ::epoll_ctl(m_inputWait.Fd, EPOLL_CTL_ADD, m_handle, &ev) == 0;
    serial_icounter_struct c{};
    m_state.haveCounts = ReadErrorCounts(m_handle, c);
    if (m_state.haveCounts)
        m_state = {c.frame, c.overrun, c.parity, c.brk, c.buf_overrun, true};
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

void TCustomComm::ReadLineRecord(TDcb& dcb)
{
    ReadDeviceState(m_handle, m_writtenFlags, dcb);
}

std::int32_t TCustomComm::WriteLineRecord(const TDcb& dcb)
{
    return WriteDeviceState(m_handle, dcb);
}

void TCustomComm::DiscardInput()
{
    ::tcflush(m_handle, TCIFLUSH);
}

int TCustomComm::OutputQueued()
{
    int n = 0;
    return RetryIoctl(m_handle, TIOCOUTQ, &n) == 0 ? n : -1;
}

void TCustomComm::DiscardOutput()
{
    // Also keeps close() from the driver's long closing wait on a stuck line.
    ::tcflush(m_handle, TCOFLUSH);
}

void TCustomComm::ReleaseDevice(TDeviceHandle device)
{
    // Before the close: a descriptor number reused by the next open must not
    // find itself in the set.
    if (m_inputWait.HoldsDevice)
        ::epoll_ctl(m_inputWait.Fd, EPOLL_CTL_DEL, device, nullptr);
    m_inputWait.HoldsDevice = false;
    RetryIoctl(device, TIOCNXCL, nullptr);  // the flag outlives us while others hold the tty
    ::close(device);
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
    std::int32_t n = 0;
    ClearDeviceErrors(n);
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

int TCustomComm::InputWaitDescriptor() const
{
    return IsOpen() && m_inputWait.HoldsDevice ? m_inputWait.Fd : -1;
}

bool TCustomComm::LineHungUp() const
{
    if (!IsOpen())
        return false;
    // The wait descriptor is an epoll set: only the device itself reports POLLHUP.
    pollfd p{m_handle, 0, 0};
    return ::poll(&p, 1, 0) == 1 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

std::int32_t TCustomComm::ClearDeviceErrors(std::int32_t& inQueue)
{
    inQueue = InputQueueCount(m_handle);
    // The error state is the growth of the driver's interrupt counters since
    // the last clearing; drivers without counters (ptys) never report errors.
    serial_icounter_struct c{};
    if (!m_state.haveCounts || !ReadErrorCounts(m_handle, c))
        return 0;
    TPortState& base = m_state;
    std::int32_t errors = 0;
    if (c.buf_overrun != base.bufOverrun)
        errors |= CE_RXOVER;
    if (c.overrun != base.overrun)
        errors |= CE_OVERRUN;
    if (c.parity != base.parity)
        errors |= CE_RXPARITY;
    if (c.frame != base.frame)
        errors |= CE_FRAME;
    if (c.brk != base.brk)
        errors |= CE_BREAK;
    m_state = {c.frame, c.overrun, c.parity, c.brk, c.buf_overrun, true};
    return errors;
}

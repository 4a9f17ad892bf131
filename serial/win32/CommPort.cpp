// The serial component's device calls on the Windows communications interface.
#include "CommInt.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

using namespace vostrel;

static_assert(sizeof(DCB) == sizeof(TDcb), "TDcb is laid out like the DCB");

namespace {

HANDLE AsHandle(TDeviceHandle h)
{
    return reinterpret_cast<HANDLE>(h);
}

std::int32_t LastErrorCode()
{
    return static_cast<std::int32_t>(::GetLastError());
}

}  // namespace

void TCustomComm::CreateDeviceHandle()
{
    // Share mode 0: nobody else, another TComm included, gets the port meanwhile.
    const HANDLE h = ::CreateFileA(m_deviceName.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_OVERLAPPED, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        throw ECommError("Error accessing specified device", LastErrorCode());
    if (::GetFileType(h) != FILE_TYPE_CHAR) {
        ::CloseHandle(h);
        m_handle = kInvalidDeviceHandle;
        throw ECommError("Invalid device handle, access denied", -1);
    }
    m_handle = reinterpret_cast<TDeviceHandle>(h);
}

void TCustomComm::DeviceOpened()
{
    // Drivers raise DTR and RTS on open; XON/XOFF are off until this port asks.
    m_writtenFlags = dcbBinary | dcbDtrControlEnable | dcbRtsControlEnable;
}

void TCustomComm::ApplyTimeouts()
{
    // A read returns at once with what has arrived; writes have no total limit
    // of their own, WriteTimeout bounds them.
    COMMTIMEOUTS t{};
    t.ReadIntervalTimeout = MAXDWORD;
    if (!::SetCommTimeouts(AsHandle(m_handle), &t))
        throw ECommError("Error updating CommTimeouts", LastErrorCode());
}

void TCustomComm::SetupQueues()
{
    if (m_readBufSize <= 0 || m_writeBufSize <= 0)
        throw ECommError("Error initializing Read/Write Buffers", ERROR_INVALID_PARAMETER);
    // The sizes are advice: a driver that refuses them keeps queues of its
    // own and the line still works. The refusal goes to the system's debug
    // output, where a debugger or a debug viewer shows it.
    if (!::SetupComm(AsHandle(m_handle), static_cast<DWORD>(m_readBufSize), static_cast<DWORD>(m_writeBufSize))) {
        const std::string note = m_deviceName + ": " +
                                 ECommError("Error initializing Read/Write Buffers", LastErrorCode()).what() +
                                 "; the driver keeps its own queue sizes\n";
        ::OutputDebugStringA(note.c_str());
    }
}

void TCustomComm::ReadLineRecord(TDcb& dcb)
{
    DCB d{};
    d.DCBlength = sizeof d;
    // A failed read leaves the record as last written.
    if (::GetCommState(AsHandle(m_handle), &d))
        std::memcpy(static_cast<void*>(&dcb), &d, sizeof d);  // same layout, trivially copyable
}

std::int32_t TCustomComm::WriteLineRecord(const TDcb& dcb)
{
    DCB d{};
    std::memcpy(&d, &dcb, sizeof d);
    return ::SetCommState(AsHandle(m_handle), &d) ? 0 : LastErrorCode();
}

void TCustomComm::DiscardInput()
{
    ::PurgeComm(AsHandle(m_handle), PURGE_RXABORT | PURGE_RXCLEAR);
}

int TCustomComm::OutputQueued()
{
    DWORD errors = 0;
    COMSTAT st{};
    return ::ClearCommError(AsHandle(m_handle), &errors, &st) ? static_cast<int>(st.cbOutQue) : -1;
}

void TCustomComm::DiscardOutput()
{
    ::PurgeComm(AsHandle(m_handle), PURGE_TXABORT | PURGE_TXCLEAR);
}

void TCustomComm::ReleaseDevice(TDeviceHandle device)
{
    ::CloseHandle(AsHandle(device));
}

namespace vostrel {

struct TTransfer {
    OVERLAPPED ov{};
    TSimpleEvent done;  // ov's event, set only by the system
    std::vector<std::uint8_t> bytes;
};

}  // namespace vostrel

namespace {

// How long a cancelled transfer is waited for, as the watcher's wait is; a
// driver that takes longer keeps its record and bytes, never freed under it.
constexpr DWORD kCancelWaitMs = 2000;

// How a transfer ended: the bytes it carried, the system's code (0 when it
// completed) and whether this side cancelled it (a stop or its time).
struct TTransferEnd {
    DWORD bytes = 0;
    DWORD error = 0;
    bool cancelled = false;
};

// The port's transfer record, zeroed, its event cleared, room for count bytes.
TTransfer& StartRecord(TPortState& state, std::size_t count)
{
    if (!state.transfer)
        state.transfer = {new TTransfer, [](TTransfer* t) { delete t; }};
    TTransfer& t = *state.transfer;
    t.done.ResetEvent();
    t.ov = OVERLAPPED{};
    t.ov.hEvent = t.done.Handle();
    t.bytes.resize(count);
    return t;
}

// Waits for a started transfer until it completes, its time runs out or
// ClosePort sets stop. One still going then is cancelled and waited for, up
// to kCancelWaitMs, so that the record and the bytes are free again when this
// returns; whatever it carried until then is in the result, with its own
// code. One that outlasts that is left to the driver (ERROR_OPERATION_ABORTED,
// nothing carried).
TTransferEnd FinishTransfer(HANDLE h, TPortState& state, HANDLE stop, std::int32_t timeoutMs)
{
    OVERLAPPED& ov = state.transfer->ov;
    const DWORD limit = timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs);
    // The completion first: a transfer that ended together with a stop counts.
    const HANDLE events[2] = {ov.hEvent, stop};
    TTransferEnd end;
    if (::WaitForMultipleObjects(stop ? 2 : 1, events, FALSE, limit) != WAIT_OBJECT_0) {
        end.cancelled = true;
        ::CancelIoEx(h, &ov);
        if (::WaitForSingleObject(ov.hEvent, kCancelWaitMs) != WAIT_OBJECT_0) {
            (void)state.transfer.release();
            return {0, ERROR_OPERATION_ABORTED, true};
        }
    }
    if (!::GetOverlappedResult(h, &ov, &end.bytes, FALSE))
        end.error = ::GetLastError();
    return end;
}

}  // namespace

std::int32_t TCustomComm::WriteBytes(const void* buf, std::int32_t count)
{
    if (count < 0)
        throw ECommError("Write error", ERROR_INVALID_PARAMETER);
    TLockGuard lock(m_ioLock);
    const HANDLE h = AsHandle(m_handle);
    // The bytes go out from the record's own copy, which outlives a
    // transfer left to its driver.
    TTransfer& t = StartRecord(m_state, static_cast<std::size_t>(count));
    if (count > 0)
        std::memcpy(t.bytes.data(), buf, static_cast<std::size_t>(count));
    if (!::WriteFile(h, t.bytes.data(), static_cast<DWORD>(count), nullptr, &t.ov) &&
        ::GetLastError() != ERROR_IO_PENDING)
        throw ECommError("Write error", LastErrorCode());
    // Stopped or timed out: -1, as on Linux; the bytes handed over until
    // then still go out. Failed by the device itself (a handle dead after
    // sleep or hibernation, a pulled adapter): an error, as its first call
    // would have raised.
    const TTransferEnd end = FinishTransfer(h, m_state, m_ioEvent.Handle(), m_writeTimeout);
    if (end.error != 0 && !end.cancelled)
        throw ECommError("Write error", static_cast<std::int32_t>(end.error));
    return end.error == 0 ? static_cast<std::int32_t>(end.bytes) : -1;
}

std::int32_t TCustomComm::ReadBytes(void* buf, std::int32_t count)
{
    if (count < 0)
        throw ECommError("Read error", ERROR_INVALID_PARAMETER);
    TLockGuard lock(m_ioLock);
    const HANDLE h = AsHandle(m_handle);
    // Only what has arrived is asked for: the time-outs set at open make a
    // read return at once, but Wine's on a pty waits for data regardless.
    DWORD errors = 0;
    COMSTAT st{};
    if (!::ClearCommError(h, &errors, &st))
        throw ECommError("Read error", LastErrorCode());
    const DWORD want = std::min(static_cast<DWORD>(count), st.cbInQue);
    if (want == 0)
        return 0;
    TTransfer& t = StartRecord(m_state, want);
    if (!::ReadFile(h, t.bytes.data(), want, nullptr, &t.ov) && ::GetLastError() != ERROR_IO_PENDING)
        throw ECommError("Read error", LastErrorCode());
    const TTransferEnd end = FinishTransfer(h, m_state, m_ioEvent.Handle(), m_readTimeout);
    // Bytes taken have left the driver's queue: they are the caller's even
    // when the read was cancelled or failed after taking them.
    if (end.bytes > 0)
        std::memcpy(buf, m_state.transfer->bytes.data(), std::min<std::size_t>(end.bytes, want));
    if (end.bytes > 0 || end.error == 0)
        return static_cast<std::int32_t>(end.bytes);
    // Stopped by ClosePort or out of time. An abort this side never asked
    // for is the device's (a handle dead after sleep): an error.
    if (end.cancelled && end.error == ERROR_OPERATION_ABORTED)
        return -1;
    throw ECommError("Read error", static_cast<std::int32_t>(end.error));
}

std::int32_t TCustomComm::InputCount()
{
    if (!IsOpen())
        return -1;
    DWORD errors = 0;
    COMSTAT st{};
    // A device that has gone (a pulled adapter) fails here; that is an
    // error, never a line that stays silent for ever.
    if (!::ClearCommError(AsHandle(m_handle), &errors, &st))
        throw ECommError("Read error", LastErrorCode());
    return static_cast<std::int32_t>(st.cbInQue);
}

void TCustomComm::PurgeInput()
{
    if (IsOpen())
        ::PurgeComm(AsHandle(m_handle), PURGE_RXABORT | PURGE_RXCLEAR);
}

int TCustomComm::InputWaitDescriptor() const
{
    // A line event would serve (WaitCommEvent with EV_RXCHAR), but Wine's
    // returns at once on a pty with an empty mask: the owner polls.
    return -1;
}

bool TCustomComm::LineHungUp() const
{
    // A removed device's open fails; one that goes later fails its calls.
    return false;
}

std::int32_t TCustomComm::ClearDeviceErrors(std::int32_t& inQueue)
{
    DWORD errors = 0;
    COMSTAT st{};
    if (!::ClearCommError(AsHandle(m_handle), &errors, &st)) {
        inQueue = 0;
        return 0;
    }
    inQueue = static_cast<std::int32_t>(st.cbInQue);
    return static_cast<std::int32_t>(errors);
}

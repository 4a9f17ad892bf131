// Serial port component: one COM device as a byte pipe with fixed line settings.
// No toolkit dependency. The device calls live in one backend folder per
// platform (posix/, win32/); everything here is common to both.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>

#include "CommObjs.h"

class TCustomComm;
class TCommEventThread;

enum TBaudrate : std::uint8_t {
    br110,
    br300,
    br600,
    br1200,
    br2400,
    br4800,
    br9600,
    br14400,
    br19200,
    br38400,
    br56000,
    br57600,
    br115200,
    br128000,
    br256000
};
enum TParity : std::uint8_t { paNone, paOdd, paEven, paMark, paSpace };
enum TStopbits : std::uint8_t { sb10, sb15, sb20 };
enum TDatabits : std::uint8_t { da4, da5, da6, da7, da8 };
enum TFlowControl : std::uint8_t { fcNone, fcCTS, fcDTR, fcSoftware, fcDefault };
enum TCommOption : std::uint8_t { coParityCheck, coDsrSensitivity, coIgnoreXOff, coErrorChar, coNullStrip };
enum TCommEventType : std::uint8_t { evBreak, evCts, evDsr, evError, evRing, evRlsd, evRxChar, evRxFlag, evTxEmpty };

// Small bit sets over the enumerations above (set of ... in 8 or 16 bits).
using TCommOptions = std::uint8_t;
using TCommEventTypes = std::uint16_t;

namespace vostrel {

constexpr TCommOptions OptionBit(TCommOption o)
{
    return static_cast<TCommOptions>(1u << o);
}
constexpr TCommEventTypes EventBit(TCommEventType e)
{
    return static_cast<TCommEventTypes>(1u << e);
}
constexpr TCommEventTypes kAllCommEvents = 0x01FF;

// Bit rate in bit/s that a TBaudrate stands for.
std::uint32_t BaudRateValue(TBaudrate rate);

// The line-settings record, laid out like the platform's device control block.
struct TDcb {
    std::uint32_t DCBlength = sizeof(TDcb);
    std::uint32_t BaudRate = 0;
    std::uint32_t Flags = 0;
    std::uint16_t wReserved = 0;
    std::uint16_t XonLim = 0;
    std::uint16_t XoffLim = 0;
    std::uint8_t ByteSize = 0;
    std::uint8_t Parity = 0;    // TParity ordinal
    std::uint8_t StopBits = 0;  // TStopbits ordinal
    std::uint8_t XonChar = 0;
    std::uint8_t XoffChar = 0;
    std::uint8_t ErrorChar = 0;
    std::uint8_t EofChar = 0;
    std::uint8_t EvtChar = 0;
    std::uint16_t wReserved1 = 0;
};

// Bits of TDcb::Flags.
constexpr std::uint32_t dcbBinary = 0x0001;
constexpr std::uint32_t dcbParity = 0x0002;
constexpr std::uint32_t dcbOutxCtsFlow = 0x0004;
constexpr std::uint32_t dcbOutxDsrFlow = 0x0008;
constexpr std::uint32_t dcbDtrControlMask = 0x0030;
constexpr std::uint32_t dcbDtrControlEnable = 0x0010;
constexpr std::uint32_t dcbDtrControlHandshake = 0x0020;
constexpr std::uint32_t dcbDsrSensitivity = 0x0040;
constexpr std::uint32_t dcbTXContinueOnXoff = 0x0080;
constexpr std::uint32_t dcbOutX = 0x0100;
constexpr std::uint32_t dcbInX = 0x0200;
constexpr std::uint32_t dcbErrorChar = 0x0400;
constexpr std::uint32_t dcbNull = 0x0800;
constexpr std::uint32_t dcbRtsControlMask = 0x3000;
constexpr std::uint32_t dcbRtsControlEnable = 0x1000;
constexpr std::uint32_t dcbRtsControlHandshake = 0x2000;
constexpr std::uint32_t dcbRtsControlToggle = 0x3000;
constexpr std::uint32_t dcbAbortOnError = 0x4000;

// The flag bit each TCommOption controls.
std::uint32_t OptionFlag(TCommOption option);

// The flag word a port writes: the binary flag, the bits of its flow-control
// choice and those of its options, every other bit clear. fcDefault keeps the
// handshake lines of the word the device reported, XON/XOFF as this port last
// wrote them (lastWritten) and never abort-on-error.
std::uint32_t LineFlags(TFlowControl flow, TCommOptions options, std::uint32_t reported, std::uint32_t lastWritten);

// Event mask bits handed to DispatchCommEvents (one per TCommEventType).
constexpr std::uint32_t EV_RXCHAR = 0x0001;
constexpr std::uint32_t EV_RXFLAG = 0x0002;
constexpr std::uint32_t EV_TXEMPTY = 0x0004;
constexpr std::uint32_t EV_CTS = 0x0008;
constexpr std::uint32_t EV_DSR = 0x0010;
constexpr std::uint32_t EV_RLSD = 0x0020;
constexpr std::uint32_t EV_BREAK = 0x0040;
constexpr std::uint32_t EV_ERR = 0x0080;
constexpr std::uint32_t EV_RING = 0x0100;

std::uint32_t EventMaskBit(TCommEventType event);
// OR of the mask bits of the events in the set.
std::uint32_t EventMask(TCommEventTypes events);

// Error word bits passed to OnError.
constexpr std::int32_t CE_RXOVER = 0x0001;
constexpr std::int32_t CE_OVERRUN = 0x0002;
constexpr std::int32_t CE_RXPARITY = 0x0004;
constexpr std::int32_t CE_FRAME = 0x0008;
constexpr std::int32_t CE_BREAK = 0x0010;

// Runs the callable on the owner's thread and returns once it has run.
using TSyncDispatcher = std::function<void(const std::function<void()>&)>;

// Waits until queued() (bytes still to go out, negative when unknown) reports
// nothing left. A limit of 0 or more bounds the whole wait; a negative one sets
// no bound while bytes keep leaving, only stallMs without progress ends it.
// False when it gave up with bytes still queued.
bool WaitForDrain(const std::function<int()>& queued, std::int32_t limitMs, int stallMs);

// The device wait of a watcher, as each platform needs it.
struct TDeviceWait;

}  // namespace vostrel

// The device handle type and what each platform keeps per open port.
#include "CommPlatform.h"

// Message is "<text> (Error: <code>) "; code is the system's error number or -1.
class ECommError : public std::runtime_error {
public:
    ECommError(const std::string& text, std::int32_t code);
    std::int32_t ErrorCode;
};

// The five special characters of the line. Each setter stores the character
// and then makes the owner apply its line settings (nothing while closed).
class TCommEventChars {
public:
    explicit TCommEventChars(TCustomComm* owner);
    virtual ~TCommEventChars() = default;

    std::uint8_t XonChar() const { return m_chars[0]; }
    std::uint8_t XoffChar() const { return m_chars[1]; }
    std::uint8_t ErrorChar() const { return m_chars[2]; }
    std::uint8_t EofChar() const { return m_chars[3]; }
    std::uint8_t EvtChar() const { return m_chars[4]; }
    void SetXonChar(std::uint8_t c) { SetEventChar(1, c); }
    void SetXoffChar(std::uint8_t c) { SetEventChar(2, c); }
    void SetErrorChar(std::uint8_t c) { SetEventChar(3, c); }
    void SetEofChar(std::uint8_t c) { SetEventChar(4, c); }
    void SetEvtChar(std::uint8_t c) { SetEventChar(5, c); }

    // Copies all five characters, then applies them once.
    virtual void Assign(const TCommEventChars& source);

private:
    void SetEventChar(int index, std::uint8_t c);  // index 1..5
    TCustomComm* m_owner;
    std::uint8_t m_chars[5] = {17, 19, 0, 0, 0};
};

// Every failure raises ECommError. Setting, opening and closing belong to the
// owner's thread; WriteBytes/ReadBytes may come from any thread and never overlap.
class TCustomComm {
public:
    TCustomComm();
    TCustomComm(const TCustomComm&) = delete;
    TCustomComm& operator=(const TCustomComm&) = delete;
    // Closes the port first.
    virtual ~TCustomComm();

    // Name-like settings: changing them to a different value while open raises
    // "Port already assigned (open)"; they take effect at the next OpenPort.
    const std::string& DeviceName() const { return m_deviceName; }
    void SetDeviceName(const std::string& name);
    std::int32_t ReadBufSize() const { return m_readBufSize; }
    void SetReadBufSize(std::int32_t size);
    std::int32_t WriteBufSize() const { return m_writeBufSize; }
    void SetWriteBufSize(std::int32_t size);
    TCommEventTypes MonitorEvents() const { return m_monitorEvents; }
    void SetMonitorEvents(TCommEventTypes events);

    // Time-outs in ms (negative: no limit); the next transfer uses them.
    std::int32_t ReadTimeout() const { return m_readTimeout; }
    void SetReadTimeout(std::int32_t ms) { m_readTimeout = ms; }
    std::int32_t WriteTimeout() const { return m_writeTimeout; }
    void SetWriteTimeout(std::int32_t ms) { m_writeTimeout = ms; }

    // Line settings: a different value is stored and applied at once when open.
    TBaudrate BaudRate() const { return m_baudRate; }
    void SetBaudRate(TBaudrate rate);
    TParity Parity() const { return m_parity; }
    void SetParity(TParity parity);
    TStopbits Stopbits() const { return m_stopbits; }
    void SetStopbits(TStopbits stopbits);
    TDatabits Databits() const { return m_databits; }
    void SetDatabits(TDatabits databits);
    TCommOptions Options() const { return m_options; }
    void SetOptions(TCommOptions options);
    TFlowControl FlowControl() const { return m_flowControl; }
    void SetFlowControl(TFlowControl flow);
    TCommEventChars& EventChars() { return m_eventChars; }

    // Line-event handlers, called on the owner's thread through the dispatcher.
    std::function<void(TCustomComm*)> OnBreak, OnCts, OnDsr, OnRing, OnRlsd, OnRxFlag, OnTxEmpty;
    std::function<void(TCustomComm*, std::int32_t errors)> OnError;
    std::function<void(TCustomComm*, std::int32_t count)> OnRxChar;

    // Synchronous hand-over to the owner's thread, used by the watcher started
    // at the next OpenPort. Without one (or with no MonitorEvents) no watcher
    // runs and no events are raised.
    void SetDispatcher(vostrel::TSyncDispatcher dispatcher) { m_dispatcher = std::move(dispatcher); }

    // Opens DeviceName for exclusive use and prepares it. Any failure, also
    // one after the device opened (time-outs, queues, line settings), raises
    // with the port closed and the device let go.
    void OpenPort();
    // Stops the watcher without waiting for it and releases the device; unread
    // input is discarded, queued output still goes out: the close waits up to
    // WriteTimeout for it (negative: while the line keeps taking it) and drops
    // what is left. Nothing when closed.
    void ClosePort();
    bool IsOpen() const { return m_handle != vostrel::kInvalidDeviceHandle; }

    // Hands count bytes to the device, waiting at most WriteTimeout for room.
    // Result: bytes written, or -1 when the time ran out or the line failed
    // meanwhile (nothing stays pending). Raises "Write error" if it cannot start.
    std::int32_t WriteBytes(const void* buf, std::int32_t count);
    // Takes up to count bytes that have already arrived; never waits.
    // Result: bytes taken, 0 when none were waiting. Raises "Read error".
    std::int32_t ReadBytes(void* buf, std::int32_t count);
    // Bytes waiting to be read (-1 when closed); also clears the device's
    // error state. Raises "Read error" once the line has hung up
    // and nothing is left to read.
    std::int32_t InputCount();
    // Discards received bytes not yet read; queued output is left alone.
    void PurgeInput();
    // While open, a descriptor that polls readable while input waits to be
    // read or the line has failed (hung up, unplugged), for the owner's own
    // sleep (a poll set, an event loop); then InputCount tells which. It is
    // the same number for the component's whole life and a port closed
    // meanwhile never makes it ready. -1 when closed, and where the platform
    // has no such descriptor (Windows): the owner polls InputCount.
    int InputWaitDescriptor() const;
    // Whether the line has hung up already: the device's own descriptor polls
    // a hang-up or an error (a pty whose other side closed, a pulled adapter),
    // so a device that opens but is gone is told from a silent one. False
    // while closed, and on Windows, where such a device does not open.
    bool LineHungUp() const;
    // Raises "Port already assigned (open)" with code -1 when open.
    void CheckClosed();
    // Reads the device's record, fills it from the properties, writes it back.
    // Nothing while closed; raises "Error updating DataControlBlock".
    void ApplyLineSettings();
    // The working copy of the line-settings record, for tests.
    const vostrel::TDcb& LineSettings() const { return m_dcb; }

    // Reads and clears the error state, then calls the handlers of the events
    // in mask (EV_* bits) in order: break, CTS, DSR, error, ring, RLSD,
    // received bytes (only with a non-zero count), event char, output empty.
    void DispatchCommEvents(std::uint32_t mask);

protected:
    // Opens DeviceName and checks it is a terminal; sets the device handle.
    virtual void CreateDeviceHandle();

private:
    // Backend: the platform's part of OpenPort and ApplyLineSettings.
    void DeviceOpened();
    // Lets go of a device whose preparing failed; nothing was sent on it.
    void AbandonDevice();
    void ApplyTimeouts();
    // Non-positive sizes raise; a driver's refusal is only noted.
    void SetupQueues();
    void ReadLineRecord(vostrel::TDcb& dcb);
    // 0, or the system's error number.
    std::int32_t WriteLineRecord(const vostrel::TDcb& dcb);
    // Reads and clears the error state (CE_* bits); inQueue gets the bytes
    // waiting to be read.
    std::int32_t ClearDeviceErrors(std::int32_t& inQueue);
    // The platform's part of ClosePort: drop received bytes, the bytes still
    // queued for output (-1 when that cannot be told), drop those, and let
    // the device go.
    void DiscardInput();
    int OutputQueued();
    void DiscardOutput();
    void ReleaseDevice(vostrel::TDeviceHandle device);

    vostrel::TDeviceHandle m_handle = vostrel::kInvalidDeviceHandle;
    vostrel::TDcb m_dcb;
    std::string m_deviceName = "Com2";
    TSimpleEvent m_ioEvent;     // set by ClosePort to end a write that waits for room
    TCriticalSection m_ioLock;  // held for the whole of each read or write
    std::int32_t m_readTimeout = 1000;
    std::int32_t m_writeTimeout = 1000;
    std::int32_t m_readBufSize = 4096;
    std::int32_t m_writeBufSize = 2048;
    TCommEventTypes m_monitorEvents = vostrel::kAllCommEvents;
    TBaudrate m_baudRate = br9600;
    TParity m_parity = paNone;
    TStopbits m_stopbits = sb10;
    TDatabits m_databits = da8;
    std::shared_ptr<TCommEventThread> m_eventThread;
    TCommEventChars m_eventChars{this};
    TCommOptions m_options = 0;
    TFlowControl m_flowControl = fcDefault;

    vostrel::TSyncDispatcher m_dispatcher;
    // The flag word as last written; XON/XOFF are taken from here, not from
    // the line, and so are the bits a platform has no form for.
    std::uint32_t m_writtenFlags = 0;
    vostrel::TPortState m_state;
    vostrel::TInputWait m_inputWait;
};

// The line-event watcher: one thread per open port that sleeps until the device
// reports one of the chosen events (or it is woken), then hands the event mask
// to the owner's thread through the dispatcher and waits until it has run.
// The thread keeps itself alive and frees itself when its body ends.
class TCommEventThread : public std::enable_shared_from_this<TCommEventThread> {
public:
    // Builds the mask from events and starts the thread at once. The watcher
    // uses the device only until Detach; it never closes it.
    static std::shared_ptr<TCommEventThread> Create(vostrel::TDeviceHandle device, TCommEventTypes events,
                                                    TCustomComm* owner, vostrel::TSyncDispatcher dispatcher);
    TCommEventThread(const TCommEventThread&) = delete;
    TCommEventThread& operator=(const TCommEventThread&) = delete;
    virtual ~TCommEventThread();

    // Sets the wake event and requests termination; does not wait.
    void StopWatching();
    // Stops the watcher and returns once it has let go of the device and
    // the owner: it is then out of any call on it (its wait included) and a
    // pending hand-over reaches no handler. It waits for nothing else, so it
    // is safe while a hand-over is queued on the caller's thread.
    void Detach();
    // Bytes went into the output queue; evTxEmpty follows once it is empty.
    void NotifyWrite();

protected:
    virtual void Execute();

private:
    TCommEventThread(vostrel::TDeviceHandle device, std::uint32_t mask, TCustomComm* owner,
                     vostrel::TSyncDispatcher dispatcher);
    void Handover(std::uint32_t mask);
    void RunDispatch(std::uint32_t mask);
    // Backend: ends a device wait still in flight; called under m_deviceLock.
    void CancelDeviceWaitLocked();

    std::mutex m_deviceLock;  // held around every call the watcher makes on m_device
    vostrel::TDeviceHandle m_device;
    std::unique_ptr<vostrel::TDeviceWait> m_wait;
    const std::uint32_t m_eventMask;
    TSimpleEvent m_wakeEvent;
    std::atomic<bool> m_terminated{false};
    std::atomic<std::uint64_t> m_writeCount{0};
    std::recursive_mutex m_ownerLock;  // held while the owner's handlers run
    TCustomComm* m_owner;
    const vostrel::TSyncDispatcher m_dispatcher;
};

// Publishes everything; adds nothing.
class TComm : public TCustomComm {};

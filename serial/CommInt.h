// Serial port component: one COM device as a byte pipe with fixed line settings.
// POSIX termios underneath; no toolkit dependency.
#pragma once

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

class TCustomComm;

enum TBaudrate : std::uint8_t {
    br110, br300, br600, br1200, br2400, br4800, br9600, br14400, br19200, br38400,
    br56000, br57600, br115200, br128000, br256000
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
constexpr TCommOptions OptionBit(TCommOption o) { return static_cast<TCommOptions>(1u << o); }
constexpr TCommEventTypes EventBit(TCommEventType e) { return static_cast<TCommEventTypes>(1u << e); }
constexpr TCommEventTypes kAllCommEvents = 0x01FF;

// Message is "<text> (Error: <code>) "; code is errno or -1.
class ECommError : public std::runtime_error {
public:
    ECommError(const std::string& text, std::int32_t code);
    std::int32_t ErrorCode;
};

// Runs the callable on the owner's thread and returns once it has run.
using TSyncDispatcher = std::function<void(const std::function<void()>&)>;

// The public surface the window and the tests use; see CommInt.cpp for rules.
// (Declared in full by the serial layer.)

// Where a port's session runs: the copies folder, the lock files, the
// timings between exchanges, the stop and the record, and the view each port
// gets. A front-end fills it in; tests pass their own.
#pragma once

#include "SessionView.h"
#include "StationExchange.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace vostrel {

class TRecord;

// How a port's work ended, worst last but one; vostrel-cli gives them as its
// exit codes, as --help and the manual page list them.
namespace ExitCode {
inline constexpr int Done = 0;
inline constexpr int Usage = 1;
inline constexpr int BadFile = 2;        // a file unreadable or refused
inline constexpr int PortFailed = 3;     // the port did not open or failed during the exchange
inline constexpr int NotProgrammed = 4;  // the operator declined a restore
inline constexpr int NotWritten = 5;     // the output file (read), a station's copy or the record not written
inline constexpr int Differ = 6;         // diff: the files differ
inline constexpr int OutputLost = 7;     // the output could not be written; the exchange begun was finished
inline constexpr int NotVerified = 8;    // --verify: a station read back otherwise than it was programmed
inline constexpr int Interrupted = 130;  // Ctrl+C or a termination signal
}  // namespace ExitCode

// The window's timings between exchanges; the pauses inside an exchange are
// fixed by the protocol and not adjustable.
struct TSessionTimings {
    std::uint32_t StartTimerMs = kStartTimerMs;
    std::uint32_t ThankYouMs = kThankYouMs;
};

struct TSessionContext {
    std::string CopiesFolder;
    std::string LockDir = "/run/lock";
    TSessionTimings Timings;
    // The operator's stop (Ctrl+C, «Стоп»): waits end, a connected station
    // gets its goodbye, a packet going out is finished first.
    std::function<bool()> Stop = [] { return false; };
    TRecord* Record = nullptr;  // where each event is recorded, when kept
    // The view of one port; several: other ports share what it shows.
    std::function<std::unique_ptr<ISessionView>(const std::string& port, bool several)> View;
};

}  // namespace vostrel

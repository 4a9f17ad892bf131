// Where a command runs: its streams, the copies folder, the interrupt, the
// operator's answers and the exit codes it ends with. main() fills the
// context from the system; tests pass their own.
#pragma once

#include "Console.h"
#include "StationExchange.h"

#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>

namespace vostrel {

class TRecord;

// The exit codes, as --help and the manual page give them.
namespace ExitCode {
inline constexpr int Done = 0;
inline constexpr int Usage = 1;
inline constexpr int BadFile = 2;        // a file unreadable or refused
inline constexpr int PortFailed = 3;     // the port did not open or failed during the exchange
inline constexpr int NotProgrammed = 4;  // the operator declined a restore
inline constexpr int NotWritten = 5;   // the output file (read) or a station's copy not written; the record not opened
inline constexpr int Differ = 6;       // diff: the files differ
inline constexpr int OutputLost = 7;   // the output could not be written; the exchange begun was finished
inline constexpr int NotVerified = 8;  // --verify: a station read back otherwise than it was programmed
inline constexpr int Interrupted = 130;  // Ctrl+C or a termination signal
}  // namespace ExitCode

// The window's timings between exchanges; the pauses inside an exchange are
// fixed by the protocol and not adjustable.
struct TCliTimings {
    std::uint32_t StartTimerMs = kStartTimerMs;
    std::uint32_t ThankYouMs = kThankYouMs;
};

struct TCliContext {
    std::FILE* Out = stdout;  // results: show, diff, one line per programmed station
    std::FILE* Err = stderr;  // progress, notes, errors
    bool Terminal = false;    // Err is a terminal: progress drawn in place
    std::string CopiesFolder;
    std::string LockDir = "/run/lock";
    TCliTimings Timings;
    std::function<bool()> Stop = Interrupted;
    std::function<std::optional<std::string>()> AskLine = ReadAnswerLine;
    TRecord* Record = nullptr;  // --log: where each event is recorded
    // Whether a question can be answered at all.
    std::function<bool()> CanAsk = CanReadAnswer;
};

}  // namespace vostrel

// The command-line programmer's commands: what the command line asks for, and
// running it against a port, the files and the copies folder.
#pragma once

#include "Console.h"
#include "StationDriver.h"

#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace vostrel {

// The exit codes, as --help and the manual page give them.
namespace ExitCode {
inline constexpr int Done = 0;
inline constexpr int Usage = 1;
inline constexpr int BadFile = 2;        // a file unreadable or refused
inline constexpr int PortFailed = 3;     // the port did not open or failed during the exchange
inline constexpr int NotProgrammed = 4;  // the operator declined a restore
inline constexpr int NotWritten = 5;     // read: the output file could not be written
inline constexpr int Differ = 6;         // diff: the files differ
inline constexpr int OutputLost = 7;     // the output could not be written; the exchange begun was finished
inline constexpr int NotVerified = 8;    // --verify: a station read back otherwise than it was programmed
inline constexpr int Interrupted = 130;  // Ctrl+C or a termination signal
}  // namespace ExitCode

enum class TCommand { None, Help, Read, Program, Restore, Show, Diff };

struct TCommandLine {
    TCommand Command = TCommand::None;
    std::vector<std::string> Ports;  // read, program: one or more; restore: one
    std::vector<std::string> Files;  // program: FILE; restore: COPY; show: FILE; diff: A B
    std::string Output;              // read: -o FILE
    bool Each = false;               // program --each
    bool Yes = false;                // restore --yes
    bool Verify = false;             // program, restore --verify: read each station back
    bool Verbose = false;            // the exchange log on the error stream
    std::string Error;               // Russian; not empty: a usage error
};

// args without the program's own name, UTF-8. Options may stand anywhere
// after the command; "--" ends them.
TCommandLine ParseCommandLine(const std::vector<std::string>& args);

// The Russian help text, exit codes and the copies folder included.
std::string HelpText(const std::string& copiesFolder);

// Where a run talks to: its streams, the copies folder, the interrupt and the
// operator's answers. main() fills it from the system.
struct TCliContext {
    std::FILE* Out = stdout;  // results: show, diff, one line per programmed station
    std::FILE* Err = stderr;  // progress, notes, errors
    bool Terminal = false;    // Err is a terminal: progress drawn in place
    std::string CopiesFolder;
    std::string LockDir = "/run/lock";
    TDriverTimings Timings;
    std::function<bool()> Stop = Interrupted;
    std::function<std::optional<std::string>()> AskLine = ReadAnswerLine;
};

// Runs the command; the result is its exit code.
int RunCommand(const TCommandLine& line, const TCliContext& context);

}  // namespace vostrel

// Where a command runs: the session's context, the streams, the interrupt
// and the operator's answers. main() fills the context from the system;
// tests pass their own.
#pragma once

#include "Console.h"
#include "SessionContext.h"

#include <cstdio>
#include <functional>
#include <optional>
#include <string>

namespace vostrel {

using TCliTimings = TSessionTimings;

struct TCliContext : TSessionContext {
    TCliContext() { Stop = Interrupted; }

    std::FILE* Out = stdout;  // results: show, diff, one line per programmed station
    std::FILE* Err = stderr;  // progress, notes, errors
    bool Terminal = false;    // Err is a terminal: progress drawn in place
    std::function<std::optional<std::string>()> AskLine = ReadAnswerLine;
    // Whether a question can be answered at all.
    std::function<bool()> CanAsk = CanReadAnswer;
};

}  // namespace vostrel

// The command-line programmer's commands: what the command line asks for, and
// running it against a port, the files and the copies folder.
#pragma once

#include "CommandLine.h"
#include "Context.h"

namespace vostrel {

// Runs the command; the result is its exit code.
int RunCommand(const TCommandLine& line, const TCliContext& context);

}  // namespace vostrel

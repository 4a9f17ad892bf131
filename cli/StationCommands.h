// The commands that talk to stations: read, program and restore.
#pragma once

#include "CommandLine.h"
#include "Context.h"

namespace vostrel {

// Each returns the command's exit code.
int RunRead(const TCommandLine& line, const TCliContext& context);
int RunProgram(const TCommandLine& line, const TCliContext& context);
int RunRestore(const TCommandLine& line, const TCliContext& context);

}  // namespace vostrel

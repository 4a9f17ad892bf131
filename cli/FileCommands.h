// The commands on parameter files alone, and the loading every command that
// takes a file shares.
#pragma once

#include "CommandLine.h"
#include "Context.h"
#include "ParamFile.h"

#include <cstdio>
#include <string>

namespace vostrel {

// Reads and checks a parameter file; a failure is told on err after the
// file's name, for a refused one with its line and field.
bool LoadParamFile(const std::string& path, TParamFile& file, std::FILE* err);

int RunShow(const TCommandLine& line, const TCliContext& context);
int RunDiff(const TCommandLine& line, const TCliContext& context);

}  // namespace vostrel

// The lines a command writes to its streams, whole and never mixed with
// another port's.
#pragma once

#include "Context.h"

#include <QString>

#include <cstdio>
#include <string>

namespace vostrel {

std::string ToUtf8(const QString& s);
// The local time as the result lines show it.
std::string Now();
// One line, under the output lock, flushed.
void PrintLine(std::FILE* out, const std::string& line);
// Output nobody can read any more: a pipe whose reader has gone, a full disk.
bool OutputLost(const TCliContext& context);

}  // namespace vostrel

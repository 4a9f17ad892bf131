// Everything the program writes goes through one writer thread: a port's
// exchange hands over its text and goes on, so a paused terminal or a full
// pipe never holds up a line. The writer alone may block on a stream.
#pragma once

#include "BlockTexts.h"

#include <cstdio>
#include <string>

namespace vostrel {

// Queues text for stream, in order with everything queued before it; never
// waits for the stream. Transient text (a status line redrawn in place) is
// dropped while much is still queued, since a later redraw replaces it.
void Emit(std::FILE* stream, std::string text, bool transient = false);
// One line.
void PrintLine(std::FILE* out, const std::string& line);
// Returns once everything queued has been written or found unwritable.
void FlushOutput();
// Output nobody can read any more: a write failed, or the descriptor tells
// that its reader has gone (a pipe whose reader closed, a terminal hung up).
// Waits that depend on it are woken when it becomes true.
bool OutputLost();
// Whether this stream in particular was lost.
bool StreamLost(std::FILE* stream);

}  // namespace vostrel

// Everything the program writes goes through one writer thread: a port's
// exchange hands over its text and goes on, so a paused terminal or a full
// pipe never holds up a line. The writer alone may block on a stream.
#pragma once

#include "BlockTexts.h"

#include <cstdio>
#include <string>

namespace vostrel {

enum class TText {
    Lasting,  // dropped only past the hard cap, its lines then counted
    Redraw,   // a status line drawn again: dropped while much is still queued,
              // since a later redraw replaces it
    Kept,     // lasting, and held by the record too: losing it alone is no failure
};

// Queues text for stream, in order with everything queued before it; never
// waits for the stream.
void Emit(std::FILE* stream, std::string text, TText kind = TText::Lasting);
// One line.
void PrintLine(std::FILE* out, const std::string& line, TText kind = TText::Lasting);
// Returns once everything queued has been written or found unwritable.
void FlushOutput();
// Watches the program's standard output and error from now on, whether or
// not anything is written to them: a reader that leaves is noticed while the
// program waits in silence.
void WatchStandardStreams();
// Output nobody can read any more: a write failed, or the descriptor tells
// that its reader has gone (a pipe whose reader closed, a terminal hung up).
// Waits that depend on it are woken when it becomes true.
bool OutputLost();
// Whether this stream in particular was lost.
bool StreamLost(std::FILE* stream);

// Lines that never reached a lost stream: those that count, and those the
// record holds too.
struct TLostLines {
    int Counted = 0;
    int Kept = 0;
};
TLostLines LostLines();

}  // namespace vostrel

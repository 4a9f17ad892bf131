// What the command-line programmer needs of the system it runs on: the
// interrupt that ends a wait, whether output goes to a terminal, and reading
// the operator's answer without losing an interrupt meanwhile.
#pragma once

#include <cstdio>
#include <optional>
#include <string>

namespace vostrel {

// Ctrl+C, SIGTERM and SIGHUP (on Windows Ctrl+C, Ctrl+Break, closing the
// console, a log-off or a shutdown) only set a flag that the exchange polls,
// so a station that is connected still gets its goodbye; on Windows a close
// or a session end is held until MarkFinished, within what Windows allows.
void InstallInterruptHandlers();
bool Interrupted();
// Sleeps until descriptor polls readable (input waits or the line failed),
// an interrupt or a wake-up comes or timeoutMs pass (negative: no limit);
// once either has come, returns at once. False at once where it cannot sleep
// so (Windows, no descriptor, no interrupt handlers): the caller polls.
bool WaitReadableOrInterrupt(int descriptor, int timeoutMs);
// Sleeps until descriptor polls readable or timeoutMs pass, whatever else
// happens: for a collection, which runs to its end. False at once where it
// cannot sleep so.
bool WaitReadable(int descriptor, int timeoutMs);
// Ends every wait of WaitReadableOrInterrupt, now and later, as an interrupt
// does without being one (the output's reader has gone).
void WakeWaits();
// Tells a held console close or session end that the goodbye is done.
void MarkFinished();

// Output and input in UTF-8 on a Windows console, whose code pages go back
// to what they were when the program ends, however it ends short of being
// killed; nothing elsewhere.
void PrepareConsole();

// Whether stream goes to a terminal (progress redrawn in place) rather than a
// pipe or a file (plain lines).
bool IsTerminal(std::FILE* stream);

// Whether standard input can bring an answer: a terminal, a pipe, or a file
// with something in it; not /dev/null (NUL on Windows) or a closed input.
bool CanReadAnswer();
// One line from standard input without its line end, in UTF-8 (a Windows
// console is read in its own wide characters); nothing when an interrupt
// came first or the input ended.
std::optional<std::string> ReadAnswerLine();

}  // namespace vostrel

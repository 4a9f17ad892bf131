// What the command-line programmer needs of the system it runs on: the
// interrupt that ends a wait, whether output goes to a terminal, and reading
// the operator's answer without losing an interrupt meanwhile.
#pragma once

#include <cstdio>
#include <optional>
#include <string>

namespace vostrel {

// Standard input, output and error closed when the program started are
// opened on the null device, so that no file the program opens later takes
// their numbers and gets what was meant for them. First thing in main().
void OpenClosedStandardStreams();

// Ctrl+C, SIGTERM and SIGHUP (on Windows Ctrl+C, Ctrl+Break, closing the
// console, a log-off or a shutdown) only set a flag that the exchange polls,
// so a station that is connected still gets its goodbye; on Windows a close
// or a session end is held until MarkFinished, within what Windows allows.
// One the program was started ignoring (nohup, a background job) stays
// ignored. A job-control stop (Ctrl+Z, a background job at its terminal)
// waits until no packet is on the line.
void InstallInterruptHandlers();
// Around each packet sent: a job-control stop waits for PacketEnded, and a
// packet does not begin while a stop is under way.
void PacketBegins();
void PacketEnded();
// For the output's writer thread: its own reads and writes at the terminal
// never stop the job by themselves (SIGTTOU, SIGTTIN held back)...
void HoldTerminalStopsInThisThread();
// ...and before it writes to descriptor, a job in the background of that
// terminal, which stops such writers (TOSTOP), stops as the system would
// stop it, once no packet is on the line.
void StopIfBackgroundWriter(int descriptor);
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

// Whether standard input can bring an answer: a terminal, a pipe that holds
// something or whose writer is still there, or a file with something in it;
// not /dev/null (NUL on Windows), a closed input or an empty pipe whose
// writer has closed it. Reads nothing: what it looks at stays for the answer.
bool CanReadAnswer();
// One line from standard input without its line end, in UTF-8 (a Windows
// console is read in its own wide characters, a pipe in its console's code
// page where it is not UTF-8); nothing when an interrupt came first or the
// input ended.
std::optional<std::string> ReadAnswerLine();

#ifdef _WIN32
// A piped answer's bytes in UTF-8: as given when they are UTF-8, otherwise
// read in codePage (cmd and older tools write a pipe in the console's).
std::string AnswerInUtf8(const std::string& bytes, unsigned codePage);
#endif

}  // namespace vostrel

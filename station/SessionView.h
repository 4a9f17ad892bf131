// What a front-end gives one port's session: how the session's steps, notes
// and results are shown, and how the port's thread sleeps. vostrel-cli draws
// them on its streams; a window queues them to its own thread. The session
// decides what is said and when; a view only shows it.
#pragma once

#include <string>

namespace vostrel {

// What a port's session is doing, for a front-end that shows it as a state.
enum class TSessionPhase {
    Waiting,      // for a station's greeting
    Reading,      // a station answers: its parameters are read
    Programming,  // packet 09 and its answer
    Pause,        // the thank-you pause after a station
    Verifying,    // a station just programmed is waited for again, to be read back
    PortGone,     // the port's device went away: its return is waited for
};

class ISessionView {
public:
    virtual ~ISessionView() = default;

    // A new step; counting marks a wait whose seconds are shown as they pass.
    virtual void Status(const std::string& text, bool counting = false) = 0;
    // Redraws what a counting status shows; cheap to call often.
    virtual void Tick() = 0;
    // Milliseconds until Tick has something new to draw; -1 when never.
    virtual int MsUntilTick() const = 0;
    // A lasting line (a copy saved, a warning); ends the step's status.
    virtual void Note(const std::string& line) = 0;
    // Ends the step's status.
    virtual void Clear() = 0;
    // A result: a station read, programmed or verified, one line.
    virtual void Result(const std::string& line) = 0;
    // A failure or a notice on a line of its own.
    virtual void Error(const std::string& line) = 0;
    // The line that tells what a stop did on this port.
    virtual void Stopped(const std::string& line) { Error(line); }
    // One line of the exchange log, as the window's log has it.
    virtual void Log(const std::string& line) = 0;
    // The session enters phase; statuses and notes tell the rest in words.
    virtual void Phase(TSessionPhase /*phase*/) {}

    // Sleeps until descriptor polls readable (input waits or the line
    // failed), a stop comes or timeoutMs pass (negative: no limit). False at
    // once where it cannot sleep so: the caller polls.
    virtual bool WaitLineOrStop(int descriptor, int timeoutMs) = 0;
    // The same, but deaf to a stop: a collection runs to its end.
    virtual bool WaitLine(int descriptor, int timeoutMs) = 0;
    // Nobody reads what this view shows any more: waits end, an exchange
    // begun is still finished.
    virtual bool Lost() const { return false; }
    // Around each packet sent on the port: where the front-end can be
    // stopped as a job (Ctrl+Z), the stop waits for the packet's end.
    virtual void PacketBegins() {}
    virtual void PacketEnded() {}
};

}  // namespace vostrel

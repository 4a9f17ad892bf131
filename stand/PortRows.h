// What the bench window shows of each port: the events a port's thread sends
// and the row they make on the window's thread. Plain C++: the window only
// draws rows, and the rules for the words are tested without it.
#pragma once

#include "SessionView.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>

namespace vostrel {

// A port's counts as the port's own thread last saw them.
struct TPortCounts {
    int Programmed = 0;
    int Verified = 0;
    int NotVerified = 0;
    int Refused = 0;
    int Outages = 0;
};

// One thing a port's session told, carried to the window's thread.
struct TPortEvent {
    enum class TKind {
        Began,       // the port opened; its work begins
        Phase,       // Phase holds what the session now does
        Log,         // a line of the exchange log
        Note,        // a lasting line: a copy kept, a refused answer
        Result,      // a station programmed or verified: Text is its line
        Error,       // a failure or a notice
        Stopped,     // what a stop did on this port
        OpenFailed,  // the port did not open: Text says why
        Ended,       // the port's work ended; Trouble says why when it failed
    };
    TKind Kind = TKind::Log;
    TSessionPhase Phase = TSessionPhase::Waiting;
    std::string Text;
    std::string Time;     // the local time the event came, "HH:MM:SS"
    std::string Trouble;  // Ended: why the port gave up, "" when it did not
    TPortCounts Counts;
};

// Lines of the exchange log a row keeps: a shift of hours stays flat.
inline constexpr std::size_t kRowLogLines = 3000;

struct TPortRow {
    std::string Port;
    std::string Adapter;  // what the name reaches, with its description
    std::string State = "открывается";
    std::string Why;  // the failure's own text, for the tooltip
    bool Failed = false;
    bool Ended = false;
    bool Verifying = false;  // the read-back of the station just programmed
    TPortCounts Counts;
    std::string LastChanges;  // the last station's result
    std::string LastTime;
    std::deque<std::string> Log;  // the last kRowLogLines lines
    std::uint64_t LogTotal = 0;   // lines ever added, so a viewer knows what is new
    bool Dirty = true;            // changed since last drawn
};

// The state in words for phase; verifying marks the read-back's wait and read.
std::string PhaseWords(TSessionPhase phase, bool verifying);

// A result line "12:00:01  COM1  станция 2 (было → стало): ..." without its
// time and port: what the row shows of the last station.
std::string ResultWithoutPrefix(const std::string& line, const std::string& port);

// What a row's state says of a port that did not open, from the opening's
// failure text: a busy port names the programs holding it, any other the
// system's reason; the whole text stays the row's tooltip.
std::string OpenFailureWords(const std::string& failure);

// Applies e to row, marking it dirty.
void ApplyEvent(TPortRow& row, const TPortEvent& e);

}  // namespace vostrel

// A run over one or several ports: each port's session on a thread of its
// own, what each did, the summary and the outcome they make together.
#pragma once

#include "SessionContext.h"
#include "StationSession.h"

#include <functional>
#include <string>
#include <vector>

namespace vostrel {

// What a run does on its ports.
struct TRunPlan {
    std::vector<std::string> Ports;
    bool Read = false;    // stations are read into files, not programmed
    bool Each = false;    // station after station until stopped
    bool Verify = false;  // each station programmed is read back
};

// What one port did, for the summary and the outcome.
struct TPortRun {
    std::string Port;
    std::string Device;  // what the port's name reached
    int Code = ExitCode::Done;
    bool StoppedWaiting = false;  // stopped while waiting for a new station
    bool Met = false;             // a station answered on this port
    int Programmed = 0;
    int Verified = 0;
    int NotVerified = 0;
    int Refused = 0;
    int Outages = 0;      // the port's device went away and came back (or was waited for)
    int CopiesLost = 0;   // copies that could not be written
    std::string Trouble;  // why the port gave up, short
    std::string File;     // read: where the parameters went
};

// Opens the ports one after another on this thread (a COMn name looks at the
// system's ports), then runs work on each port that opened, on a thread of its
// own when there are several: a station never waits for another port. A port
// that does not open is told on its own view.
std::vector<TPortRun> OnEachPort(const TRunPlan& plan, const TSessionContext& context,
                                 const std::function<void(TStationSession&, TPortRun&)>& work);

// The worst that happened on any port: a failure before a stop, a stop before
// success. A series stopped while waiting ends well once any station was
// programmed. A record that failed counts as copies not written do.
int CombinedCode(const std::vector<TPortRun>& runs, bool each, const TSessionContext& context);

// What one port did, as the summary says it after the port's name.
std::string SummaryOf(const TPortRun& r, const TRunPlan& plan);
// The summary's rows at the end of the record, when there is one; whether
// the record holds them.
bool RecordSummary(const std::vector<TPortRun>& runs, const TRunPlan& plan, const TSessionContext& context);

}  // namespace vostrel

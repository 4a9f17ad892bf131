// A command over one or several ports: each port's session on a thread of its
// own, what each did, the summary and the exit code they make together.
#pragma once

#include "CommandLine.h"
#include "Context.h"
#include "Session.h"

#include <functional>
#include <string>
#include <vector>

namespace vostrel {

// What one port did, for the summary and the exit code.
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
// own when there are several: a station never waits for another port.
std::vector<TPortRun> OnEachPort(const TCommandLine& line, const TCliContext& context,
                                 const std::function<void(TStationSession&, TPortRun&)>& work);

// The worst that happened on any port: a failure before a stop, a stop before
// success. A series stopped while waiting ends well once any station was
// programmed.
int CombinedCode(const std::vector<TPortRun>& runs, bool each);

void PrintSummary(const std::vector<TPortRun>& runs, const TCommandLine& line, const TCliContext& context);
// The summary's rows at the end of the record, when there is one.
void RecordSummary(const std::vector<TPortRun>& runs, const TCommandLine& line, const TCliContext& context);

}  // namespace vostrel

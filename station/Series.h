// Stations on one port, one after another: each waited for, kept, programmed
// with one plan and, asked to, read back; an adapter pulled out is waited
// for. What vostrel-cli's program and the bench window do on every port.
#pragma once

#include "ParamFile.h"
#include "PortRuns.h"
#include "StationSession.h"

namespace vostrel {

// The record's row once a port's work ended on a stop.
void RecordStop(TStationSession& session, const TPortRun& run, bool verify);

// Reads the station just programmed with sent back, says whether it holds
// it (what names it in the result line) and counts it; false when a stop
// came before it was read.
bool VerifyStation(TStationSession& session, const TByteArray& sent, const std::string& what, TPortRun& run);

// Programs stations on session's port with file's values, as plan says:
// one, or station after station until a stop; run receives the counts and
// the outcome. Port failures end only this port.
void ProgramOn(TStationSession& session, TPortRun& run, const TParamFile& file, const TRunPlan& plan);

}  // namespace vostrel

// The bench's waits on Windows: the line gives no descriptor to sleep on
// (TComm::InputWaitDescriptor is -1), so every wait returns at once and the
// port's host sleeps 20 ms a pass (1 ms inside a collection), looking at the
// stop flag each pass. Nothing to raise for a stop.
#include "StandView.h"
#include "StopWake.h"

namespace vostrel {

TStopWake::TStopWake() = default;

TStopWake::~TStopWake() = default;

void TStopWake::Raise()
{}

void TStopWake::Clear()
{}

bool TStandView::WaitLineOrStop(int /*descriptor*/, int /*timeoutMs*/)
{
    return false;
}

bool TStandView::WaitLine(int /*descriptor*/, int /*timeoutMs*/)
{
    return false;
}

}  // namespace vostrel

// What a port's sleeping wait watches beside its line for the operator's
// stop. Where the line gives a descriptor to sleep on (POSIX), a descriptor
// that polls readable once the stop came; where it gives none (Windows), -1:
// the waits return at once, the host sleeps 20 ms a pass and sees the stop
// flag itself.
#pragma once

namespace vostrel {

class TStopWake {
public:
    TStopWake();
    ~TStopWake();
    TStopWake(const TStopWake&) = delete;
    TStopWake& operator=(const TStopWake&) = delete;

    // -1 where there is nothing to poll.
    int Descriptor() const { return m_descriptor; }
    // A stop came: every wait on Descriptor() ends, until Clear.
    void Raise();
    // Before a new shift: the last one's stop forgotten.
    void Clear();

private:
    int m_descriptor = -1;
};

}  // namespace vostrel

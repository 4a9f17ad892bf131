// The system timer's resolution for a program's lifetime.
#pragma once

namespace vostrel {

// On Windows, Sleep lasts a whole timer tick (about 15.6 ms) unless the
// process itself asks for 1 ms: the pauses between a packet's bytes and the
// polls would stretch many times over. Asked for while the object lives,
// kept while the window is minimized or covered, and given back with the
// object when it was granted; nothing elsewhere.
class TFineTimer {
public:
    TFineTimer();
    ~TFineTimer();
    TFineTimer(const TFineTimer&) = delete;
    TFineTimer& operator=(const TFineTimer&) = delete;

private:
#ifdef _WIN32
    bool m_granted = false;
#endif
};

}  // namespace vostrel

// The window's exchange with the station, step for step and byte for byte,
// without a window: the wait for the greeting, the confirmation, the checked
// answer, programming and the goodbye, with the window's pauses and purges.
#pragma once

#include "LinkIo.h"

#include <cstdint>
#include <functional>

namespace vostrel {

// The window's timings between exchanges; the pauses inside an exchange are
// fixed by the protocol and not adjustable.
struct TDriverTimings {
    std::uint32_t StartTimerMs = 555;  // from a port's opening (or a failed answer) to the wait
    std::uint32_t ThankYouMs = 5000;   // after programming, before the next wait is armed
};

class TStationDriver {
public:
    enum class TRead {
        Read,         // block holds the station's 34 bytes; connected
        BadGreeting,  // not a greeting: nothing sent
        Missing,      // confirmed, but no usable answer arrived
        Damaged,      // the answer's check sum does not match its bytes
        Interrupted,  // stopped while waiting; nothing sent
    };

    // What the exchange is doing, for the progress shown to the operator.
    enum class TStep { Waiting, Greeted, Programming };

    // stop is looked at after each pass of the wait (each return of the
    // host's WaitForInput); a collection or a send in progress always runs to
    // its end.
    TStationDriver(IBytePort& port, ILinkHost& host, std::function<bool()> stop, TDriverTimings timings = {});

    std::function<void(TStep)> OnStep;

    // The timer that arms a wait: StartTimerMs, cut short by stop.
    void ArmDelay();
    // One wait: purge, look at the port after each return of the host's
    // WaitForInput until a byte arrives, collect the greeting, confirm it
    // 50 ms later, take the answer for 1000 ms and accept its block only
    // when its check sum matches. devicePath goes to the log.
    TRead WaitAndRead(const std::string& devicePath, TByteArray& block);
    // Packet 09 with the given 34 bytes, after the window's two 30 ms pauses;
    // no longer connected afterwards. A stop before the packet's first byte
    // sends nothing and keeps the station connected, for its goodbye: false.
    bool Program(const TByteArray& block);
    // The thank-you pause after programming; cut short by stop.
    void ThankYouPause();
    // As the window's close: 200 ms, the closing packet 00 when connected,
    // 50 ms. The caller closes the port afterwards.
    void Goodbye();

    bool Connected() const { return m_connected; }

private:
    void Step(TStep step)
    {
        if (OnStep)
            OnStep(step);
    }
    // Sleeps ms in 20 ms steps, ending early when stop holds.
    void Pause(std::uint32_t ms);

    IBytePort& m_port;
    ILinkHost& m_host;
    std::function<bool()> m_stop;
    TDriverTimings m_timings;
    bool m_connected = false;
};

}  // namespace vostrel

// The two seams through which the device link touches the outside world.
// The window adapts its serial port and the toolkit to them; tests pass fakes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vostrel {

using TByteArray = std::vector<std::uint8_t>;

// A byte pipe. Results follow the serial component: counts, or -1 on failure.
class IBytePort {
public:
    virtual ~IBytePort() = default;
    // Hands count bytes to the line; the result is bytes written or -1.
    virtual std::int32_t WriteBytes(const std::uint8_t* buf, std::int32_t count) = 0;
    // Takes up to count bytes already received, never waits; 0 when none.
    virtual std::int32_t ReadBytes(std::uint8_t* buf, std::int32_t count) = 0;
    // Discards received bytes not yet read; output is left alone.
    virtual void PurgeInput() = 0;
    // Bytes waiting to be read, -1 when the port is closed.
    virtual std::int32_t InputCount() = 0;
};

// Where the exchange log lines go (UTF-8, one line per call).
class ILogSink {
public:
    virtual ~ILogSink() = default;
    virtual void AppendLog(const std::string& line) = 0;
};

// What the link needs of the program around it.
class ILinkHost : public ILogSink {
public:
    // Lets the window handle its pending messages; handlers may nest here.
    virtual void ProcessMessages() = 0;
    // Millisecond counter; callers take differences on 32 bits.
    virtual std::uint32_t GetTickCount() = 0;
    virtual void Sleep(std::uint32_t ms) = 0;
    // One pass of a wait for input: returns, having let pending messages
    // through, when input may have come, the line may have failed or a stop
    // may have been asked for; the wait then looks. A host that cannot sleep
    // on the line polls every 20 ms.
    virtual void WaitForInput()
    {
        Sleep(20);
        ProcessMessages();
    }
    // A pass of a collection that found no byte, with msLeft of its window:
    // a host may sleep until the next byte or msLeft, which changes nothing
    // the line sees. The window's host looks again at once.
    virtual void IdleInCollection(std::uint32_t msLeft) { static_cast<void>(msLeft); }
};

// A log that keeps nothing, for exchanges nobody reads the log of.
class TNullLog : public ILogSink {
public:
    void AppendLog(const std::string&) override {}
};

}  // namespace vostrel

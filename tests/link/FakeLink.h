// A scripted port and a host with a fake millisecond clock for the link tests.
#pragma once

#include "LinkIo.h"

#include <cstdint>
#include <deque>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace vostrel {

inline std::string HexByte(std::uint8_t b)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    return std::string{kHex[b >> 4], kHex[b & 0x0F]};
}

// One clock shared by the port and the host: bytes "arrive" when it passes
// their time. Sleep advances it; so does every pass of message processing,
// standing in for the time a busy loop takes.
struct FakeClock {
    std::uint32_t now = 0;
    // What the port and the host saw, in order: "w 10", "log $10", "sleep 1", "pm".
    std::vector<std::string> events;
};

class FakePort : public IBytePort {
public:
    explicit FakePort(FakeClock& clock) : clock_(clock) {}

    // Bytes that become readable once the clock reaches atMs.
    void Arrive(std::uint32_t atMs, const TByteArray& bytes)
    {
        for (std::uint8_t b : bytes) {
            incoming_.emplace_back(atMs, b);
        }
    }

    std::int32_t WriteBytes(const std::uint8_t* buf, std::int32_t count) override
    {
        if (throwAtWrite >= 0 && writeCalls == throwAtWrite) {
            throw std::runtime_error("port gone");
        }
        for (std::int32_t i = 0; i < count; ++i) {
            written.push_back(buf[i]);
            writeTimes.push_back(clock_.now);
            clock_.events.push_back("w " + HexByte(buf[i]));
        }
        ++writeCalls;
        return writeResult < 0 ? writeResult : count;
    }

    std::int32_t ReadBytes(std::uint8_t* buf, std::int32_t count) override
    {
        std::int32_t n = 0;
        while (n < count && !incoming_.empty() && Due(incoming_.front().first)) {
            buf[n++] = incoming_.front().second;
            incoming_.pop_front();
        }
        return n;
    }

    void PurgeInput() override
    {
        while (!incoming_.empty() && Due(incoming_.front().first)) {
            incoming_.pop_front();
        }
    }

    std::int32_t InputCount() override
    {
        std::int32_t n = 0;
        for (const auto& [at, b] : incoming_) {
            n += Due(at) ? 1 : 0;
        }
        return n;
    }

    // Bytes not yet read, due or not.
    std::size_t Pending() const { return incoming_.size(); }

    TByteArray written;
    std::vector<std::uint32_t> writeTimes;
    int writeCalls = 0;
    std::int32_t writeResult = 0;  // -1 makes every write report a failure
    int throwAtWrite = -1;         // this call of WriteBytes throws

private:
    // Arrival times are compared as 32-bit differences so a clock near its wrap works.
    bool Due(std::uint32_t at) const { return static_cast<std::int32_t>(clock_.now - at) >= 0; }

    FakeClock& clock_;
    std::deque<std::pair<std::uint32_t, std::uint8_t>> incoming_;
};

class FakeHost : public ILinkHost {
public:
    explicit FakeHost(FakeClock& clock, std::uint32_t msPerPass = 1) : clock_(clock), msPerPass_(msPerPass) {}

    void AppendLog(const std::string& line) override
    {
        log.push_back(line);
        clock_.events.push_back("log " + line);
    }
    void ProcessMessages() override
    {
        ++passes;
        clock_.events.push_back("pm");
        clock_.now += msPerPass_;
    }
    std::uint32_t GetTickCount() override { return clock_.now; }
    void Sleep(std::uint32_t ms) override
    {
        clock_.events.push_back("sleep " + std::to_string(ms));
        clock_.now += ms;
    }

    std::vector<std::string> log;
    int passes = 0;

private:
    FakeClock& clock_;
    std::uint32_t msPerPass_;
};

// A log sink alone, for the encoding functions.
class RecordingLog : public ILogSink {
public:
    void AppendLog(const std::string& line) override { lines.push_back(line); }
    std::vector<std::string> lines;
};

}  // namespace vostrel

// The serial component behind the link's byte port, and the tick clock the
// link's waits are measured with.
#pragma once

#include "CommInt.h"
#include "LinkIo.h"

#include <cstdint>
#include <string>
#include <vector>

namespace vostrel {

// Milliseconds of a monotonic clock; callers take differences on 32 bits.
std::uint32_t TickCount();
// Sleeps the calling thread; handles nothing meanwhile.
void SleepMs(std::uint32_t ms);

// IBytePort over a TComm the caller owns; errors of the port propagate.
class TCommBytePort : public IBytePort {
public:
    explicit TCommBytePort(TComm& comm) : m_comm(comm) {}
    std::int32_t WriteBytes(const std::uint8_t* buf, std::int32_t count) override;
    std::int32_t ReadBytes(std::uint8_t* buf, std::int32_t count) override;
    void PurgeInput() override;
    std::int32_t InputCount() override;

private:
    TComm& m_comm;
};

// A host without a window: the tick clock, plain sleeps, the log kept in
// memory (its newest 100000 lines).
class TClockHost : public ILinkHost {
public:
    void AppendLog(const std::string& line) override;
    void ProcessMessages() override {}
    std::uint32_t GetTickCount() override { return TickCount(); }
    void Sleep(std::uint32_t ms) override { SleepMs(ms); }

    std::vector<std::string> Log;
};

// Opens comm on path with the station line's settings: 4800 8N1, no flow
// control, no events watched.
void OpenStationLine(TComm& comm, const std::string& path);

}  // namespace vostrel

// The project's TComm and a real clock behind the link's two seams, for the
// programs and tests that drive a whole exchange against the station. The
// simulator library itself does not use this header (it knows only link/).
#pragma once

#include "link/LinkIo.h"
#include "serial/CommInt.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

// IBytePort over a TComm the caller owns and has opened.
class CommBytePort : public IBytePort {
public:
    explicit CommBytePort(TComm& comm) : m_comm(comm) {}
    std::int32_t WriteBytes(const std::uint8_t* buf, std::int32_t count) override
    {
        return m_comm.WriteBytes(buf, count);
    }
    std::int32_t ReadBytes(std::uint8_t* buf, std::int32_t count) override { return m_comm.ReadBytes(buf, count); }
    void PurgeInput() override { m_comm.PurgeInput(); }
    std::int32_t InputCount() override { return m_comm.InputCount(); }

private:
    TComm& m_comm;
};

// A host without a window: real milliseconds and sleeps, the log kept in memory.
class RealClockHost : public ILinkHost {
public:
    void AppendLog(const std::string& line) override
    {
        if (Log.size() < 100000)
            Log.push_back(line);
    }
    void ProcessMessages() override {}
    std::uint32_t GetTickCount() override
    {
        const auto ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch());
        return static_cast<std::uint32_t>(ms.count());
    }
    void Sleep(std::uint32_t ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

    std::vector<std::string> Log;
};

// Opens comm on path with the station line's fixed settings: 4800 8N1, no flow control.
inline void OpenStationLine(TComm& comm, const std::string& path)
{
    comm.SetDeviceName(path);
    comm.SetBaudRate(br4800);
    comm.SetParity(paNone);
    comm.SetDatabits(da8);
    comm.SetStopbits(sb10);
    comm.SetFlowControl(fcNone);
    comm.SetMonitorEvents(0);
    comm.OpenPort();
}

#include "CommLink.h"

#include <chrono>
#include <thread>

namespace vostrel {

std::uint32_t TickCount()
{
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch());
    return static_cast<std::uint32_t>(ms.count());
}

void SleepMs(std::uint32_t ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

std::int32_t TCommBytePort::WriteBytes(const std::uint8_t* buf, std::int32_t count)
{
    return m_comm.WriteBytes(buf, count);
}

std::int32_t TCommBytePort::ReadBytes(std::uint8_t* buf, std::int32_t count)
{
    return m_comm.ReadBytes(buf, count);
}

void TCommBytePort::PurgeInput()
{
    m_comm.PurgeInput();
}

std::int32_t TCommBytePort::InputCount()
{
    return m_comm.InputCount();
}

void TClockHost::AppendLog(const std::string& line)
{
    constexpr std::size_t kMaxLines = 100000;
    if (Log.size() >= kMaxLines)
        Log.erase(Log.begin(), Log.begin() + kMaxLines / 2);
    Log.push_back(line);
}

void OpenStationLine(TComm& comm, const std::string& path)
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

}  // namespace vostrel

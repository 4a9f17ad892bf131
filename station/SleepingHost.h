// The station exchange's host on a thread of its own, without a window: it
// sleeps on the line until a byte, a failed line, a stop or the next second
// the view shows, and tells the view the exchange's steps and log lines.
#pragma once

#include "CommInt.h"
#include "SessionView.h"
#include "StationExchange.h"

#include <cstdint>
#include <functional>
#include <string>

namespace vostrel {

class TSleepingHost : public IExchangeHost {
public:
    // stop ends a wait and gives up an exchange before the station is
    // confirmed; once it is, the answer is still taken and the station is
    // left connected, for its goodbye.
    TSleepingHost(ISessionView& view, std::function<bool()> stop);

    void AppendLog(const std::string& line) override { m_view.Log(line); }
    void ProcessMessages() override { m_view.Tick(); }
    std::uint32_t GetTickCount() override;
    void Sleep(std::uint32_t ms) override;
    void WaitForInput() override;
    void IdleInCollection(std::uint32_t msLeft) override;

    bool StopWaiting() override { return m_stop(); }
    bool Abandoned() override { return !m_answering && m_stop(); }
    bool Connected() override { return m_connected; }
    void SetConnected(bool connected) override { m_connected = connected; }
    void Step(TExchangeStep step) override;
    // The view holds a job-control stop back while a packet goes out.
    void SendBegins() override
    {
        m_sending = true;
        m_view.PacketBegins();
    }
    void SendEnded() override
    {
        m_sending = false;
        m_view.PacketEnded();
    }
    void KeepSent(const TByteArray& block) override
    {
        if (OnKeepSent)
            OnKeepSent(block);
    }

    // Sleeps ms in 20 ms steps, ending early when stop holds.
    void Pause(std::uint32_t ms);
    void SetLine(TComm& line) { m_line = &line; }
    // A packet is going out on the line.
    bool Sending() const { return m_sending; }
    // What each step shows.
    std::function<void(TExchangeStep)> OnStep;
    // The block of packet 09 just before it goes out.
    std::function<void(const TByteArray&)> OnKeepSent;

private:
    ISessionView& m_view;
    std::function<bool()> m_stop;
    TComm* m_line = nullptr;
    bool m_connected = false;
    bool m_answering = false;  // between packet 08 and the end of the answer's window
    bool m_sending = false;
};

}  // namespace vostrel

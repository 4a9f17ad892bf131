// The station exchange's host without a window: it sleeps on the line until
// a byte, a failed line, an interrupt or the next second the terminal shows,
// and shows the exchange's steps as progress lines.
#pragma once

#include "CommInt.h"
#include "Progress.h"
#include "StationExchange.h"

#include <cstdint>
#include <functional>
#include <string>

namespace vostrel {

class TCliHost : public IExchangeHost {
public:
    // stop ends a wait and gives up an exchange before the station is
    // confirmed; once it is, the answer is still taken and the station is
    // left connected, for its goodbye.
    TCliHost(TProgress& progress, bool verbose, std::function<bool()> stop);

    void AppendLog(const std::string& line) override;
    void ProcessMessages() override { m_progress.Tick(); }
    std::uint32_t GetTickCount() override;
    void Sleep(std::uint32_t ms) override;
    void WaitForInput() override;
    void IdleInCollection(std::uint32_t msLeft) override;

    bool StopWaiting() override { return m_stop(); }
    bool Abandoned() override { return !m_answering && m_stop(); }
    bool Connected() override { return m_connected; }
    void SetConnected(bool connected) override { m_connected = connected; }
    void Step(TExchangeStep step) override;

    // Sleeps ms in 20 ms steps, ending early when stop holds.
    void Pause(std::uint32_t ms);
    void SetLine(TComm& line) { m_line = &line; }
    // The progress shown for each step.
    std::function<void(TExchangeStep)> OnStep;

private:
    TProgress& m_progress;
    bool m_verbose;
    std::function<bool()> m_stop;
    TComm* m_line = nullptr;
    bool m_connected = false;
    bool m_answering = false;  // between packet 08 and the end of the answer's window
};

}  // namespace vostrel

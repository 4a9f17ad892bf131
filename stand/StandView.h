// One port's session as the bench window shows it: every step, note and log
// line becomes an event handed to the window's thread; the port's thread
// sleeps on its line and on the window's wake descriptor, never on the window.
#pragma once

#include "PortRows.h"
#include "PortRuns.h"
#include "SessionView.h"

#include <atomic>
#include <functional>
#include <string>

namespace vostrel {

class TStationSession;

class TStandView : public ISessionView {
public:
    // post hands an event to the window's thread and returns at once; wake
    // is a descriptor that polls readable once a stop came, -1 where the
    // waits do not sleep (TStopWake). The waits are each platform's own
    // (posix/Waits.cpp, windows/Waits.cpp).
    TStandView(std::function<void(TPortEvent)> post, int wake, const std::atomic<bool>& stop);

    // On the port's thread, before its work: the counts each event carries
    // are read from run and session from now on.
    void Watch(const TPortRun& run, const TStationSession& session);
    // The port's work ended as run says.
    void Ended(const TPortRun& run);

    void Status(const std::string& /*text*/, bool /*counting*/) override {}
    void Tick() override {}
    int MsUntilTick() const override { return -1; }
    void Note(const std::string& line) override { Post(TPortEvent::TKind::Note, line); }
    void Clear() override {}
    void Result(const std::string& line) override { Post(TPortEvent::TKind::Result, line); }
    void Error(const std::string& line) override;
    void Stopped(const std::string& line) override { Post(TPortEvent::TKind::Stopped, line); }
    void Log(const std::string& line) override { Post(TPortEvent::TKind::Log, line); }
    void Phase(TSessionPhase phase) override;
    bool WaitLineOrStop(int descriptor, int timeoutMs) override;
    bool WaitLine(int descriptor, int timeoutMs) override;

private:
    void Post(TPortEvent::TKind kind, const std::string& text, const std::string& trouble = {});

    std::function<void(TPortEvent)> m_post;
    int m_wake;
    const std::atomic<bool>& m_stop;
    const TPortRun* m_run = nullptr;
    const TStationSession* m_session = nullptr;
};

}  // namespace vostrel

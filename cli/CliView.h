// A port's session as vostrel-cli shows it: progress on standard error (a
// status line redrawn in place on a terminal), results on standard output,
// the exchange log with -v; waits sleep on the line or an interrupt.
#pragma once

#include "Context.h"
#include "Progress.h"
#include "SessionView.h"

#include <memory>
#include <string>

namespace vostrel {

class TCliView : public ISessionView {
public:
    // several: other ports share the streams, so every progress line names
    // port.
    TCliView(const TCliContext& context, const std::string& port, bool several, bool verbose);

    void Status(const std::string& text, bool counting) override { m_progress.Status(text, counting); }
    void Tick() override { m_progress.Tick(); }
    int MsUntilTick() const override { return m_progress.MsUntilTick(); }
    void Note(const std::string& line) override { m_progress.Note(line); }
    void Clear() override { m_progress.Clear(); }
    void Result(const std::string& line) override;
    void Error(const std::string& line) override;
    void Stopped(const std::string& line) override;
    void Log(const std::string& line) override;
    bool WaitLineOrStop(int descriptor, int timeoutMs) override;
    bool WaitLine(int descriptor, int timeoutMs) override;
    bool Lost() const override;
    void PacketBegins() override;
    void PacketEnded() override;

private:
    TProgress m_progress;
    std::FILE* m_out;
    std::FILE* m_err;
    bool m_terminal;
    bool m_verbose;
};

// The views of a command's ports, for TSessionContext::View.
void UseCliViews(TCliContext& context, bool verbose);

}  // namespace vostrel

// What the operator sees while the programmer works: on a terminal one status
// line redrawn in place (with the seconds of a wait), piped or redirected one
// plain line per change of step. Lasting lines go above the status line.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>

namespace vostrel {

class TProgress {
public:
    // prefix begins every line: the port's name where several ports share
    // the stream, which then gets plain lines even on a terminal.
    TProgress(std::FILE* out, bool terminal, std::string prefix = "")
        : m_out(out), m_terminal(terminal && prefix.empty()), m_prefix(std::move(prefix))
    {}
    ~TProgress() { Clear(); }

    // A new step; counting marks a wait whose seconds are shown as they pass.
    void Status(const std::string& text, bool counting = false);
    // Redraws a counting status when its seconds change; cheap to call often.
    void Tick();
    // Milliseconds until Tick has a new second to draw; -1 when it never will.
    int MsUntilTick() const;
    // A lasting line (a copy saved, a warning).
    void Note(const std::string& line);
    // Ends the step: its line goes from a terminal.
    void Clear();

private:
    void Draw(const std::string& text);
    void Erase();

    std::FILE* m_out;
    bool m_terminal;
    std::string m_prefix;
    std::string m_status;
    bool m_counting = false;
    std::uint32_t m_since = 0;
    std::uint32_t m_shownSeconds = 0;
    std::size_t m_drawnWidth = 0;  // characters the status line may hold since its erase
};

}  // namespace vostrel

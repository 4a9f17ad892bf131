#include "Progress.h"

#include "BlockTexts.h"
#include "CommLink.h"
#include "Output.h"

#include <algorithm>
#include <utility>

namespace vostrel {

void TProgress::Draw(const std::string& text)
{
    // Blanks over the rest of the old line: no terminal control sequences,
    // which not every console understands.
    const std::size_t width = Utf8Length(text);
    std::string line(1, '\r');
    line += text;
    if (m_drawnWidth > width) {
        line.append(m_drawnWidth - width, ' ');
        line += '\r';
        line += text;
    }
    Emit(m_out, std::move(line), TText::Redraw);
    // A redraw may be dropped: the erase covers the widest that may show.
    m_drawnWidth = std::max(m_drawnWidth, width);
}

void TProgress::Status(const std::string& text, bool counting)
{
    if (text == m_status && counting == m_counting)
        return;
    m_status = text;
    m_counting = counting;
    m_since = TickCount();
    m_shownSeconds = 0;
    if (m_terminal) {
        Draw(text);
    } else {
        Emit(m_out, m_prefix + text + "\n");
    }
}

void TProgress::Tick()
{
    if (!m_terminal || !m_counting)
        return;
    const std::uint32_t seconds = static_cast<std::uint32_t>(TickCount() - m_since) / 1000;
    if (seconds == m_shownSeconds)
        return;
    m_shownSeconds = seconds;
    Draw(m_status + " " + std::to_string(seconds) + " с");
}

int TProgress::MsUntilTick() const
{
    if (!m_terminal || !m_counting)
        return -1;
    return 1000 - static_cast<int>(static_cast<std::uint32_t>(TickCount() - m_since) % 1000);
}

void TProgress::Note(const std::string& line)
{
    Erase();
    Emit(m_out, m_prefix + line + "\n");
    // The step goes on: show it again below the note.
    if (m_terminal && !m_status.empty())
        Draw(m_status);
}

void TProgress::Erase()
{
    if (m_terminal && m_drawnWidth > 0) {
        std::string blank(1, '\r');
        blank.append(m_drawnWidth, ' ');
        blank += '\r';
        // Never dropped: a lasting line would land on the status line's end.
        Emit(m_out, std::move(blank));
        m_drawnWidth = 0;
    }
}

void TProgress::Clear()
{
    Erase();
    m_status.clear();
    m_counting = false;
}

}  // namespace vostrel

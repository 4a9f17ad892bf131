#include "PortRows.h"

namespace vostrel {

std::string PhaseWords(TSessionPhase phase, bool verifying)
{
    switch (phase) {
    case TSessionPhase::Waiting:
        return verifying ? "проверка: ждёт станцию" : "ждёт станцию";
    case TSessionPhase::Reading:
        return verifying ? "проверка: читает" : "читает";
    case TSessionPhase::Programming:
        return "программирует";
    case TSessionPhase::Pause:
        return "пауза";
    case TSessionPhase::Verifying:
        return "проверка";
    case TSessionPhase::PortGone:
        return "порт пропал — ждём его";
    }
    return {};
}

std::string ResultWithoutPrefix(const std::string& line, const std::string& port)
{
    const std::string mark = "  " + port + "  ";
    const std::size_t at = line.find(mark);
    return at == std::string::npos ? line : line.substr(at + mark.size());
}

namespace {

// The rest of the line at where, without a closing full stop.
std::string LineFrom(const std::string& text, std::size_t where)
{
    std::string line = text.substr(where, text.find('\n', where) - where);
    while (!line.empty() && (line.back() == '.' || line.back() == ' '))
        line.pop_back();
    return line;
}

}  // namespace

std::string OpenFailureWords(const std::string& failure)
{
    const std::string busy = "Порт занят: его держит другая программа";
    const std::string reason = "Причина: ";
    if (const std::size_t at = failure.find(busy); at != std::string::npos) {
        std::string holders = LineFrom(failure, at + busy.size());
        if (holders.rfind(": ", 0) == 0)
            holders.erase(0, 2);
        return holders.empty() ? "порт занят другой программой" : "порт занят: " + holders;
    }
    if (const std::size_t at = failure.find(reason); at != std::string::npos)
        return "порт не открылся: " + LineFrom(failure, at + reason.size());
    return "порт не открылся";
}

namespace {

void AddLog(TPortRow& row, const std::string& line)
{
    row.Log.push_back(line);
    while (row.Log.size() > kRowLogLines)
        row.Log.pop_front();
    ++row.LogTotal;
}

}  // namespace

void ApplyEvent(TPortRow& row, const TPortEvent& e)
{
    row.Dirty = true;
    if (e.Kind != TPortEvent::TKind::Log && e.Kind != TPortEvent::TKind::Phase)
        row.Counts = e.Counts;
    switch (e.Kind) {
    case TPortEvent::TKind::Began:
        row.State = PhaseWords(TSessionPhase::Waiting, false);
        break;
    case TPortEvent::TKind::Phase:
        if (e.Phase == TSessionPhase::Verifying)
            row.Verifying = true;
        else if (e.Phase == TSessionPhase::Programming || e.Phase == TSessionPhase::PortGone)
            row.Verifying = false;
        row.State = PhaseWords(e.Phase, row.Verifying);
        break;
    case TPortEvent::TKind::Log:
        AddLog(row, e.Text);
        break;
    case TPortEvent::TKind::Result:
        row.Verifying = false;
        row.LastChanges = ResultWithoutPrefix(e.Text, row.Port);
        row.LastTime = e.Time;
        AddLog(row, e.Text);
        break;
    case TPortEvent::TKind::Note:
        AddLog(row, e.Time + "  " + e.Text);
        break;
    case TPortEvent::TKind::Error:
        // The system's words for a failure that may end the port.
        row.Why = e.Text;
        AddLog(row, e.Time + "  " + e.Text);
        break;
    case TPortEvent::TKind::Stopped:
        row.State = "остановлен";
        AddLog(row, e.Time + "  " + e.Text);
        break;
    case TPortEvent::TKind::OpenFailed:
        row.State = "отказ: " + OpenFailureWords(e.Text);
        row.Why = e.Text;
        row.Failed = row.Ended = true;
        AddLog(row, e.Time + "  " + e.Text);
        break;
    case TPortEvent::TKind::Ended:
        row.Ended = true;
        row.Failed = !e.Trouble.empty();
        row.State = !row.Failed ? "остановлен" : "отказ: " + (row.Why.empty() ? e.Trouble : row.Why);
        break;
    }
}

}  // namespace vostrel

#include "StationSession.h"

#include "BlockTexts.h"
#include "Packets.h"
#include "PortError.h"
#include "Record.h"

#include <QFileInfo>

namespace vostrel {

namespace {

const char* const kAgain = " Переведите станцию в режим программирования ещё раз (кнопки «Ф» и «СК»).";

}  // namespace

TStationSession::TStationSession(const TSessionContext& context, const std::string& portName,
                                 std::unique_ptr<ISessionView> view)
    : m_context(context), m_view(std::move(view)), m_host(*m_view, [this] { return StopWaiting(); }),
      m_bytes(m_port.Comm()), m_exchange(m_bytes, m_host), m_portName(portName)
{
    m_host.OnStep = [this](TExchangeStep step) {
        switch (step) {
        case TExchangeStep::Waiting:
            m_view->Phase(TSessionPhase::Waiting);
            m_view->Status("Ожидание сообщения от станции на порту " + m_port.Name() + " ...", true);
            break;
        case TExchangeStep::Arrived:
            m_view->Phase(TSessionPhase::Reading);
            m_view->Status("Станция на связи: чтение параметров ...");
            break;
        case TExchangeStep::Programming:
            m_view->Phase(TSessionPhase::Programming);
            m_view->Status("Программирование ...");
            break;
        default:
            break;
        }
    };
    m_host.SetLine(m_port.Comm());
    m_host.OnKeepSent = [this](const TByteArray& block) {
        const TParameterSet previous = m_editors;
        m_editors = ShownSet(block, previous);
        Keep("sent", block, previous, "");
    };
}

bool TStationSession::Open()
{
    return m_port.Open(m_portName, m_context.LockDir);
}

bool TStationSession::NextStation(TByteArray& block)
{
    for (;;) {
        m_host.Pause(m_context.Timings.StartTimerMs);
        if (m_context.Stop())
            return false;
        const TStationExchange::TRead read = m_exchange.WaitAndRead(m_port.Path(), block);
        if (read == TStationExchange::TRead::Read) {
            // From here the station waits for packet 09 or the closing
            // packet, also when a stop came during its answer.
            m_host.SetConnected(true);
            m_view->Clear();
            return true;
        }
        if (read == TStationExchange::TRead::Interrupted)
            return false;
        ++m_refused;
        if (read == TStationExchange::TRead::BadGreeting)
            m_view->Note(std::string("Вместо приветствия станции пришёл неправильный пакет.") + kAgain);
        else if (read == TStationExchange::TRead::Missing)
            m_view->Note(std::string("Станция не прислала свои параметры.") + kAgain);
        else
            m_view->Note(kDamagedAnswerText);
        Record(RecordEvent::Refused, read == TStationExchange::TRead::BadGreeting ? "неправильное приветствие"
                                     : read == TStationExchange::TRead::Missing ? "нет параметров станции"
                                                                                : "ответ повреждён");
    }
}

TCopySaved TStationSession::Keep(const std::string& kind, const TByteArray& block, const TParameterSet& previous,
                                 const std::string& goingOn)
{
    const TCopySaved saved = SaveCopy(QString::fromUtf8(m_context.CopiesFolder),
                                      CopyOfBlock(kind, QString::fromStdString(PortText()), block, previous));
    if (saved.Ok)
        m_copies.push_back(ToUtf8(QFileInfo(saved.Path).fileName()));
    if (!saved.Ok) {
        ++m_copiesLost;
        m_view->Note(ToUtf8(saved.Reason) + goingOn);
    } else if (kind == "read")
        m_view->Note("Копия параметров станции: " + ToUtf8(saved.Path));
    return saved;
}

TParameterSet TStationSession::ShowAndKeep(const std::string& kind, const TByteArray& block, const std::string& goingOn)
{
    const TParameterSet previous = m_editors;
    m_editors = ShownSet(block, previous);
    Keep(kind, block, previous, goingOn);
    return m_editors;
}

bool TStationSession::Program(const std::function<TByteArray()>& encode, TByteArray& sent, TParameterSet& programmed)
{
    const bool done = m_exchange.Program(encode, sent);
    m_view->Clear();
    if (done)
        programmed = m_editors;
    return done;
}

void TStationSession::ThankYouPause()
{
    m_view->Phase(TSessionPhase::Pause);
    m_host.Pause(m_context.Timings.ThankYouMs);
}

TStationSession::TVerified TStationSession::Verify(const TByteArray& sent, std::vector<std::string>& differences)
{
    ThankYouPause();
    if (m_context.Stop())
        return TVerified::Stopped;
    m_view->Phase(TSessionPhase::Verifying);
    m_view->Note("Для проверки переведите станцию на порту " + m_port.Name() +
                 " в режим программирования ещё раз (кнопки «Ф» и «СК»).");
    TByteArray back;
    if (!NextStation(back))
        return TVerified::Stopped;
    ShowAndKeep("read", back);
    differences = ReadBackDifferences(sent, back);
    m_exchange.Goodbye();
    return differences.empty() ? TVerified::Same : TVerified::Differs;
}

void TStationSession::Finish()
{
    m_view->Clear();
    // An interrupt is told per port once the port has done what it stops with.
    const bool interrupted = m_context.Stop() && m_port.Comm().IsOpen();
    const bool connected = m_host.Connected();
    bool failed = false;
    try {
        m_exchange.Goodbye();
    } catch (const std::exception&) {
        // The port is being given up anyway.
        failed = true;
    }
    m_port.Close();
    if (interrupted && !(connected && failed)) {
        m_view->Stopped(connected ? "Прервано: станции на порту " + m_port.Name() + " послан пакет завершения."
                                  : "Прервано: порт " + m_port.Name() + " больше не ждёт станцию.");
    }
}

std::string TStationSession::FailureOf(const std::exception& e) const
{
    const auto* comm = dynamic_cast<const ECommError*>(&e);
    return ToUtf8(PortFailureText(QString::fromStdString(m_port.Name()), comm != nullptr ? comm->ErrorCode : 0,
                                  QString::fromLocal8Bit(e.what())));
}

int TStationSession::PortFailure(const std::exception& e)
{
    m_view->Clear();
    const std::string text = FailureOf(e);
    m_view->Error(text);
    Finish();
    Record(RecordEvent::PortFailed, text);
    return ExitCode::PortFailed;
}

void TStationSession::PortGone(const std::exception& e)
{
    m_view->Clear();
    const std::string reason = FailureOf(e);
    m_host.SetConnected(false);
    m_port.Close();
    m_view->Error(reason + " Порт закрыт; когда то же устройство вернётся, работа на нём продолжится.");
    Record(RecordEvent::PortGone, reason);
}

bool TStationSession::AwaitReturn()
{
    m_view->Phase(TSessionPhase::PortGone);
    m_view->Status("Порт " + m_port.Name() + " пропал: ожидание устройства ...", true);
    for (;;) {
        // Twice a second is soon enough for a cable plugged back by hand.
        m_host.Pause(500);
        if (StopWaiting()) {
            m_view->Clear();
            if (m_context.Stop())
                m_view->Stopped("Прервано: порт " + m_port.Name() + " больше не ждёт своё устройство.");
            return false;
        }
        // Only the same device; one that opens but has hung up already is not back.
        if (m_port.Reopen(m_context.LockDir) && !m_port.Comm().LineHungUp())
            break;
        m_port.Close();
    }
    m_view->Clear();
    m_view->Note("Порт " + PortText() + " вернулся: работа продолжается.");
    Record(RecordEvent::PortBack, m_port.Path());
    return true;
}

bool TStationSession::StopWaiting()
{
    return m_context.Stop() || (m_view->Lost() && !m_host.Connected());
}

bool TStationSession::Record(const char* event, const std::string& details, const std::string& note)
{
    try {
        std::vector<std::string> copies;
        copies.swap(m_copies);
        return m_context.Record == nullptr ||
               m_context.Record->Append({PortName(), DevicePath(), m_station, event, details, copies, note});
    } catch (const std::exception&) {
        return false;  // no memory for the row: as a row not written
    }
}

std::string TStationSession::PortText() const
{
    return m_port.Path() == m_port.Name() ? m_port.Name() : m_port.Name() + " (" + m_port.Path() + ")";
}

}  // namespace vostrel

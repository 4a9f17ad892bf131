#include "StandView.h"

#include "StationSession.h"

#include <QTime>

namespace vostrel {

TStandView::TStandView(std::function<void(TPortEvent)> post, int wake, const std::atomic<bool>& stop)
    : m_post(std::move(post)), m_wake(wake), m_stop(stop)
{}

void TStandView::Watch(const TPortRun& run, const TStationSession& session)
{
    m_run = &run;
    m_session = &session;
    Post(TPortEvent::TKind::Began, session.PortText());
}

void TStandView::Ended(const TPortRun& run)
{
    Post(TPortEvent::TKind::Ended, {}, run.Trouble);
}

void TStandView::Error(const std::string& line)
{
    // Before the work began only the open fails.
    Post(m_run == nullptr ? TPortEvent::TKind::OpenFailed : TPortEvent::TKind::Error, line);
}

void TStandView::Phase(TSessionPhase phase)
{
    TPortEvent e;
    e.Kind = TPortEvent::TKind::Phase;
    e.Phase = phase;
    m_post(std::move(e));
}

void TStandView::Post(TPortEvent::TKind kind, const std::string& text, const std::string& trouble)
{
    TPortEvent e;
    e.Kind = kind;
    e.Text = text;
    e.Trouble = trouble;
    if (kind != TPortEvent::TKind::Log)
        e.Time = QTime::currentTime().toString(QStringLiteral("HH:mm:ss")).toStdString();
    // Read on the port's own thread, which alone writes them.
    if (m_run != nullptr) {
        e.Counts = {m_run->Programmed, m_run->Verified, m_run->NotVerified, m_session->Refused(), m_run->Outages};
    }
    m_post(std::move(e));
}

}  // namespace vostrel

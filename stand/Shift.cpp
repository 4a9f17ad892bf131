#include "Shift.h"

#include "Series.h"
#include "StandView.h"
#include "StationSession.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>

namespace vostrel {

TShift::TShift(TShiftSetup setup, QObject* parent) : QObject(parent), m_setup(std::move(setup))
{
    m_context.CopiesFolder = m_setup.CopiesFolder;
    m_context.LockDir = m_setup.LockDir;
    m_context.Timings = m_setup.Timings;
    m_context.Stop = [this] { return m_stop.load(); };
    m_context.View = [this](const std::string& port, bool /*several*/) -> std::unique_ptr<ISessionView> {
        const auto it = std::find(m_plan.Ports.begin(), m_plan.Ports.end(), port);
        const auto row = static_cast<std::size_t>(it - m_plan.Ports.begin());
        auto post = [this, row](TPortEvent e) {
            QMetaObject::invokeMethod(
                this,
                [this, row, e = std::move(e)] {
                    if (OnEvent)
                        OnEvent(row, e);
                },
                Qt::QueuedConnection);
        };
        return std::make_unique<TStandView>(std::move(post), m_wake.Descriptor(), m_stop);
    };
}

TShift::~TShift()
{
    if (m_worker.joinable()) {
        Stop();
        m_worker.join();
    }
}

bool TShift::Start(const TRunPlan& plan, const TParamFile& file, const std::string& recordPath, std::string& why)
{
    if (Running()) {
        why = "смена уже идёт";
        return false;
    }
    m_record = std::make_unique<TRecord>([this](const std::string& text) {
        QMetaObject::invokeMethod(
            this,
            [this, text] {
                if (OnRecordTrouble)
                    OnRecordTrouble(text);
            },
            Qt::QueuedConnection);
    });
    const QString folder = QFileInfo(QString::fromStdString(recordPath)).absolutePath();
    QDir().mkpath(folder);
    if (!m_record->Open(recordPath)) {
        why = "Не удалось открыть журнал " + recordPath + ": " + m_record->Failure();
        return false;
    }
    m_context.Record = m_record.get();
    m_plan = plan;
    m_file = file;
    m_stop = false;
    m_wake.Clear();
    m_worker = std::thread([this] { Run(); });
    return true;
}

void TShift::Stop()
{
    m_stop = true;
    m_wake.Raise();
}

void TShift::Run()
{
    const std::vector<TPortRun> runs = OnEachPort(m_plan, m_context, [this](TStationSession& session, TPortRun& run) {
        // Every view here is a bench view: the context makes no other.
        auto& view = static_cast<TStandView&>(session.View());
        view.Watch(run, session);
        ProgramOn(session, run, m_file, m_plan);
        run.CopiesLost = session.CopiesLost();
        view.Ended(run);
    });
    const bool kept = RecordSummary(runs, m_plan, m_context);
    QMetaObject::invokeMethod(
        this,
        [this, runs, kept] {
            m_worker.join();
            m_context.Record = nullptr;
            if (OnFinished)
                OnFinished(runs, kept);
        },
        Qt::QueuedConnection);
}

}  // namespace vostrel

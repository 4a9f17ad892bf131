// The bench window during a shift: the ports' events applied to their rows,
// the rows redrawn a few times a second, the totals, the log of the row
// picked and the summary at the end.
#include "StandWindow.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>

#include <algorithm>

namespace vostrel {

namespace {

QString Q(const std::string& s)
{
    return QString::fromStdString(s);
}

QString Elapsed(qint64 ms)
{
    const qint64 s = ms / 1000;
    return QStringLiteral("%1:%2:%3")
        .arg(s / 3600)
        .arg(s / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(s % 60, 2, 10, QLatin1Char('0'));
}

void SetCell(QTableWidget* table, int row, int column, const QString& text, const QColor& background,
             const QColor& foreground, const QString& tip = {})
{
    QTableWidgetItem* item = table->item(row, column);
    if (item == nullptr) {
        item = new QTableWidgetItem;
        table->setItem(row, column, item);
    }
    item->setText(text);
    item->setBackground(background);
    item->setForeground(foreground);
    item->setToolTip(tip.isEmpty() ? text : tip);
}

}  // namespace

void TStandWindow::OnEvent(std::size_t row, const TPortEvent& e)
{
    if (row < m_rows.size())
        ApplyEvent(m_rows[row], e);
}

void TStandWindow::PaintRow(int row)
{
    TPortRow& r = m_rows[static_cast<std::size_t>(row)];
    r.Dirty = false;
    const QColor background = r.Failed ? QColor(255, 205, 205) : QColor(Qt::white);
    const QColor foreground = r.Failed ? QColor(150, 0, 0) : QColor(Qt::black);
    const QString why = Q(r.Why);
    const QStringList cells{
        Q(r.Port),
        Q(r.Adapter),
        Q(r.State),
        QString::number(r.Counts.Programmed),
        QString::number(r.Counts.Verified) +
            (r.Counts.NotVerified > 0 ? QStringLiteral(" (не прошли %1)").arg(r.Counts.NotVerified) : QString()),
        QString::number(r.Counts.Refused),
        QString::number(r.Counts.Outages),
        Q(r.LastChanges),
        Q(r.LastTime)};
    for (int c = 0; c < cells.size(); ++c)
        SetCell(tblPorts, row, c, cells[c], background, foreground, c == 2 && !why.isEmpty() ? why : QString());
}

void TStandWindow::Repaint()
{
    TPortCounts total;
    for (std::size_t k = 0; k < m_rows.size(); ++k) {
        const TPortRow& r = m_rows[k];
        total.Programmed += r.Counts.Programmed;
        total.Verified += r.Counts.Verified;
        total.NotVerified += r.Counts.NotVerified;
        total.Refused += r.Counts.Refused;
        total.Outages += r.Counts.Outages;
        if (r.Dirty)
            PaintRow(static_cast<int>(k));
    }
    if (!m_rows.empty()) {
        const qint64 ms = m_shift.Running() ? m_since.elapsed() : m_shiftMs;
        const double hours = static_cast<double>(ms) / 3.6e6;
        QString text = QStringLiteral("Всего: запрограммировано %1").arg(total.Programmed);
        if (m_verify)
            text += QStringLiteral(", проверено %1, не прошли проверку %2").arg(total.Verified).arg(total.NotVerified);
        text += QStringLiteral(", отклонено ответов %1, сбоев порта %2.   Смена: %3,   станций в час: %4")
                    .arg(total.Refused)
                    .arg(total.Outages)
                    .arg(Elapsed(ms))
                    .arg(ms >= 60000 ? QString::number(total.Programmed / hours, 'f', 1) : QStringLiteral("—"));
        lbTotals->setText(text);
    }
    // The log of the row picked: only the lines added since it was drawn.
    if (m_logRow >= 0 && static_cast<std::size_t>(m_logRow) < m_rows.size()) {
        const TPortRow& r = m_rows[static_cast<std::size_t>(m_logRow)];
        const std::uint64_t added = r.LogTotal - m_logShown;
        const std::size_t from = r.Log.size() - static_cast<std::size_t>(std::min<std::uint64_t>(added, r.Log.size()));
        for (std::size_t k = from; k < r.Log.size(); ++k)
            txtLog->appendPlainText(Q(r.Log[k]));
        m_logShown = r.LogTotal;
    }
}

void TStandWindow::ShowLogOf(int row)
{
    m_logRow = row;
    txtLog->clear();
    m_logShown = 0;
    if (row >= 0 && static_cast<std::size_t>(row) < m_rows.size()) {
        const TPortRow& r = m_rows[static_cast<std::size_t>(row)];
        // What the row still keeps; Repaint adds what comes after.
        m_logShown = r.LogTotal - r.Log.size();
    }
    Repaint();
}

void TStandWindow::OnFinished(const std::vector<TPortRun>& runs, bool kept)
{
    m_shiftMs = m_since.elapsed();
    QStringList summary{QStringLiteral("Смена окончена. Итог:")};
    const TRunPlan plan{{}, false, true, m_verify};
    for (std::size_t k = 0; k < runs.size() && k < m_rows.size(); ++k) {
        TPortRow& r = m_rows[k];
        const TPortRun& run = runs[k];
        if (!run.Device.empty() && r.Adapter.find(run.Device) == std::string::npos)
            r.Adapter = run.Device + (r.Adapter.empty() || r.Adapter == r.Port ? "" : " (" + r.Adapter + ")");
        // A port that never began (it did not open) ended here.
        if (!r.Ended) {
            TPortEvent end;
            end.Kind = TPortEvent::TKind::Ended;
            end.Trouble = run.Trouble;
            end.Counts = r.Counts;
            ApplyEvent(r, end);
        }
        r.Counts.Refused = run.Refused;
        r.Dirty = true;
        summary << QStringLiteral("  ") + Q(run.Port) + QStringLiteral("  ") + Q(SummaryOf(run, plan));
    }
    if (!kept)
        summary << QStringLiteral("Итог в журнал смены не записан.");
    ShowMessage(summary.join(QLatin1Char('\n')),
                std::any_of(m_rows.begin(), m_rows.end(), [](const TPortRow& r) { return r.Failed; }));
    SetPreparing(true);
    Repaint();
    if (m_closeWhenDone)
        QTimer::singleShot(0, this, &QWidget::close);
}

}  // namespace vostrel

#include "PortOpening.h"

#include "PortError.h"

#include <algorithm>
#include <cerrno>

namespace vostrel {

namespace {

// Another program's lock or descriptor is told as the system's own "busy".
// Only a shared device has either, and only Linux has shared devices, so the
// code is always errno's.
constexpr int kHeldCode = EBUSY;

}  // namespace

TPortOpening::TPortOpening(const QString& name) : m_name(name), m_path(DefaultDevicePath(name.toStdString()))
{}

bool TPortOpening::Choose(const std::vector<TPortChoice>& choices, const std::vector<TPresentPort>& present)
{
    const std::string name = m_name.toStdString();
    const auto choice =
        std::find_if(choices.begin(), choices.end(), [&](const TPortChoice& c) { return c.Name == name; });
    if (choice == choices.end())
        return true;
    if (!choice->Path.empty())
        m_path = choice->Path;
    m_report = (choice->Away ? AwayText(*choice) : m_name + QStringLiteral(": ") + PortToolTip(*choice)) +
               QLatin1Char('\n') + PresentPortsText(present);
    if (choice->Away)
        m_refused = true;
    return !m_refused;
}

TPortLock TPortOpening::Lock(const std::string& lockDir)
{
    TPortLock lock = TPortLock::Acquire(lockDir, m_path);
    if (lock.Outcome() != TPortLock::TOutcome::Busy)
        return lock;
    m_holders << (lock.Holder().empty() ? QStringLiteral("файл блокировки ") + QString::fromStdString(lock.LockPath())
                                        : QString::fromStdString(lock.Holder()));
    m_refused = true;
    m_code = kHeldCode;
    return lock;
}

bool TPortOpening::Unheld(const std::vector<std::string>& holders)
{
    for (const std::string& h : holders)
        m_holders << QString::fromStdString(h);
    if (!m_holders.isEmpty()) {
        m_refused = true;
        m_code = kHeldCode;
    }
    return !m_refused;
}

void TPortOpening::Failed(int code, const QString& message, const std::vector<std::string>& holders)
{
    m_code = code;
    m_message = message;
    for (const std::string& h : holders)
        m_holders << QString::fromStdString(h);
}

QString TPortOpening::Reason() const
{
    const QString reason = m_code > 0 ? SystemErrorText(m_code) : m_message.trimmed();
    if (reason.isEmpty())
        return {};
    QString text = QStringLiteral("Причина: ") + reason + QLatin1Char('.');
    const TPortErrorKind kind = m_code > 0 ? PortErrorKind(m_code) : TPortErrorKind::Other;
    if (kind == TPortErrorKind::NoRights) {
        text += QStringLiteral("\nНет прав на устройство: пользователь должен входить в группу, "
                               "которой принадлежит устройство (обычно dialout), затем войти в систему заново.");
    } else if (kind == TPortErrorKind::Busy) {
        text += QStringLiteral("\nПорт занят: его держит другая программа");
        text += m_holders.isEmpty() ? QStringLiteral(".") : QStringLiteral(": ") + m_holders.join(", ") + '.';
    }
    return text;
}

QString TPortOpening::FailureTitle() const
{
    return QStringLiteral("Не удалось открыть порт ") + m_name;
}

QString TPortOpening::FailureDetails() const
{
    const QString reason = Reason();
    if (m_report.isEmpty())
        return reason;
    return reason.isEmpty() ? m_report : reason + QStringLiteral("\n\n") + m_report;
}

QString TPortOpening::FailureText() const
{
    const QString reason = Reason();
    QString text = FailureTitle();
    if (!reason.isEmpty())
        text += QLatin1Char('\n') + reason;
    if (!m_report.isEmpty())
        text += QStringLiteral("\n\n") + m_report;
    return text;
}

QString PortFailureText(const QString& name, int code, const QString& message)
{
    const QString reason = code > 0 ? SystemErrorText(code) : message.trimmed();
    return QStringLiteral("Ошибка порта ") + name + QStringLiteral(": ") + reason + QLatin1Char('.');
}

}  // namespace vostrel

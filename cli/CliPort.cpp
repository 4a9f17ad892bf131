#include "CliPort.h"

#include "CommLink.h"
#include "PortError.h"
#include "PortFinder.h"

#include <QString>
#include <QStringList>

#include <algorithm>
#include <cctype>
#include <cerrno>

namespace vostrel {

std::string NormalisedPortName(const std::string& name)
{
    if (name.size() < 4 || name.size() > 6)
        return name;
    std::string upper;
    for (char c : name)
        upper.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
    const bool digits = std::all_of(upper.begin() + 3, upper.end(), [](char c) { return c >= '0' && c <= '9'; });
    return upper.rfind("COM", 0) == 0 && digits && upper[3] != '0' ? upper : name;
}

TCliPort::~TCliPort()
{
    Close();
}

void TCliPort::Close()
{
    try {
        m_comm.ClosePort();
    } catch (...) {
        // The device is no longer ours either way.
    }
    m_lock.Release();
}

bool TCliPort::Open(const std::string& name, const std::string& lockDir)
{
    Close();
    m_name = NormalisedPortName(name);
    m_failure.clear();
    int error = 0;
    QString message;
    QString report;
    QStringList holders;
    try {
        m_path = DefaultDevicePath(m_name);
        const std::vector<TPresentPort> present = ListPresentPorts();
        // One fresh session per run: the name reaches what it reaches now.
        TPortBindings bindings;
        const std::vector<TPortChoice> choices = FindPortChoices(present, &bindings);
        const auto choice =
            std::find_if(choices.begin(), choices.end(), [&](const TPortChoice& c) { return c.Name == m_name; });
        if (choice != choices.end()) {
            if (!choice->Path.empty())
                m_path = choice->Path;
            report = (choice->Away ? AwayText(*choice)
                                   : QString::fromStdString(m_name) + QStringLiteral(": ") + PortToolTip(*choice)) +
                     QLatin1Char('\n') + PresentPortsText(present);
            if (choice->Away)
                throw ECommError("", 0);
        }
        if (IsSharedDevice(m_path)) {
            TPortLock lock = TPortLock::Acquire(lockDir, m_path);
            if (lock.Outcome() == TPortLock::TOutcome::Busy) {
                holders << (lock.Holder().empty()
                                ? QStringLiteral("файл блокировки ") + QString::fromStdString(lock.LockPath())
                                : QString::fromStdString(lock.Holder()));
                throw ECommError("Device is locked by another program", EBUSY);
            }
            m_lock = std::move(lock);
            for (const std::string& h : PortHolders(m_path))
                holders << QString::fromStdString(h);
        }
        if (!holders.isEmpty())
            throw ECommError("Device is held by another program", EBUSY);
        OpenStationLine(m_comm, m_path);
    } catch (const ECommError& e) {
        error = e.ErrorCode;
        message = QString::fromLocal8Bit(e.what());
    } catch (const std::exception& e) {
        message = QString::fromLocal8Bit(e.what());
    }
    if (m_comm.IsOpen())
        return true;
    m_lock.Release();

    QString text = QStringLiteral("Не удалось открыть порт ") + QString::fromStdString(m_name);
    QString reason;
    if (error > 0)
        reason = SystemErrorText(error);
    else if (!message.trimmed().isEmpty())
        reason = message.trimmed();
    if (!reason.isEmpty()) {
        text += QStringLiteral("\nПричина: ") + reason + QLatin1Char('.');
        const TPortErrorKind kind = error > 0 ? PortErrorKind(error) : TPortErrorKind::Other;
        if (kind == TPortErrorKind::NoRights) {
            text += QStringLiteral("\nНет прав на устройство: пользователь должен входить в группу, "
                                   "которой принадлежит устройство (обычно dialout), затем войти в систему заново.");
        } else if (kind == TPortErrorKind::Busy) {
            text += QStringLiteral("\nПорт занят: его держит другая программа");
            text += holders.isEmpty() ? QStringLiteral(".") : QStringLiteral(": ") + holders.join(", ") + '.';
        }
    }
    if (!report.isEmpty())
        text += QStringLiteral("\n\n") + report;
    m_failure = text.toStdString();
    return false;
}

}  // namespace vostrel

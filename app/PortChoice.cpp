// The choice of a port: what each entry of the list reaches, opening it, and
// telling the operator why a port did not open.
#include "Main.h"

#include "PortFinder.h"
#include "PortList.h"

#include <QMessageBox>
#include <QTimer>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <future>

#include <sys/stat.h>
#include <sys/sysmacros.h>

using namespace vostrel;

namespace {

QString TrimmedControl(const QString& s)
{
    // Blanks and control characters go at both ends.
    qsizetype b = 0, e = s.size();
    while (b < e && s[b].unicode() <= 0x20)
        ++b;
    while (e > b && s[e - 1].unicode() <= 0x20)
        --e;
    return s.mid(b, e - b);
}

// The n of "COMn", 0 for anything else.
int ComNumber(const QString& entry)
{
    if (!entry.startsWith(QStringLiteral("COM")))
        return 0;
    bool ok = false;
    const int n = entry.mid(3).toInt(&ok);
    return ok && n > 0 ? n : 0;
}

// Pseudo-terminals stand in for the line in tests and the demo, where the
// other end's process legitimately keeps the same device open.
bool IsPseudoTerminal(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISCHR(st.st_mode))
        return false;
    const unsigned major = ::major(st.st_rdev);
    return major >= 136 && major <= 143;
}

}  // namespace

struct TfmMain::TPortScan {
    std::vector<TPortChoice> Choices;
    std::vector<TPresentPort> Present;
};

// Listing the ports takes some milliseconds, so it runs aside while the
// window goes on handling its messages.
TfmMain::TPortScan TfmMain::ScanPorts()
{
    auto job = std::async(std::launch::async, [] {
        std::vector<TPresentPort> present = ListPresentPorts();
        std::vector<TPortChoice> choices = FindComPorts(present);
        return TPortScan{std::move(choices), std::move(present)};
    });
    while (job.wait_for(std::chrono::milliseconds(2)) != std::future_status::ready)
        ProcessMessages();
    return job.get();
}

void TfmMain::RefreshPortTips()
{
    ShowPortTips(ScanPorts().Choices);
}

void TfmMain::ShowPortTips(const std::vector<TPortChoice>& choices)
{
    for (int i = 0; i < cbPort->count(); ++i) {
        const int n = ComNumber(cbPort->itemText(i));
        if (n >= 1 && n <= static_cast<int>(choices.size()))
            cbPort->setItemData(i, PortToolTip(choices[static_cast<std::size_t>(n - 1)]), Qt::ToolTipRole);
    }
}

void TfmMain::cbPortChange()
{
    const QString name = TrimmedControl(cbPort->currentText());
    if (name.size() <= 2)
        return;
    m_lastOpenError = 0;
    m_lastOpenMessage.clear();
    m_portReport.clear();
    try {
        StopWaitingFlag = true;
        ++m_portGeneration;
        Sleep(30);
        ProcessMessages();
        ComPort.ClosePort();
        Sleep(30);
        ProcessMessages();

        std::string path = name.toStdString();
        if (m_options.DevicePath) {
            path = m_options.DevicePath(name);
        } else if (const int n = ComNumber(name); n > 0) {
            const TPortScan scan = ScanPorts();
            ShowPortTips(scan.Choices);
            const TPortChoice* choice =
                n <= static_cast<int>(scan.Choices.size()) ? &scan.Choices[static_cast<std::size_t>(n - 1)] : nullptr;
            // Nothing there: the administrator's name, which fails to open.
            path = choice != nullptr && !choice->Path.empty() ? choice->Path : "/dev/" + name.toStdString();
            m_portReport = name + QStringLiteral(": ") +
                           (choice != nullptr ? PortToolTip(*choice) : QStringLiteral("порт не найден")) +
                           QLatin1Char('\n') + PresentPortsText(scan.Present);
        }
        // The window may have been closed while the ports were being listed.
        if (m_closing)
            return;
        ComPort.SetDeviceName(path);
        // A program that keeps the port open without locking it would share
        // the station's bytes with us: refuse it as a busy port.
        if (!IsPseudoTerminal(path)) {
            for (const std::string& h : PortHolders(path))
                m_portHolders << QString::fromStdString(h);
        }
        if (!m_portHolders.isEmpty())
            throw ECommError("Device is held by another program", EBUSY);
        ComPort.OpenPort();
        for (int i = 0; i < 3; ++i) {
            Sleep(10);
            ProcessMessages();
        }
    } catch (const ECommError& e) {
        m_lastOpenError = e.ErrorCode;
        m_lastOpenMessage = QString::fromLocal8Bit(e.what());
    } catch (...) {
        // Any other failure counts as a port that did not open.
    }
    if (ComPort.IsOpen()) {
        StartTimer->start();
    } else {
        // A tick armed by an earlier change must not start a wait on a
        // closed port: none begins until a port opens.
        StartTimer->stop();
        ShowPortFailure(name);
    }
    m_portHolders.clear();
}

void TfmMain::ShowPortFailure(const QString& name)
{
    QMessageBox box(this);
    box.setObjectName(QStringLiteral("PortFailureBox"));
    box.setWindowTitle(QStringLiteral("Vostrel"));
    box.setText(QStringLiteral("Не удалось открыть порт ") + name);
    box.setStandardButtons(QMessageBox::Ok);

    QString reason;
    if (m_lastOpenError > 0)
        reason = QString::fromLocal8Bit(std::strerror(m_lastOpenError));
    else if (!m_lastOpenMessage.isEmpty())
        reason = m_lastOpenMessage.trimmed();
    QString info;
    if (!reason.isEmpty()) {
        info = QStringLiteral("Причина: ") + reason + QLatin1Char('.');
        if (m_lastOpenError == EACCES || m_lastOpenError == EPERM) {
            info += QStringLiteral("\nНет прав на устройство: пользователь должен входить в группу, "
                                   "которой принадлежит устройство (обычно dialout), затем войти в систему заново.");
        } else if (m_lastOpenError == EBUSY || m_lastOpenError == EAGAIN || m_lastOpenError == EWOULDBLOCK) {
            info += QStringLiteral("\nПорт занят: его держит другая программа");
            info +=
                m_portHolders.isEmpty() ? QStringLiteral(".") : QStringLiteral(": ") + m_portHolders.join(", ") + '.';
        }
    }
    if (!m_portReport.isEmpty())
        info += (info.isEmpty() ? QString() : QStringLiteral("\n\n")) + m_portReport;
    if (!info.isEmpty())
        box.setInformativeText(info);
    box.exec();
}

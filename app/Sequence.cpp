// The exchange with the station: the wait for its greeting, reading and
// showing its parameters, programming, and the goodbye when the window closes.
// Every wait lets the window handle its messages, so a port change or the
// closing of the window can run in the middle of these handlers.
#include "Main.h"

#include "Packets.h"
#include "ParamBlock.h"
#include "ParamFile.h"
#include "StationExchange.h"

#include "NumEdit.h"
#include "Panels.h"
#include "PortError.h"
#include "PortList.h"
#include "Selector.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QEventLoop>
#include <QMessageBox>
#include <QPushButton>
#include <QSocketNotifier>
#include <QStackedWidget>
#include <QTimer>

#include <algorithm>
#include <memory>
#include <utility>
#include <vector>

using namespace vostrel;

namespace {

const QString kReadCopyLost =
    QStringLiteral("Параметры станции показаны, программировать её можно, но прежние параметры не сохранены: "
                   "если новые окажутся неверными, вернуть их будет неоткуда. До программирования сохраните их "
                   "в файл в другом месте (Ctrl+S).");
const QString kSentCopyLost =
    QStringLiteral("Станция запрограммирована; не сохранена только копия отправленных параметров.");

}  // namespace

// The window as the exchange's host, for one handler's run: the exchange
// gives up once the window closes or the port has changed since the run
// began, since a newer run then owns the port.
class TfmMain::TExchangeHost : public IExchangeHost {
public:
    explicit TExchangeHost(TfmMain& window) : w(window), m_generation(window.m_portGeneration) {}

    void AppendLog(const std::string& line) override { w.AppendLog(line); }
    void ProcessMessages() override { w.ProcessMessages(); }
    std::uint32_t GetTickCount() override { return w.GetTickCount(); }
    void Sleep(std::uint32_t ms) override { w.Sleep(ms); }
    void WaitForInput() override { w.WaitForLineOrMessage(); }

    bool StopWaiting() override { return StopWaitingFlag || !w.ComPort.IsOpen(); }
    bool Abandoned() override { return w.m_closing || m_generation != w.m_portGeneration; }
    bool Connected() override { return ConnectedFlag; }
    void SetConnected(bool connected) override { ConnectedFlag = connected; }

    void Step(TExchangeStep step) override
    {
        switch (step) {
        case TExchangeStep::Waiting:
            StopWaitingFlag = false;
            break;
        case TExchangeStep::Greeted:
            w.cbPort->hide();
            w.CoverProgrButton(false);
            w.butProgr->setEnabled(false);
            break;
        case TExchangeStep::Closing:
            StopWaitingFlag = true;
            break;
        default:
            break;
        }
    }

    // The port's wake-up goes quiet with the last wait that needs it: an
    // unread byte must not keep waking the window after the wait.
    void InputWaitBegins() override { ++w.m_lineWaits; }
    void InputWaitOver() override
    {
        if (--w.m_lineWaits == 0 && w.m_lineWake)
            w.m_lineWake->setEnabled(false);
    }

    // Packets are never cut short or interleaved: a close that arrives while
    // one goes out waits until its last byte is written, also when the send
    // fails.
    void SendBegins() override { w.m_sending = true; }
    void SendEnded() override
    {
        w.m_sending = false;
        if (!w.m_closeDeferred)
            return;
        w.m_closeDeferred = false;
        QTimer::singleShot(0, &w, &QWidget::close);
    }

    // Beside the copy read: what the station holds from now on.
    void KeepSent(const TByteArray& block) override { SentCopy = w.KeepCopy("sent", block); }

    TCopySaved SentCopy;

private:
    TfmMain& w;
    unsigned m_generation;
};

// A serial error must never reach the toolkit's event dispatch: it ends the
// handler, and the window goes back to where a port can be picked.
template <class F>
void TfmMain::RunGuarded(F&& step)
{
    try {
        step();
    } catch (const ECommError& e) {
        SerialFailure(PortFailureText(cbPort->currentText().trimmed(), e.ErrorCode, QString::fromLocal8Bit(e.what())));
    } catch (const std::exception& e) {
        SerialFailure(QString::fromLocal8Bit(e.what()).trimmed());
    }
}

void TfmMain::SerialFailure(const QString& text)
{
    ConnectedFlag = false;
    StopWaitingFlag = false;
    StartTimer->stop();
    try {
        ClosePort();
    } catch (...) {
        // The port is being given up anyway.
    }
    if (m_closing)
        return;
    ++m_portGeneration;  // whatever still runs further down the stack gives up
    panZastavka->show();
    Screens->setCurrentWidget(pageDefault);
    ClearControls();
    butProgr->setText(kProgrCaption);
    butProgr->setEnabled(true);
    cbPort->show();
    CoverProgrButton(true);
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Vostrel"), text, QMessageBox::Ok, this);
    box.setObjectName(QStringLiteral("SerialFailureBox"));
    box.exec();
}

// ---- the wait for the station (one timer tick) ----

void TfmMain::StartTimerTimer()
{
    StartTimer->stop();
    // A wait on a closed port would never see a byte nor end.
    if (m_closing || !ComPort.IsOpen())
        return;
    RunGuarded([this] { WaitAndRead(); });
}

void TfmMain::WaitAndRead()
{
    TExchangeHost host(*this);
    TStationExchange exchange(ComPortIo, host);
    TByteArray block;
    const TStationExchange::TRead read = exchange.WaitAndRead(ComPort.DeviceName(), block);
    if (read == TStationExchange::TRead::Interrupted || read == TStationExchange::TRead::BadGreeting)
        return;
    if (read == TStationExchange::TRead::Damaged) {
        ReturnToWaiting();
        ShowDamagedAnswer();
        return;
    }
    if (read == TStationExchange::TRead::Missing) {
        // Nothing usable arrived: wait for the station again rather than
        // leave the operator with neither parameters nor a port list.
        ReturnToWaiting();
        return;
    }
    // What the editors hold once they show the block.
    const TParameterSet set = ShownSet(block, ReadParameters());

    // The station answered well after all: the box no longer holds.
    if (m_damagedBox)
        m_damagedBox->done(QMessageBox::Ok);
    // What the station held is kept before anything can be written to it.
    const TCopySaved copy = KeepCopy("read", block);
    ActiveControls();
    ShowParameters(set);

    panZastavka->hide();
    butProgr->setEnabled(true);
    if (!copy.Ok)
        ShowCopyFailure(copy, kReadCopyLost);
    ProcessMessages();
    if (host.Abandoned())
        return;
    ConnectedFlag = true;
    UpdateFileActions();
}

// Sleeps until a message for the window or the port's input or failure can
// have changed what the wait looks at; a nested handler that ends the wait
// (a port change, the close) is such a message. Where the port offers nothing
// to sleep on (Windows), the wait polls every 20 ms.
void TfmMain::WaitForLineOrMessage()
{
    const int fd = ComPort.InputWaitDescriptor();
    if (fd < 0) {
        Sleep(20);
        ProcessMessages();
        return;
    }
    if (m_lineWake == nullptr || m_lineWake->socket() != fd) {
        delete m_lineWake;
        m_lineWake = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    }
    m_lineWake->setEnabled(true);
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

// The instruction page, the clear look and the status button, with the timer
// armed for a new wait on the same port.
void TfmMain::ReturnToWaiting()
{
    butProgr->setEnabled(true);
    butProgr->setText(kProgrCaption);
    ClearControls();
    CoverProgrButton(true);
    if (!m_closing)
        StartTimer->start();
}

// Not exec(): the wait goes on under the box, so a station put into
// programming mode while the operator still reads it is not missed, and the
// box never holds up the close of the window.
void TfmMain::ShowDamagedAnswer()
{
    if (m_damagedBox) {
        m_damagedBox->raise();
        return;
    }
    auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Vostrel"), QString::fromUtf8(kDamagedAnswerText),
                                QMessageBox::Ok, this);
    box->setObjectName(QStringLiteral("DamagedAnswerBox"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    m_damagedBox = box;
    box->open();
}

// ---- programming ----

void TfmMain::butProgrClick()
{
    // Programs only what a station sent and the operator saw, once: not the
    // start-up values, and not again after a programming.
    if (m_closing || !ConnectedFlag)
        return;
    RunGuarded([this] { Program(); });
}

void TfmMain::Program()
{
    TExchangeHost host(*this);
    butProgr->setEnabled(false);
    UpdateFileActions();

    // The edits show what the parameters program: each frequency on the grid,
    // written back receive before transmit, so a simplex channel's transmit
    // edit follows its receive edit as it does when the operator types.
    const TParameterSet programmed = ProgrammedSet(ReadParameters());
    edZPCH1_RxFreq->SetValue(programmed.RxFreq[0]);
    edZPCH1_TxFreq->SetValue(programmed.TxFreq[0]);
    edZPCH2_RxFreq->SetValue(programmed.RxFreq[1]);
    edZPCH2_TxFreq->SetValue(programmed.TxFreq[1]);

    TStationExchange exchange(ComPortIo, host);
    TByteArray block;
    if (!exchange.Program([&] { return EncodeBlock(ReadParameters(), host); }, block))
        return;

    butProgr->setText(QStringLiteral("Ok"));
    ProcessMessages();

    panZastavka->show();
    Screens->setCurrentWidget(pageReklama);
    // An editor under the page would blink its cursor for nobody; the page
    // holds the operator's input anyway, and the editors are cleared after it.
    if (QWidget* focused = focusWidget())
        focused->clearFocus();
    ProcessMessages();
    if (!m_closing)
        PauseHoldingInput(m_options.ThankYouMs);
    Screens->setCurrentWidget(pageDefault);
    ProcessMessages();

    ReturnToWaiting();
    if (!host.SentCopy.Ok && !m_closing)
        ShowCopyFailure(host.SentCopy, kSentCopyLost);
}

// What the operator does during the thank-you page waits until it is over,
// as behind a window that sleeps; but the window is drawn and answers the
// system, which would otherwise grey it out as not responding. Input the
// platform delivers stays in its queue; input posted inside the program is
// held here and sent on afterwards, in order. A close waits likewise.
void TfmMain::PauseHoldingInput(std::uint32_t ms)
{
    class THeldInput : public QObject {
    public:
        THeldInput() { QCoreApplication::instance()->installEventFilter(this); }
        ~THeldInput() override
        {
            QCoreApplication::instance()->removeEventFilter(this);
            for (auto& [receiver, event] : m_held) {
                if (receiver)
                    QCoreApplication::postEvent(receiver, event.release());
            }
        }

    protected:
        bool eventFilter(QObject* receiver, QEvent* e) override
        {
            if (!e->isInputEvent() && e->type() != QEvent::Shortcut)
                return false;
            m_held.emplace_back(receiver, std::unique_ptr<QEvent>(e->clone()));
            return true;
        }

    private:
        std::vector<std::pair<QPointer<QObject>, std::unique_ptr<QEvent>>> m_held;
    };

    m_holdingInput = true;
    {
        const THeldInput held;
        const std::uint32_t start = GetTickCount();
        // Wakes the page at its end; until then only a message wakes it.
        QTimer end;
        end.setSingleShot(true);
        end.setTimerType(Qt::PreciseTimer);
        for (;;) {
            const std::uint32_t gone = GetTickCount() - start;
            if (gone >= ms)
                break;
            end.start(static_cast<int>(ms - gone));
            const std::uint32_t before = GetTickCount();
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents | QEventLoop::WaitForMoreEvents);
            // Input held in the platform's queue makes the wait return at
            // once: then the page looks again only every 20 ms, not in a spin.
            if (GetTickCount() == before)
                Sleep(std::min<std::uint32_t>(ms - std::min(ms, GetTickCount() - start), 20));
        }
    }
    m_holdingInput = false;
    if (m_closeDeferred) {
        m_closeDeferred = false;
        QTimer::singleShot(0, this, &QWidget::close);
    }
}

// ---- goodbye ----

void TfmMain::closeEvent(QCloseEvent* e)
{
    if (m_closing) {
        e->accept();
        return;
    }
    if (m_sending || m_holdingInput) {
        m_closeDeferred = true;
        e->ignore();
        return;
    }
    m_closing = true;
    StartTimer->stop();
    FormClose();
    e->accept();
}

void TfmMain::FormClose()
{
    TExchangeHost host(*this);
    try {
        TStationExchange(ComPortIo, host).Goodbye();
    } catch (const std::exception&) {
        // The window goes away regardless; the port is closed below.
    }
    try {
        ClosePort();
    } catch (...) {
    }
}

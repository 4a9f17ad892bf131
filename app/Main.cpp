// The window's wiring: its construction, the services the device link
// uses, the start-up when it is shown and the choice of a port.
#include "Main.h"

#include "NumEdit.h"
#include "Panels.h"
#include "PortList.h"
#include "Selector.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QSocketNotifier>
#include <QStackedWidget>
#include <QThread>
#include <QTimer>

#include <cerrno>
#include <cstring>

using namespace vostrel;

bool StopWaitingFlag = false;
bool ConnectedFlag = false;

namespace vostrel {

QStringList ComPortNames()
{
    QStringList names;
    for (const std::string& entry : PortListEntries())
        names << QString::fromStdString(entry);
    return names;
}

}  // namespace vostrel

TfmMain::TfmMain(TWindowOptions options, QWidget* parent) : QWidget(parent), m_options(std::move(options))
{
    ComPort.SetDeviceName("COM1");
    ComPort.SetBaudRate(br4800);
    ComPort.SetFlowControl(fcNone);
    ComPort.SetMonitorEvents(0);
    ComPort.SetOptions(0);
    ComPort.SetDispatcher([this](const std::function<void()>& fn) {
        if (QThread::currentThread() == thread())
            fn();
        else
            QMetaObject::invokeMethod(
                this, [&fn] { fn(); }, Qt::BlockingQueuedConnection);
    });

    StartTimer = new QTimer(this);
    StartTimer->setObjectName(QStringLiteral("StartTimer"));
    StartTimer->setInterval(m_options.StartTimerMs);
    StartTimer->setSingleShot(true);

    BuildWindow();
    BuildFileActions();
    ConnectHandlers();
}

TfmMain::~TfmMain()
{
    // No messages any more: an open still running aside is simply waited for.
    if (m_pendingOpen.valid())
        m_pendingOpen.wait();
    // Before ComPort, whose descriptor it watches, goes.
    delete m_lineWake;
    try {
        ClosePort();
    } catch (...) {
        // Nothing left to tell anyone about.
    }
}

void TfmMain::ConnectHandlers()
{
    connect(cbPort, &QComboBox::activated, this, &TfmMain::cbPortChange);
    connect(StartTimer, &QTimer::timeout, this, &TfmMain::StartTimerTimer);
    connect(butProgr, &QPushButton::clicked, this, &TfmMain::butProgrClick);

    // The right arrow of a toggle does what its left arrow does.
    connect(panStep, &TSelector::leftClicked, this, &TfmMain::spbStep_leftClick);
    connect(panStep, &TSelector::rightClicked, this, &TfmMain::spbStep_leftClick);
    connect(panZPCH1, &TSelector::leftClicked, this, &TfmMain::spbZPCH1_leftClick);
    connect(panZPCH1, &TSelector::rightClicked, this, &TfmMain::spbZPCH1_leftClick);
    connect(panZPCH2, &TSelector::leftClicked, this, &TfmMain::spbZPCH2_leftClick);
    connect(panZPCH2, &TSelector::rightClicked, this, &TfmMain::spbZPCH2_leftClick);
    connect(panZPCH1Power, &TSelector::leftClicked, this, &TfmMain::spbZPCH1Power_leftClick);
    connect(panZPCH1Power, &TSelector::rightClicked, this, &TfmMain::spbZPCH1Power_rightClick);
    connect(panZPCH2Power, &TSelector::leftClicked, this, &TfmMain::spbZPCH2Power_leftClick);
    connect(panZPCH2Power, &TSelector::rightClicked, this, &TfmMain::spbZPCH2Power_rightClick);
    connect(panBaudRate, &TSelector::leftClicked, this, &TfmMain::spbBaudRate_leftClick);
    connect(panBaudRate, &TSelector::rightClicked, this, &TfmMain::spbBaudRate_rightClick);
    connect(panFlowControl, &TSelector::leftClicked, this, &TfmMain::spbFlowControl_leftClick);
    connect(panFlowControl, &TSelector::rightClicked, this, &TfmMain::spbFlowControl_rightClick);
    connect(panEfirSkor, &TSelector::leftClicked, this, &TfmMain::spbEfirSkor_leftClick);
    connect(panEfirSkor, &TSelector::rightClicked, this, &TfmMain::spbEfirSkor_rightClick);
    connect(panKod, &TSelector::leftClicked, this, &TfmMain::spbKod_leftClick);
    connect(panKod, &TSelector::rightClicked, this, &TfmMain::spbKod_leftClick);

    connect(edZPCH1_RxFreq, &QLineEdit::textChanged, this, &TfmMain::edZPCH1_RxFreqChange);
    connect(edZPCH2_RxFreq, &QLineEdit::textChanged, this, &TfmMain::edZPCH2_RxFreqChange);
    connect(edRxPause, &QLineEdit::textChanged, this, &TfmMain::edRxPauseChange);
    connect(edKodPaketSize, &QLineEdit::textChanged, this, &TfmMain::edKodPaketSizeChange);
}

// ---- the host services the device link uses ----

void TfmMain::AppendLog(const std::string& line)
{
    Memo1->AppendLine(QString::fromStdString(line));
}

void TfmMain::AppendLog(const QString& line)
{
    Memo1->AppendLine(line);
}

void TfmMain::ProcessMessages()
{
    QCoreApplication::processEvents();
}

std::uint32_t TfmMain::GetTickCount()
{
    return m_options.TickCount();
}

void TfmMain::Sleep(std::uint32_t ms)
{
    m_options.Sleep(ms);
}

// ---- start-up and port selection ----

void TfmMain::showEvent(QShowEvent* e)
{
    QWidget::showEvent(e);
    if (m_showHandled)
        return;
    m_showHandled = true;
    if (const QScreen* s = screen()) {
        const QRect area = s->availableGeometry();
        move(area.center() - QPoint(width() / 2, height() / 2));
    }
    // Runs from the event loop once the window is up, so that the message
    // box of a port that fails to open has a window to sit on.
    QTimer::singleShot(0, this, &TfmMain::FormShow);
}

void TfmMain::FormShow()
{
    panZastavka->setVisible(true);
    Screens->setCurrentWidget(pageDefault);
    panZastavka->move(16, panZastavka->y());
    ProcessMessages();
    ClearControls();
    butWaiting->move(butWaiting->x(), butProgr->y());
    CoverProgrButton(true);
    ProcessMessages();
    ComPort.SetDeviceName("COM1");
    cbPort->clear();
    cbPort->addItems(m_options.PortNames());
    cbPort->setCurrentIndex(0);
    cbPortChange();
}

void TfmMain::CoverProgrButton(bool covered)
{
    // A covered button would still take the keyboard, its mnemonic and
    // accessibility actions: it goes away while the status button lies on it.
    butWaiting->setVisible(covered);
    butProgr->setVisible(!covered);
}

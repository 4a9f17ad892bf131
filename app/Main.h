// Unit Main: the one window of the utility, its start-up, its port
// selection and the parameter editors with their rules.
#pragma once

#include "NumEdit.h"
#include "Panels.h"
#include "Selector.h"

#include "LinkIo.h"
#include "ParamBlock.h"
#include "CommInt.h"
#include "CommLink.h"

#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <string>

// Link state shared by nested handlers (a port change or the closing of the
// window can run inside a wait for the station).
extern bool StopWaitingFlag;  // set by a port change and by closing; ends a wait
extern bool ConnectedFlag;    // parameters shown and not yet programmed

// The programming button's caption, blanks included.
inline const QString kProgrCaption = QStringLiteral("    Программирование   ");

// The caption of the byte-count label: a pause in ms as the number of 10-bit
// characters the station's terminal port carries in it at the COM speed code.
QString KolvoBytesCaption(double pauseMs, int baudCode);

// The hidden exchange log; it keeps its newest kExchangeLogLines lines.
constexpr int kExchangeLogLines = 5000;
class TExchangeLog : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit TExchangeLog(QWidget* parent = nullptr);
    void AppendLine(const QString& line);
    QStringList Lines() const;
};

class TfmMain : public QWidget, public vostrel::ILinkHost {
    Q_OBJECT
public:
    explicit TfmMain(QWidget* parent = nullptr);
    ~TfmMain() override;

    // vostrel::ILinkHost: the exchange log, pending messages and the clock.
    void AppendLog(const std::string& line) override;
    void AppendLog(const QString& line);
    void AppendLog(const char* line) { AppendLog(QString::fromUtf8(line)); }
    QStringList LogLines() const;
    void ProcessMessages() override;
    std::uint32_t GetTickCount() override;
    void Sleep(std::uint32_t ms) override;  // virtual: tests may shorten waits

    // Editors <-> parameter set. Showing follows the order the station's
    // block is shown in and applies the flow-control rule, the byte-count
    // label and the code-selector rule.
    void ShowParameters(const vostrel::TParameterSet& set);
    vostrel::TParameterSet ReadParameters() const;

    // The two looks of the editor area.
    void ClearControls();
    void ActiveControls();

    // True once FormShow has run to its end.
    bool Started() const { return m_started; }

    // Non-visual parts.
    TComm ComPort;
    vostrel::TCommBytePort ComPortIo{ComPort};  // ComPort for the device link
    QTimer* StartTimer;

    // Controls, named as in the window's layout.
    vostrel::TGradient* RzBackground1;
    vostrel::TPictureButton* butProgr;
    vostrel::TGroupArea* sGroupBox1;
    vostrel::TGroupArea* sGroupBox2;
    vostrel::TTitleTab* Panel15;
    QLabel* Label18;
    vostrel::TTitleTab* Panel18;
    QLabel* Label20;
    QComboBox* cbPort;
    TExchangeLog* Memo1;
    vostrel::TBevelPanel* panZastavka;
    QStackedWidget* Screens;
    QWidget* pageDefault;
    QWidget* pageReklama;
    vostrel::TLinkLabel* sWebLabel1;
    vostrel::TLinkLabel* sWebLabel2;
    QPushButton* butWaiting;

    vostrel::TSelector* panStep;
    vostrel::TSelector* panZPCH1;
    vostrel::TNumEdit* edZPCH1_RxFreq;
    vostrel::TNumEdit* edZPCH1_TxFreq;
    vostrel::TSelector* panZPCH1Power;
    vostrel::TSelector* panZPCH2;
    vostrel::TNumEdit* edZPCH2_RxFreq;
    vostrel::TNumEdit* edZPCH2_TxFreq;
    vostrel::TSelector* panZPCH2Power;
    vostrel::TSelector* panBaudRate;
    vostrel::TSelector* panFlowControl;
    vostrel::TNumEdit* edXoffAfter;
    vostrel::TNumEdit* edRxPause;
    QLabel* laKolvoBytes;
    vostrel::TSelector* panEfirSkor;
    vostrel::TSelector* panKod;
    vostrel::TNumEdit* edKodPaketSize;

public slots:
    virtual void FormShow();
    void cbPortChange();

    // Wait for the station (one timer tick), programming and goodbye.
    void StartTimerTimer();
    void butProgrClick();

    void spbStep_leftClick();
    void spbZPCH1_leftClick();
    void spbZPCH2_leftClick();
    void spbZPCH1Power_leftClick();
    void spbZPCH1Power_rightClick();
    void spbZPCH2Power_leftClick();
    void spbZPCH2Power_rightClick();
    void spbBaudRate_leftClick();
    void spbBaudRate_rightClick();
    void spbFlowControl_leftClick();
    void spbFlowControl_rightClick();
    void spbEfirSkor_leftClick();
    void spbEfirSkor_rightClick();
    void spbKod_leftClick();

    void edZPCH1_RxFreqChange();
    void edZPCH2_RxFreqChange();
    void edRxPauseChange();
    void edKodPaketSizeChange();

    // Enables the Xoff and pause edits and shows the byte-count label by the
    // flow-control code.
    void FlowControlRule();

protected:
    void showEvent(QShowEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    // The closing of the window: stop waiting, say goodbye, close the port.
    virtual void FormClose();
    // The entries the start-up puts in the port list; tests point them at
    // simulated stations.
    virtual QStringList PortNames() const;

    // How long the thank-you page blocks the window after programming.
    std::uint32_t ThankYouMs = 5000;

private:
    void BuildWindow();
    void BuildRadioGroup();
    void BuildModemGroup();
    void BuildCoverPages();
    void ConnectHandlers();
    void DuplexRule(vostrel::TSelector* toggle, vostrel::TNumEdit* rx, vostrel::TNumEdit* tx);
    void SimplexCopy(vostrel::TSelector* toggle, vostrel::TNumEdit* rx, vostrel::TNumEdit* tx);
    void ShowPortFailure(const QString& name);

    // The programming sequence (Sequence.cpp).
    void WaitAndRead();
    void Program();
    void ReturnToWaiting();
    void SendLinkPacket(const vostrel::TByteArray& packet, bool logBytes, bool doubleDle);
    template <class F>
    void RunGuarded(F&& step);
    void SerialFailure(const QString& text);
    // True when the running step must give up: the window is closing, or a
    // port change has happened since the step began.
    bool Abandoned(unsigned generation) const;

    bool m_showHandled = false;
    bool m_started = false;
    bool m_closing = false;
    bool m_sending = false;         // a packet is going out byte by byte
    bool m_closeDeferred = false;   // the window was closed during that send
    unsigned m_portGeneration = 0;  // counts port changes
    int m_lastOpenError = 0;
    QString m_lastOpenMessage;
};

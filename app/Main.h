// Unit Main: the one window of the utility. Its code is split by concern:
//   MainBuild.cpp    the controls and the two cover pages
//   MainEditors.cpp  the two looks, the parameter set and the editing rules
//   Sequence.cpp     the exchange with the station
//   Main.cpp         wiring, the services the link uses, start-up
//   PortChoice.cpp   what each port name reaches, opening it, the failure box
//   ParamFiles.cpp   the copies of each station's block, the parameter files
#pragma once

#include "ExchangeLog.h"
#include "WindowOptions.h"

#include "CommInt.h"
#include "CommLink.h"
#include "LinkIo.h"
#include "ParamBlock.h"
#include "PortFinder.h"
#include "PortLock.h"

#include <QPointer>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <future>
#include <string>
#include <vector>

class QAction;
class QComboBox;
class QLabel;
class QMenu;
class QMessageBox;
class QPushButton;
class QSocketNotifier;
class QStackedWidget;
class QTimer;

namespace vostrel {
class TBevelPanel;
class TGradient;
class TGroupArea;
class TLinkLabel;
class TNumEdit;
class TPictureButton;
class TPortList;
class TPortOpening;
class TSelector;
class TTitleTab;

// The caption of the byte-count label: a pause in ms as the number of 10-bit
// characters the station's terminal port carries in it at the COM speed code.
QString KolvoBytesCaption(double pauseMs, int baudCode);
}  // namespace vostrel

// Link state shared by nested handlers (a port change or the closing of the
// window can run inside a wait for the station).
extern bool StopWaitingFlag;  // set by a port change and by closing; ends a wait
extern bool ConnectedFlag;    // parameters shown and not yet programmed

class TfmMain : public QWidget {
    Q_OBJECT
public:
    explicit TfmMain(vostrel::TWindowOptions options = {}, QWidget* parent = nullptr);
    ~TfmMain() override;

    // What the exchange's host hands on: the exchange log, pending messages
    // and the clock.
    void AppendLog(const std::string& line);
    void ProcessMessages();
    std::uint32_t GetTickCount();
    void Sleep(std::uint32_t ms);

    // Editors <-> parameter set. Showing follows the order the station's
    // block is shown in and applies the flow-control rule, the byte-count
    // label and the code-selector rule.
    void ShowParameters(const vostrel::TParameterSet& set);
    vostrel::TParameterSet ReadParameters() const;

    // The two looks of the editor area.
    void ClearControls();
    void ActiveControls();

    // A close now would have to wait (a packet going out, the thank-you
    // page): a session's end is refused meanwhile.
    bool CloseMustWait() const { return m_sending || m_holdingInput; }

    // The serial port the window owns; only its device name changes.
    TComm ComPort;

protected:
    void showEvent(QShowEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void contextMenuEvent(QContextMenuEvent* e) override;

private slots:
    void FormShow();
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

    // The window's menu: parameter files and the copies.
    void SaveParamsToFile();
    void LoadParamsFromFile();
    void OpenCopiesFolder();

private:
    // Building (MainBuild.cpp).
    void BuildWindow();
    void BuildRadioGroup();
    void BuildModemGroup();
    void BuildCoverPages();

    // Editing rules (MainEditors.cpp).
    void FlowControlRule();
    void DuplexRule(vostrel::TSelector* toggle, vostrel::TNumEdit* rx, vostrel::TNumEdit* tx);
    void SimplexCopy(vostrel::TSelector* toggle, vostrel::TNumEdit* rx, vostrel::TNumEdit* tx);

    // Wiring and start-up (Main.cpp).
    void ConnectHandlers();
    void AppendLog(const QString& line);
    void AppendLog(const char* line) { AppendLog(QString::fromUtf8(line)); }
    // Only the status button or the programming button is there to act on.
    void CoverProgrButton(bool covered);

    // Port choice (PortChoice.cpp).
    template <class F>
    auto RunAside(F&& job);
    template <class R>
    void AwaitAside(const R& result);
    // Returns once an open still running aside has ended, handling the
    // window's messages meanwhile.
    void AwaitPendingOpen();
    // The port names resolved over the ports present now; present, when
    // given, receives those ports.
    std::vector<vostrel::TPortChoice> ResolvePorts(std::vector<vostrel::TPresentPort>* present);
    void RefreshPortTips();
    void RefreshPortEntries();
    void ShowPortTips(const std::vector<vostrel::TPortChoice>& choices);
    static const vostrel::TPortChoice* ChoiceFor(const std::vector<vostrel::TPortChoice>& choices,
                                                 const QString& entry);
    void ShowPortFailure(const vostrel::TPortOpening& opening);
    // Closes ComPort and gives up what marks it as ours.
    void ClosePort();

    // Copies and parameter files (ParamFiles.cpp).
    void BuildFileActions();
    // Only while a station's parameters are shown and not yet being programmed.
    bool ParametersShown() const;
    void UpdateFileActions();
    // The editors' values with the duplex toggles as they show.
    vostrel::TParameterSet ShownParameters() const;
    // Keeps a copy (kind "read" or "sent") of block as the editors stand
    // before it is shown or after it was encoded; a failure goes to the
    // exchange log and is returned for the operator.
    vostrel::TCopySaved KeepCopy(const std::string& kind, const vostrel::TByteArray& block);
    void ShowCopyFailure(const vostrel::TCopySaved& saved, const QString& info);
    QString ParamFileFolder(vostrel::TFileChoice what) const;
    void ShowFileBox(const QString& text, const QString& info = {});

    // The programming sequence (Sequence.cpp).
    void FormClose();
    void WaitAndRead();
    // One pass of the wait for the greeting: returns once the window has
    // handled its messages and something may have changed.
    void WaitForLineOrMessage();
    void Program();
    void ReturnToWaiting();
    // Sleeps ms while the window keeps painting; input waits until after.
    void PauseHoldingInput(std::uint32_t ms);
    void ShowDamagedAnswer();
    template <class F>
    void RunGuarded(F&& step);
    void SerialFailure(const QString& text);
    // The window as the station exchange's host for one handler's run.
    class TExchangeHost;
    class TWindowSteps;

    vostrel::TWindowOptions m_options;
    vostrel::TCommBytePort ComPortIo{ComPort};  // ComPort for the device link
    QTimer* StartTimer = nullptr;
    // Wakes the window's event loop while a wait for the greeting runs and
    // the port has input or has failed.
    QSocketNotifier* m_lineWake = nullptr;
    int m_lineWaits = 0;  // waits for the greeting on the stack

    // Controls, named as in the window's layout.
    vostrel::TGradient* RzBackground1 = nullptr;
    vostrel::TPictureButton* butProgr = nullptr;
    vostrel::TGroupArea* sGroupBox1 = nullptr;
    vostrel::TGroupArea* sGroupBox2 = nullptr;
    vostrel::TTitleTab* Panel15 = nullptr;
    QLabel* Label18 = nullptr;
    vostrel::TTitleTab* Panel18 = nullptr;
    QLabel* Label20 = nullptr;
    vostrel::TPortList* cbPort = nullptr;
    vostrel::TExchangeLog* Memo1 = nullptr;
    QMenu* mnuParams = nullptr;  // the window's context menu
    QAction* actSaveParams = nullptr;
    QAction* actLoadParams = nullptr;
    QAction* actOpenCopies = nullptr;
    QAction* actGuide = nullptr;  // F1
    vostrel::TBevelPanel* panZastavka = nullptr;
    QStackedWidget* Screens = nullptr;
    QWidget* pageDefault = nullptr;
    QWidget* pageReklama = nullptr;
    vostrel::TLinkLabel* sWebLabel1 = nullptr;
    vostrel::TLinkLabel* sWebLabel2 = nullptr;
    QPushButton* butWaiting = nullptr;

    vostrel::TSelector* panStep = nullptr;
    vostrel::TSelector* panZPCH1 = nullptr;
    vostrel::TNumEdit* edZPCH1_RxFreq = nullptr;
    vostrel::TNumEdit* edZPCH1_TxFreq = nullptr;
    vostrel::TSelector* panZPCH1Power = nullptr;
    vostrel::TSelector* panZPCH2 = nullptr;
    vostrel::TNumEdit* edZPCH2_RxFreq = nullptr;
    vostrel::TNumEdit* edZPCH2_TxFreq = nullptr;
    vostrel::TSelector* panZPCH2Power = nullptr;
    vostrel::TSelector* panBaudRate = nullptr;
    vostrel::TSelector* panFlowControl = nullptr;
    vostrel::TNumEdit* edXoffAfter = nullptr;
    vostrel::TNumEdit* edRxPause = nullptr;
    QLabel* laKolvoBytes = nullptr;
    vostrel::TSelector* panEfirSkor = nullptr;
    vostrel::TSelector* panKod = nullptr;
    vostrel::TNumEdit* edKodPaketSize = nullptr;

    bool m_showHandled = false;
    bool m_closing = false;
    bool m_sending = false;         // a packet is going out byte by byte
    bool m_closeDeferred = false;   // the window was closed during that send
    unsigned m_portGeneration = 0;  // counts port changes
    unsigned m_pickGeneration = 0;  // counts picks; only the newest may act
    vostrel::TPortLock m_portLock;  // marks ComPort's device as ours to other programs
    // The last open of ComPort, run aside; the window's thread leaves
    // ComPort alone until it has ended.
    std::shared_future<void> m_pendingOpen;
    bool m_holdingInput = false;        // the thank-you page holds the operator's input
    vostrel::TPortBindings m_bindings;  // the adapter each port name has reached in this session

    // The box of a damaged answer, while the operator has not closed it.
    QPointer<QMessageBox> m_damagedBox;
    // The box of a copy not kept, while the operator has not closed it.
    QPointer<QMessageBox> m_copyBox;
    // Where the operator last chose a parameter file.
    QString m_fileFolder;
};

// The bench window: a shift prepared (the parameter file, the ports, the
// read-back, the record), then run with a row per port, the totals and the
// exchange log of the row picked. The window never waits on a port: the shift
// runs on a worker (TShift) and the rows are redrawn a few times a second.
#pragma once

#include "OperatorGuide.h"
#include "ParamFile.h"
#include "PortRows.h"
#include "Shift.h"
#include "StandOptions.h"

#include <QDesktopServices>
#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QTableWidget;
class QThread;

namespace vostrel {

struct TStandSetup {
    TShiftSetup Shift;
    QString RecordsFolder;  // where the day's record goes when none is named
    // F1: where the operator's guide is looked for, and the browser it opens in.
    std::function<QStringList()> GuidePlaces = [] { return OperatorGuidePlaces(); };
    std::function<bool(const QUrl&)> OpenUrl = QDesktopServices::openUrl;
};

// The program's defaults: the copies and the records in the user's data folder.
TStandSetup DefaultStandSetup();

// The day's record in folder: "стенд-2026-12-08.csv".
QString DayRecordPath(const QString& folder);

class TStandWindow : public QWidget {
public:
    TStandWindow(const TStandOptions& options, const TStandSetup& setup, QWidget* parent = nullptr);
    ~TStandWindow() override;

    // «Старт»: false, said in the window, when the shift cannot begin.
    bool StartShift();
    // «Стоп»: the shift ends as Ctrl+C ends vostrel-cli's.
    void StopShift();
    bool ShiftRunning() const { return m_shift.Running(); }
    const std::vector<TPortRow>& Rows() const { return m_rows; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void Build();
    void ApplyOptions(const TStandOptions& options);
    void LoadFile(const QString& path);
    void RefreshPorts();
    // Adds name to the port list (checked as asked) unless it is there.
    void AddPort(const std::string& name, bool checked);
    // Asks, off the window's thread, which other programs hold the listed
    // ports' devices; the list names them when the answer comes.
    void LookForHolders();
    void ShowHolders(const std::vector<std::pair<QString, QString>>& found);
    std::vector<std::string> CheckedPorts() const;
    void ShowMessage(const QString& text, bool error);
    void SetPreparing(bool on);
    void OnEvent(std::size_t row, const TPortEvent& e);
    void OnFinished(const std::vector<TPortRun>& runs, bool kept);
    void Repaint();
    void PaintRow(int row);
    void ShowLogOf(int row);

    TStandSetup m_setup;
    TShift m_shift;
    std::optional<TParamFile> m_file;
    std::string m_filePath;
    std::vector<TPortRow> m_rows;
    bool m_verify = false;
    QTimer m_repaint;
    QElapsedTimer m_since;
    qint64 m_shiftMs = 0;  // the last shift's length, once it ended
    bool m_closeWhenDone = false;
    QThread* m_holderLookup = nullptr;
    bool m_lookAgain = false;  // the list changed while a lookup ran
    int m_logRow = -1;
    std::uint64_t m_logShown = 0;

    QLineEdit* edFile = nullptr;
    QPushButton* butOpenFile = nullptr;
    QPlainTextEdit* txtFile = nullptr;
    QLabel* lbRounding = nullptr;
    QListWidget* lstPorts = nullptr;
    QLineEdit* edAddPort = nullptr;
    QPushButton* butAddPort = nullptr;
    QPushButton* butRefreshPorts = nullptr;
    QCheckBox* chkVerify = nullptr;
    QLineEdit* edRecord = nullptr;
    QPushButton* butRecord = nullptr;
    QPushButton* butStart = nullptr;
    QPushButton* butStop = nullptr;
    QLabel* lbMessage = nullptr;
    QTableWidget* tblPorts = nullptr;
    QLabel* lbTotals = nullptr;
    QPlainTextEdit* txtLog = nullptr;
};

}  // namespace vostrel

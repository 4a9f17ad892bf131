// Building the bench window and preparing a shift: the file, the ports, the
// read-back and the record.
#include "StandWindow.h"

#include "BlockTexts.h"
#include "Copies.h"
#include "Look.h"
#include "ParamFileLoad.h"
#include "PortFinder.h"
#include "StationPort.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QDate>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSplitter>
#include <QTableWidget>
#include <QThread>
#include <QVBoxLayout>

#include <algorithm>
#include <memory>
#include <utility>

namespace vostrel {

namespace {

constexpr int kPortName = Qt::UserRole;
constexpr int kPortAdapter = Qt::UserRole + 1;
constexpr int kPortPath = Qt::UserRole + 2;  // the device, for its holders
constexpr int kPortHeld = Qt::UserRole + 3;  // who else holds it, "" when nobody

// "COM1 — /dev/ttyS0, description — занят: minicom (PID 41)".
void SetItemText(QListWidgetItem* item)
{
    const QString name = item->data(kPortName).toString();
    const QString adapter = item->data(kPortAdapter).toString();
    const QString held = item->data(kPortHeld).toString();
    QString text = adapter.isEmpty() || adapter == name ? name : name + QStringLiteral(" — ") + adapter;
    if (!held.isEmpty())
        text += QStringLiteral(" — занят: ") + held;
    item->setText(text);
    item->setForeground(held.isEmpty() ? QBrush() : QBrush(QColor(176, 0, 0)));
}

QString Q(const std::string& s)
{
    return QString::fromStdString(s);
}

}  // namespace

TStandSetup DefaultStandSetup()
{
    TStandSetup setup;
    const QString copies = CopiesFolder();
    setup.Shift.CopiesFolder = copies.toStdString();
    setup.RecordsFolder = QFileInfo(copies).path() + QStringLiteral("/records");
    return setup;
}

QString DayRecordPath(const QString& folder)
{
    return folder + QStringLiteral("/стенд-") + QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd")) +
           QStringLiteral(".csv");
}

TStandWindow::TStandWindow(const TStandOptions& options, const TStandSetup& setup, QWidget* parent)
    : QWidget(parent), m_setup(setup), m_shift(setup.Shift)
{
    setWindowTitle(QStringLiteral("Vostrel — стенд"));
    Build();
    AddOperatorGuideAction(this, setup.GuidePlaces, setup.OpenUrl);
    m_shift.OnEvent = [this](std::size_t row, const TPortEvent& e) { OnEvent(row, e); };
    m_shift.OnFinished = [this](const std::vector<TPortRun>& runs, bool kept) { OnFinished(runs, kept); };
    m_shift.OnRecordTrouble = [this](const std::string& text) { ShowMessage(Q(text), true); };
    m_repaint.setInterval(250);
    connect(&m_repaint, &QTimer::timeout, this, &TStandWindow::Repaint);
    m_repaint.start();
    RefreshPorts();
    ApplyOptions(options);
}

TStandWindow::~TStandWindow()
{
    if (m_holderLookup != nullptr) {
        m_holderLookup->wait();
        delete m_holderLookup;
    }
}

void TStandWindow::Build()
{
    // The main window's font and ground; sizes are logical pixels, so a
    // scaled desktop scales the whole window alike.
    ApplyWindowLook(*this);
    resize(1180, 820);
    auto* top = new QVBoxLayout(this);

    // The shift's preparation: the file on the left, the ports and the record on the right.
    auto* prepare = new QWidget(this);
    auto* prepareRow = new QHBoxLayout(prepare);
    prepareRow->setContentsMargins(0, 0, 0, 0);

    auto* fileBox = new QGroupBox(QStringLiteral("Файл параметров"), prepare);
    auto* fileLayout = new QVBoxLayout(fileBox);
    auto* fileLine = new QHBoxLayout;
    edFile = new QLineEdit(fileBox);
    edFile->setObjectName(QStringLiteral("edFile"));
    edFile->setReadOnly(true);
    edFile->setPlaceholderText(QStringLiteral("файл не выбран"));
    butOpenFile = new QPushButton(QStringLiteral("Открыть…"), fileBox);
    butOpenFile->setObjectName(QStringLiteral("butOpenFile"));
    fileLine->addWidget(edFile, 1);
    fileLine->addWidget(butOpenFile);
    fileLayout->addLayout(fileLine);
    txtFile = new QPlainTextEdit(fileBox);
    txtFile->setObjectName(QStringLiteral("txtFile"));
    txtFile->setReadOnly(true);
    txtFile->setFont(FixedFont(12));
    txtFile->setLineWrapMode(QPlainTextEdit::NoWrap);
    fileLayout->addWidget(txtFile, 1);
    lbRounding = new QLabel(fileBox);
    lbRounding->setObjectName(QStringLiteral("lbRounding"));
    lbRounding->setWordWrap(true);
    lbRounding->setStyleSheet(QStringLiteral("color: #8a5a00;"));
    fileLayout->addWidget(lbRounding);
    prepareRow->addWidget(fileBox, 3);

    auto* portBox = new QGroupBox(QStringLiteral("Порты и журнал"), prepare);
    auto* portLayout = new QGridLayout(portBox);
    lstPorts = new QListWidget(portBox);
    lstPorts->setObjectName(QStringLiteral("lstPorts"));
    portLayout->addWidget(lstPorts, 0, 0, 1, 3);
    edAddPort = new QLineEdit(portBox);
    edAddPort->setObjectName(QStringLiteral("edAddPort"));
    edAddPort->setPlaceholderText(QStringLiteral("другой порт: /dev/ttyUSB0"));
    butAddPort = new QPushButton(QStringLiteral("Добавить"), portBox);
    butAddPort->setObjectName(QStringLiteral("butAddPort"));
    butRefreshPorts = new QPushButton(QStringLiteral("Обновить список"), portBox);
    butRefreshPorts->setObjectName(QStringLiteral("butRefreshPorts"));
    portLayout->addWidget(edAddPort, 1, 0);
    portLayout->addWidget(butAddPort, 1, 1);
    portLayout->addWidget(butRefreshPorts, 1, 2);
    chkVerify = new QCheckBox(QStringLiteral("проверять каждую станцию"), portBox);
    chkVerify->setObjectName(QStringLiteral("chkVerify"));
    portLayout->addWidget(chkVerify, 2, 0, 1, 3);
    portLayout->addWidget(new QLabel(QStringLiteral("Журнал смены (CSV):"), portBox), 3, 0, 1, 3);
    edRecord = new QLineEdit(portBox);
    edRecord->setObjectName(QStringLiteral("edRecord"));
    butRecord = new QPushButton(QStringLiteral("Выбрать…"), portBox);
    butRecord->setObjectName(QStringLiteral("butRecord"));
    portLayout->addWidget(edRecord, 4, 0, 1, 2);
    portLayout->addWidget(butRecord, 4, 2);
    auto* buttons = new QHBoxLayout;
    butStart = new QPushButton(QStringLiteral("Старт"), portBox);
    butStart->setObjectName(QStringLiteral("butStart"));
    butStop = new QPushButton(QStringLiteral("Стоп"), portBox);
    butStop->setObjectName(QStringLiteral("butStop"));
    butStop->setEnabled(false);
    // As the main window's own big buttons.
    butStart->setFont(Arial(15, true));
    butStop->setFont(Arial(15, true));
    buttons->addWidget(butStart);
    buttons->addWidget(butStop);
    portLayout->addLayout(buttons, 5, 0, 1, 3);
    prepareRow->addWidget(portBox, 2);

    lbMessage = new QLabel(this);
    lbMessage->setObjectName(QStringLiteral("lbMessage"));
    lbMessage->setWordWrap(true);
    lbMessage->setTextInteractionFlags(Qt::TextSelectableByMouse);

    // The shift: a row per port, the totals, the log of the row picked.
    tblPorts = new QTableWidget(0, 9, this);
    tblPorts->setObjectName(QStringLiteral("tblPorts"));
    tblPorts->setHorizontalHeaderLabels({QStringLiteral("Порт"), QStringLiteral("Адаптер"), QStringLiteral("Состояние"),
                                         QStringLiteral("Запрогр."), QStringLiteral("Проверено"),
                                         QStringLiteral("Отклонено"), QStringLiteral("Сбои порта"),
                                         QStringLiteral("Последняя станция"), QStringLiteral("Время")});
    tblPorts->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tblPorts->setSelectionBehavior(QAbstractItemView::SelectRows);
    tblPorts->setSelectionMode(QAbstractItemView::SingleSelection);
    tblPorts->verticalHeader()->setVisible(false);
    tblPorts->horizontalHeader()->setStretchLastSection(false);
    tblPorts->horizontalHeader()->setSectionResizeMode(7, QHeaderView::Stretch);
    tblPorts->setColumnWidth(1, 200);
    tblPorts->setColumnWidth(2, 220);
    lbTotals = new QLabel(this);
    lbTotals->setObjectName(QStringLiteral("lbTotals"));
    txtLog = new QPlainTextEdit(this);
    txtLog->setObjectName(QStringLiteral("txtLog"));
    txtLog->setReadOnly(true);
    txtLog->setFont(FixedFont(12));
    txtLog->setMaximumBlockCount(static_cast<int>(kRowLogLines));

    auto* shift = new QWidget(this);
    auto* shiftLayout = new QVBoxLayout(shift);
    shiftLayout->setContentsMargins(0, 0, 0, 0);
    shiftLayout->addWidget(tblPorts, 1);
    shiftLayout->addWidget(lbTotals);

    auto* split = new QSplitter(Qt::Vertical, this);
    split->addWidget(prepare);
    split->addWidget(shift);
    split->addWidget(txtLog);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 3);
    split->setStretchFactor(2, 2);
    top->addWidget(lbMessage);
    top->addWidget(split, 1);

    connect(butOpenFile, &QPushButton::clicked, this, [this] {
        const QString path = QFileDialog::getOpenFileName(this, QStringLiteral("Файл параметров"), edFile->text(),
                                                          QStringLiteral("Файлы параметров (*.txt);;Все файлы (*)"));
        if (!path.isEmpty())
            LoadFile(path);
    });
    connect(butRecord, &QPushButton::clicked, this, [this] {
        const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Журнал смены"), edRecord->text(),
                                                          QStringLiteral("CSV (*.csv);;Все файлы (*)"), nullptr,
                                                          QFileDialog::DontConfirmOverwrite);
        if (!path.isEmpty())
            edRecord->setText(path);
    });
    connect(butAddPort, &QPushButton::clicked, this, [this] {
        const std::string name = edAddPort->text().trimmed().toStdString();
        if (!name.empty())
            AddPort(NormalisedPortName(name), true);
        edAddPort->clear();
    });
    connect(butRefreshPorts, &QPushButton::clicked, this, &TStandWindow::RefreshPorts);
    connect(butStart, &QPushButton::clicked, this, &TStandWindow::StartShift);
    connect(butStop, &QPushButton::clicked, this, &TStandWindow::StopShift);
    connect(tblPorts, &QTableWidget::currentCellChanged, this, [this](int row) { ShowLogOf(row); });
}

void TStandWindow::ApplyOptions(const TStandOptions& options)
{
    for (const std::string& port : options.Ports)
        AddPort(NormalisedPortName(port), true);
    chkVerify->setChecked(options.Verify);
    edRecord->setText(options.Log.empty() ? DayRecordPath(m_setup.RecordsFolder) : Q(options.Log));
    if (!options.File.empty())
        LoadFile(Q(options.File));
    // The command line's own mistake is said last: it is the first to mend.
    if (!options.Error.empty()) {
        ShowMessage(Q(options.Error), true);
        return;
    }
    if (options.Start) {
        if (!m_file || options.Ports.empty())
            ShowMessage(QStringLiteral("--start: смена начинается сразу, только когда заданы и файл (--file), и "
                                       "порты (--ports)."),
                        true);
        else
            QTimer::singleShot(0, this, [this] { StartShift(); });
    }
}

void TStandWindow::LoadFile(const QString& path)
{
    const std::string name = path.toStdString();
    edFile->setText(path);
    lbRounding->clear();
    TParamFile file;
    const TParamFileLoad load = LoadParamFileAt(name, file);
    TParamFileError limits;
    std::string refused;
    if (!load.Loaded())
        refused = name + ": " + load.Text;
    else if (!CheckEditorLimits(file.Set, limits))
        refused = name + ": " + DescribeParamFileError(limits);
    if (!refused.empty()) {
        m_file.reset();
        m_filePath.clear();
        txtFile->clear();
        ShowMessage(Q(refused), true);
        return;
    }
    m_file = file;
    m_filePath = name;
    txtFile->setPlainText(Q(ShowText(file)));
    QStringList notes;
    for (const std::string& s : SentOtherwise(file.Set))
        notes << Q(s);
    if (!notes.isEmpty())
        lbRounding->setText(QStringLiteral("Будет отправлено иначе, чем записано в файле:\n") +
                            notes.join(QLatin1Char('\n')));
    ShowMessage(QStringLiteral("Файл ") + path + QStringLiteral(" прочитан."), false);
}

void TStandWindow::RefreshPorts()
{
    TPortBindings bindings;
    const std::vector<TPortChoice> choices = FindPortChoices(ListPresentPorts(), &bindings);
    for (const std::string& entry : PortListEntries()) {
        const auto choice =
            std::find_if(choices.begin(), choices.end(), [&](const TPortChoice& c) { return c.Name == entry; });
        QString adapter = QStringLiteral("нет порта");
        QString tip;
        if (choice != choices.end()) {
            tip = PortToolTip(*choice);
            if (!choice->Path.empty())
                adapter = Q(choice->Path) +
                          (choice->Description.empty() ? QString() : QStringLiteral(", ") + Q(choice->Description));
        }
        QListWidgetItem* item = nullptr;
        for (int i = 0; i < lstPorts->count() && item == nullptr; ++i) {
            if (lstPorts->item(i)->data(kPortName).toString() == Q(entry))
                item = lstPorts->item(i);
        }
        if (item == nullptr) {
            item = new QListWidgetItem(lstPorts);
            item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
            item->setCheckState(Qt::Unchecked);
            item->setData(kPortName, Q(entry));
        }
        item->setData(kPortAdapter, adapter);
        item->setData(kPortPath, choice != choices.end() ? Q(choice->Path) : QString());
        item->setToolTip(tip);
        SetItemText(item);
    }
    LookForHolders();
}

void TStandWindow::LookForHolders()
{
    if (m_holderLookup != nullptr) {
        m_lookAgain = true;
        return;
    }
    std::vector<std::pair<QString, std::string>> devices;
    for (int i = 0; i < lstPorts->count(); ++i) {
        const QString path = lstPorts->item(i)->data(kPortPath).toString();
        if (!path.isEmpty())
            devices.emplace_back(lstPorts->item(i)->data(kPortName).toString(), path.toStdString());
    }
    // Walking every process's descriptors takes its time: never on the window's thread.
    auto found = std::make_shared<std::vector<std::pair<QString, QString>>>();
    m_holderLookup = QThread::create([devices, found] {
        for (const auto& [name, path] : devices) {
            QStringList holders;
            for (const std::string& h : PortHolders(path))
                holders << Q(h);
            found->emplace_back(name, holders.join(QStringLiteral(", ")));
        }
    });
    connect(m_holderLookup, &QThread::finished, this, [this, found] {
        m_holderLookup->wait();
        delete std::exchange(m_holderLookup, nullptr);
        ShowHolders(*found);
        if (std::exchange(m_lookAgain, false))
            LookForHolders();
    });
    m_holderLookup->start();
}

void TStandWindow::ShowHolders(const std::vector<std::pair<QString, QString>>& found)
{
    for (const auto& [name, held] : found) {
        for (int i = 0; i < lstPorts->count(); ++i) {
            QListWidgetItem* item = lstPorts->item(i);
            if (item->data(kPortName).toString() == name && item->data(kPortHeld).toString() != held) {
                item->setData(kPortHeld, held);
                SetItemText(item);
            }
        }
    }
}

void TStandWindow::AddPort(const std::string& name, bool checked)
{
    for (int i = 0; i < lstPorts->count(); ++i) {
        QListWidgetItem* item = lstPorts->item(i);
        if (item->data(kPortName).toString() == Q(name)) {
            if (checked)
                item->setCheckState(Qt::Checked);
            return;
        }
    }
    auto* item = new QListWidgetItem(Q(name), lstPorts);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
    item->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
    item->setData(kPortName, Q(name));
    item->setData(kPortAdapter, Q(name));
    item->setData(kPortPath, Q(name));
    item->setToolTip(QStringLiteral("Порт, названный путём: открывается как есть."));
    LookForHolders();
}

std::vector<std::string> TStandWindow::CheckedPorts() const
{
    std::vector<std::string> ports;
    for (int i = 0; i < lstPorts->count(); ++i) {
        if (lstPorts->item(i)->checkState() == Qt::Checked)
            ports.push_back(lstPorts->item(i)->data(kPortName).toString().toStdString());
    }
    return ports;
}

void TStandWindow::ShowMessage(const QString& text, bool error)
{
    lbMessage->setText(text);
    lbMessage->setStyleSheet(error ? QStringLiteral("color: #b00000; font-weight: bold;") : QString());
}

void TStandWindow::SetPreparing(bool on)
{
    for (QWidget* w : std::initializer_list<QWidget*>{butOpenFile, lstPorts, edAddPort, butAddPort, butRefreshPorts,
                                                      chkVerify, edRecord, butRecord, butStart})
        w->setEnabled(on);
    butStop->setEnabled(!on);
}

bool TStandWindow::StartShift()
{
    if (m_shift.Running())
        return false;
    if (!m_file) {
        ShowMessage(QStringLiteral("Сначала откройте файл параметров."), true);
        return false;
    }
    const std::vector<std::string> ports = CheckedPorts();
    if (ports.empty()) {
        ShowMessage(QStringLiteral("Отметьте хотя бы один порт."), true);
        return false;
    }
    const std::string twice = ports.size() > 1 ? OneDeviceTwice(ports) : std::string();
    if (!twice.empty()) {
        ShowMessage(Q(twice), true);
        return false;
    }
    const std::string record = edRecord->text().trimmed().toStdString();
    if (record.empty()) {
        ShowMessage(QStringLiteral("Укажите файл журнала смены."), true);
        return false;
    }
    m_verify = chkVerify->isChecked();
    const TRunPlan plan{ports, false, true, m_verify};
    std::string why;
    if (!m_shift.Start(plan, *m_file, record, why)) {
        ShowMessage(Q(why), true);
        return false;
    }
    m_rows.assign(ports.size(), TPortRow{});
    tblPorts->setRowCount(static_cast<int>(ports.size()));
    for (std::size_t k = 0; k < ports.size(); ++k) {
        m_rows[k].Port = ports[k];
        for (int i = 0; i < lstPorts->count(); ++i) {
            if (lstPorts->item(i)->data(kPortName).toString() == Q(ports[k]))
                m_rows[k].Adapter = lstPorts->item(i)->data(kPortAdapter).toString().toStdString();
        }
    }
    tblPorts->setColumnHidden(4, !m_verify);
    m_since.start();
    m_shiftMs = 0;
    SetPreparing(false);
    ShowMessage(QStringLiteral("Смена идёт: журнал ") + Q(record), false);
    tblPorts->setCurrentCell(0, 0);
    ShowLogOf(0);
    Repaint();
    return true;
}

void TStandWindow::StopShift()
{
    if (!m_shift.Running())
        return;
    m_shift.Stop();
    butStop->setEnabled(false);
    ShowMessage(QStringLiteral("Смена завершается: станции на связи получают пакет завершения …"), false);
}

void TStandWindow::closeEvent(QCloseEvent* event)
{
    if (!m_shift.Running()) {
        event->accept();
        return;
    }
    // The window closes once every port has ended; it stays responsive meanwhile.
    m_closeWhenDone = true;
    StopShift();
    event->ignore();
}

}  // namespace vostrel

// Nothing the operator had is lost: a copy of each block a station sent and
// of each block programmed into it, and the operator's own parameter files,
// saved from the editors and loaded into them, through the window's menu.
#include "Main.h"

#include "ParamFile.h"
#include "ParamFileLoad.h"

#include "OperatorGuide.h"
#include "Panels.h"
#include "PortList.h"
#include "Selector.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSaveFile>
#include <QStandardPaths>

using namespace vostrel;

namespace {

QString Native(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

}  // namespace

namespace vostrel {

QString ChooseParamFileDialog(QWidget* parent, TFileChoice what, const QString& folder)
{
    const bool save = what == TFileChoice::Save;
    QFileDialog dialog(parent, save ? QStringLiteral("Сохранить параметры в файл")
                                    : QStringLiteral("Загрузить параметры из файла"));
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dialog.setNameFilters({QStringLiteral("Файлы параметров (*.txt)"), QStringLiteral("Все файлы (*)")});
    dialog.setDefaultSuffix(QStringLiteral("txt"));
    dialog.setDirectory(folder);
    if (save)
        dialog.selectFile(QStringLiteral("параметры.txt"));
    // Russian even where the toolkit's own translation is not installed; a
    // system's native dialog speaks the system's language anyway.
    dialog.setLabelText(QFileDialog::LookIn, QStringLiteral("Папка:"));
    dialog.setLabelText(QFileDialog::FileName, QStringLiteral("Имя файла:"));
    dialog.setLabelText(QFileDialog::FileType, QStringLiteral("Тип файлов:"));
    dialog.setLabelText(QFileDialog::Accept, save ? QStringLiteral("Сохранить") : QStringLiteral("Открыть"));
    dialog.setLabelText(QFileDialog::Reject, QStringLiteral("Отмена"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}

}  // namespace vostrel

// ---- the menu ----

void TfmMain::BuildFileActions()
{
    const auto make = [this](const char* name, const QString& text, const QKeySequence& keys, void (TfmMain::*slot)()) {
        auto* a = new QAction(text, this);
        a->setObjectName(QString::fromLatin1(name));
        a->setShortcut(keys);
        // The shortcuts work without the menu, as long as the window is active.
        addAction(a);
        connect(a, &QAction::triggered, this, slot);
        return a;
    };
    actSaveParams = make("actSaveParams", QStringLiteral("Сохранить параметры в файл…"),
                         QKeySequence(Qt::CTRL | Qt::Key_S), &TfmMain::SaveParamsToFile);
    actLoadParams = make("actLoadParams", QStringLiteral("Загрузить параметры из файла…"),
                         QKeySequence(Qt::CTRL | Qt::Key_O), &TfmMain::LoadParamsFromFile);
    actOpenCopies =
        make("actOpenCopies", QStringLiteral("Открыть папку копий"), QKeySequence(), &TfmMain::OpenCopiesFolder);

    mnuParams = new QMenu(this);
    mnuParams->setObjectName(QStringLiteral("mnuParams"));
    mnuParams->addAction(actSaveParams);
    mnuParams->addAction(actLoadParams);
    mnuParams->addSeparator();
    mnuParams->addAction(actOpenCopies);
    actGuide = AddOperatorGuideAction(this, m_options.GuidePlaces, m_options.OpenUrl);
    mnuParams->addSeparator();
    mnuParams->addAction(actGuide);
    UpdateFileActions();
}

// The numeric edits keep their own menus: this one is for the rest of the
// window, the disabled editors under the cover included.
void TfmMain::contextMenuEvent(QContextMenuEvent* e)
{
    UpdateFileActions();
    mnuParams->popup(e->globalPos());
    e->accept();
}

bool TfmMain::ParametersShown() const
{
    // The programming button is disabled from the click until the editors
    // are cleared: a file loaded then would not be what is sent.
    return ConnectedFlag && !m_closing && butProgr->isEnabled();
}

void TfmMain::UpdateFileActions()
{
    // The editors hold nothing the operator has seen before a station is shown.
    const bool shown = ParametersShown();
    actSaveParams->setEnabled(shown);
    actLoadParams->setEnabled(shown);
}

TParameterSet TfmMain::ShownParameters() const
{
    TParameterSet set = ReadParameters();
    set.Simplex = {panZPCH1->Tag() == 1, panZPCH2->Tag() == 1};
    return set;
}

void TfmMain::ShowFileBox(const QString& text, const QString& info)
{
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Vostrel"), text, QMessageBox::Ok, this);
    box.setObjectName(QStringLiteral("ParamFileBox"));
    box.setInformativeText(info);
    box.exec();
}

QString TfmMain::ParamFileFolder(TFileChoice what) const
{
    if (!m_fileFolder.isEmpty() && QFileInfo(m_fileFolder).isDir())
        return m_fileFolder;
    // A copy is what an operator loads most: start among them.
    if (what == TFileChoice::Load && QFileInfo(m_options.CopiesDir).isDir())
        return m_options.CopiesDir;
    return QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
}

// ---- the copies ----

TCopySaved TfmMain::KeepCopy(const std::string& kind, const TByteArray& block)
{
    // The port as the list shows it, with the device it reached.
    const QString name = cbPort->currentText().trimmed();
    const QString device = QString::fromStdString(ComPort.DeviceName());
    const QString port = device.isEmpty() || device == name ? name : name + QStringLiteral(" (") + device + u')';
    const TCopySaved saved = SaveCopy(m_options.CopiesDir, CopyOfBlock(kind, port, block, ShownParameters()));
    if (!saved.Ok)
        AppendLog(saved.Reason);
    return saved;
}

// Not exec(): the exchange goes on under the box, which only keeps the
// operator from the editors and the programming button until it is read.
void TfmMain::ShowCopyFailure(const TCopySaved& saved, const QString& info)
{
    if (!m_copyBox) {
        auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Vostrel"), QString(), QMessageBox::Ok, this);
        box->setObjectName(QStringLiteral("CopyFailureBox"));
        box->setAttribute(Qt::WA_DeleteOnClose);
        m_copyBox = box;
    }
    m_copyBox->setText(saved.Reason);
    m_copyBox->setInformativeText(info);
    if (m_copyBox->isVisible())
        m_copyBox->raise();
    else
        m_copyBox->open();
}

void TfmMain::OpenCopiesFolder()
{
    const QString folder = m_options.CopiesDir;
    if (!QDir().mkpath(folder)) {
        ShowFileBox(QStringLiteral("Не удалось создать папку копий «%1».").arg(Native(folder)),
                    QStringLiteral("Проверьте, что на её месте не стоит файл и что диск доступен для записи."));
        return;
    }
    if (!m_options.OpenUrl(QUrl::fromLocalFile(folder)))
        ShowFileBox(QStringLiteral("Не удалось открыть папку копий «%1».").arg(Native(folder)),
                    QStringLiteral("Откройте её в файловом менеджере."));
}

// ---- the operator's files ----

void TfmMain::SaveParamsToFile()
{
    if (!ParametersShown())
        return;
    const QString path = m_options.ChooseParamFile(this, TFileChoice::Save, ParamFileFolder(TFileChoice::Save));
    if (path.isEmpty() || !ParametersShown())
        return;
    m_fileFolder = QFileInfo(path).absolutePath();

    TParamFile file;
    file.Set = ShownParameters();
    const QByteArray text = QByteArray::fromStdString(FormatParamFile(file));
    QSaveFile save(path);
    const bool ok = save.open(QIODevice::WriteOnly) && save.write(text) == text.size() && save.commit();
    if (!ok)
        ShowFileBox(QStringLiteral("Параметры не сохранены в файл «%1».").arg(Native(path)),
                    QStringLiteral("Причина: ") + save.errorString());
}

void TfmMain::LoadParamsFromFile()
{
    if (!ParametersShown())
        return;
    const QString path = m_options.ChooseParamFile(this, TFileChoice::Load, ParamFileFolder(TFileChoice::Load));
    if (path.isEmpty() || !ParametersShown())
        return;
    m_fileFolder = QFileInfo(path).absolutePath();

    TParamFile file;
    const TParamFileLoad load = LoadParamFileAt(path.toStdString(), file);
    if (!load.Loaded()) {
        ShowFileBox(QStringLiteral("Параметры не загружены из файла «%1».").arg(Native(path)),
                    QString::fromStdString(load.Text));
        return;
    }
    // Through the editors' own setters and rules; "Программирование" still
    // sends them, rounded to the grid as anything typed.
    ShowParameters(file.Set);
}

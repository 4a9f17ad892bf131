#include "OperatorGuide.h"

#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QWidget>

namespace vostrel {

namespace {

const QString kGuidePage = QStringLiteral("guide-ru.html");

// Not exec(): F1 may come while the window waits for a station, and a nested
// loop here would hold that wait up until the box is closed.
void ShowGuideBox(QWidget* window, const QString& text, const QString& info)
{
    auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Vostrel"), text, QMessageBox::Ok, window);
    box->setObjectName(QStringLiteral("GuideBox"));
    box->setInformativeText(info);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

}  // namespace

QStringList OperatorGuidePlaces(const QString& exeDir, const QString& buildTreeGuide, TGuideLayout layout)
{
    const QDir dir(exeDir);
    if (layout == TGuideLayout::Windows)
        return {QDir::cleanPath(dir.filePath(QStringLiteral("guide/") + kGuidePage))};
    QStringList places{QDir::cleanPath(dir.filePath(QStringLiteral("../share/doc/vostrel/guide/") + kGuidePage))};
    if (!buildTreeGuide.isEmpty())
        places << buildTreeGuide;
    return places;
}

QStringList OperatorGuidePlaces()
{
    const QString exeDir = QCoreApplication::applicationDirPath();
    QString built;
#ifdef VOSTREL_BUILD_GUIDE
    // Only a program run from its build tree: an installed one must neither
    // open nor name the builder's folders.
    if ((exeDir + QLatin1Char('/')).startsWith(QStringLiteral(VOSTREL_BUILD_ROOT)))
        built = QStringLiteral(VOSTREL_BUILD_GUIDE);
#endif
    return OperatorGuidePlaces(exeDir, built);
}

QString FindOperatorGuide(const QStringList& places)
{
    for (const QString& place : places) {
        if (QFileInfo(place).isFile())
            return place;
    }
    return {};
}

QAction* AddOperatorGuideAction(QWidget* window, std::function<QStringList()> places,
                                std::function<bool(const QUrl&)> openUrl)
{
    auto* action = new QAction(QStringLiteral("Руководство оператора"), window);
    action->setObjectName(QStringLiteral("actGuide"));
    action->setShortcut(QKeySequence(Qt::Key_F1));
    // Whatever control has the focus, as long as the window is active.
    action->setShortcutContext(Qt::WindowShortcut);
    window->addAction(action);
    QObject::connect(
        action, &QAction::triggered, window, [window, places = std::move(places), openUrl = std::move(openUrl)] {
            const QStringList looked = places();
            const QString guide = FindOperatorGuide(looked);
            if (guide.isEmpty()) {
                QStringList shown;
                for (const QString& place : looked)
                    shown << QDir::toNativeSeparators(place);
                ShowGuideBox(window, QStringLiteral("Руководство оператора не найдено: %1").arg(shown.value(0)),
                             shown.size() > 1 ? QStringLiteral("Искали также: %1").arg(shown.mid(1).join(", "))
                                              : QString());
            } else if (!openUrl(QUrl::fromLocalFile(guide))) {
                ShowGuideBox(window,
                             QStringLiteral("Не удалось открыть руководство оператора «%1».")
                                 .arg(QDir::toNativeSeparators(guide)),
                             QStringLiteral("Откройте этот файл в браузере."));
            }
        });
    return action;
}

}  // namespace vostrel

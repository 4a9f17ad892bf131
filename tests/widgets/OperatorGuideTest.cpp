// Where F1 finds the operator's guide, and what it does when there is none.
#include "OperatorGuide.h"
#include "WidgetTestSupport.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <QVBoxLayout>
#include <QWidget>

namespace vostrel {

namespace {

void Touch(const QString& path)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
}

}  // namespace

TEST(OperatorGuide, ThePageFoundFirst)
{
    const struct {
        const char* Name;
        TGuideLayout Layout;
        QStringList Present;  // under the temporary root; the program is in bin/ (Windows: root)
        QString Found;        // "" when none is
    } rows[] = {
        {"installed package",
         TGuideLayout::Posix,
         {"share/doc/vostrel/guide/guide-ru.html"},
         "share/doc/vostrel/guide/guide-ru.html"},
        {"installed before the build tree",
         TGuideLayout::Posix,
         {"share/doc/vostrel/guide/guide-ru.html", "build/docs/guide/guide-ru.html"},
         "share/doc/vostrel/guide/guide-ru.html"},
        {"a developer's build",
         TGuideLayout::Posix,
         {"build/docs/guide/guide-ru.html"},
         "build/docs/guide/guide-ru.html"},
        {"none", TGuideLayout::Posix, {"share/doc/vostrel/guide-ru.md.gz"}, ""},
        {"Windows folder",
         TGuideLayout::Windows,
         {"bin/guide/guide-ru.html", "build/docs/guide/guide-ru.html"},
         "bin/guide/guide-ru.html"},
        {"Windows, no build tree", TGuideLayout::Windows, {"build/docs/guide/guide-ru.html"}, ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.Name);
        QTemporaryDir root;
        for (const QString& p : row.Present)
            Touch(root.filePath(p));
        const QStringList places =
            OperatorGuidePlaces(root.filePath("bin"), root.filePath("build/docs/guide/guide-ru.html"), row.Layout);
        EXPECT_EQ(FindOperatorGuide(places), row.Found.isEmpty() ? QString() : root.filePath(row.Found));
    }
}

TEST(OperatorGuide, F1OpensTheGuideOrSaysWhereItWasLookedFor)
{
    QTemporaryDir root;
    const QString guide = root.filePath("guide/guide-ru.html");
    QStringList places{root.filePath("none.html"), guide};
    QList<QUrl> opened;
    bool opens = true;
    QWidget window;
    auto* edit = new QLineEdit(&window);
    (new QVBoxLayout(&window))->addWidget(edit);
    QAction* action = AddOperatorGuideAction(
        &window, [&] { return places; },
        [&](const QUrl& url) {
            opened << url;
            return opens;
        });
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    edit->setFocus();
    EXPECT_EQ(action->shortcut(), QKeySequence(Qt::Key_F1));

    TModalBoxCloser boxes;
    // No guide: said with the places looked in, nothing opened.
    QTest::keyClick(edit, Qt::Key_F1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !boxes.Texts.isEmpty(); }, 5000));
    EXPECT_EQ(boxes.Texts[0], "Руководство оператора не найдено: " + QDir::toNativeSeparators(places[0]));
    EXPECT_EQ(boxes.Infos[0], "Искали также: " + QDir::toNativeSeparators(guide));
    EXPECT_TRUE(opened.isEmpty());

    // Pressed in the edit, F1 reaches the window's action.
    Touch(guide);
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    QTest::keyClick(edit, Qt::Key_F1);
    EXPECT_EQ(opened, QList<QUrl>{QUrl::fromLocalFile(guide)});
    EXPECT_EQ(boxes.Texts.size(), 1);

    // The browser refused: said, naming the page.
    opens = false;
    action->trigger();
    ASSERT_TRUE(QTest::qWaitFor([&] { return boxes.Texts.size() == 2; }, 5000));
    EXPECT_EQ(boxes.Texts[1], "Не удалось открыть руководство оператора «" + QDir::toNativeSeparators(guide) + "».");

    // F1 returns while its box shows, so a wait for a station under it goes on.
    action->trigger();
    const auto* box = window.findChild<QMessageBox*>(QStringLiteral("GuideBox"));
    EXPECT_TRUE(box != nullptr && box->isVisible());
    ASSERT_TRUE(QTest::qWaitFor([&] { return boxes.Texts.size() == 3; }, 5000));
}

}  // namespace vostrel

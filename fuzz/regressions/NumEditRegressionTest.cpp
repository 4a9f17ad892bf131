// Inputs the fuzzers found in the numeric edit, kept as ordinary tests.
#include "NumEdit.h"
#include "NumFormat.h"

#include <QApplication>
#include <QLocale>
#include <QString>
#include <QWidget>

#include <gtest/gtest.h>

#include <ostream>

using namespace vostrel;

// Readable texts in failure messages.
void PrintTo(const QString& s, std::ostream* os)
{
    *os << '"' << s.toStdString() << '"';
}

// fuzz_numedit: a line break at the end passed the acceptance check, so a
// pasted line such as "150000\n" went into the edit as it was.
TEST(NumEditRegression, LineBreakIsNoTypedInput)
{
    struct Row {
        const char* name;
        const char* text;
    };
    const Row rows[] = {
        {"line break alone", "\n"},
        {"number and line break", "150000\n"},
        {"decimals and line break", "1,25\n"},
    };
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
    QWidget window;
    auto* edit = new TNumEdit(QStringLiteral("### ##0.0"), &window);
    edit->SetLimits(140000, 174000);
    edit->SetValue(145575);
    window.show();
    window.activateWindow();
    for (int i = 0; i < 100 && !window.isActiveWindow(); ++i) {
        QApplication::processEvents();
    }
    if (!window.isActiveWindow()) {
        GTEST_SKIP() << "the offscreen window could not be activated";
    }
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_FALSE(edit->IsAcceptableInput(QString::fromLatin1(row.text)));
    }

    // Pasted over the whole text of the focused edit, it is refused and the
    // plain number stays.
    edit->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(edit->hasFocus());
    ASSERT_EQ(edit->text(), QStringLiteral("145575"));
    edit->selectAll();
    edit->insert(QStringLiteral("150000\n"));
    EXPECT_EQ(edit->text(), QStringLiteral("145575"));
    QLocale::setDefault(QLocale::c());
}

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

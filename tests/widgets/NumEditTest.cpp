// The numeric edit: typing, paste, Escape, limits and display formats, and
// the decimal formatting underneath.
#include "NumEdit.h"
#include "NumFormat.h"
#include "WidgetTestSupport.h"

#include <QClipboard>
#include <QContextMenuEvent>
#include <QDropEvent>
#include <QInputMethodEvent>
#include <QMenu>
#include <QMimeData>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>

#include <string>
#include <utility>
#include <vector>

using namespace vostrel;

namespace {

// The window's own language and two that write a decimal point: numbers
// must read the same under each of them.
const QLocale kSystemLocales[] = {RussianLocale(), QLocale::c(), QLocale(QLocale::English, QLocale::UnitedStates)};

TEST(NumFormat, PatternsTheRussianWayUnderEveryLocale)
{
    struct Row {
        const char* name;
        long double value;
        const char* pattern;
        const char* text;
    };
    const Row rows[] = {
        {"frequency", 145575.0L, "### ##0.0", "145 575,0"},
        {"frequency with half", 150012.5L, "### ##0.0", "150 012,5"},
        {"short number drops the blank", 575.0L, "### ##0.0", "575,0"},
        {"surplus digits lead", 1234567.8L, "### ##0.0", "1234 567,8"},
        {"zero keeps the required digits", 0.0L, "### ##0.0", "0,0"},
        {"count", 55.0L, "#0", "55"},
        {"count rounds half away", 54.5L, "#0", "55"},
        {"pause", 432.5L, "##0.00", "432,50"},
        {"pause from the block", 0.76288L, "##0.00", "0,76"},
        {"negative", -12.25L, "##0.00", "-12,25"},
        {"half up", 1.5L, "0", "2"},
        {"half up, even below", 2.5L, "0", "3"},
        {"negative half away", -2.5L, "0", "-3"},
        {"rounding to zero loses the sign", -0.4L, "0", "0"},
        {"carry into a new digit", 999.96L, "### ##0.0", "1 000,0"},
        {"plain drops trailing zeros", 432.5L, "0.##", "432,5"},
    };
    for (const QLocale& l : kSystemLocales) {
        TLocaleScope scope(l);
        for (const Row& r : rows) {
            SCOPED_TRACE(l.name().toStdString() + " / " + r.name);
            EXPECT_EQ(FormatPattern(r.value, QString::fromUtf8(r.pattern)), QString::fromUtf8(r.text));
        }
        SCOPED_TRACE(l.name().toStdString());
        EXPECT_EQ(FormatPlain(145575.0L), "145575");
        EXPECT_EQ(FormatPlain(0.76288L), "0,76");
    }
}

TEST(NumFormat, ParsesWhatTheEditsShow)
{
    struct Row {
        const char* text;
        long double value;
        bool ok;
    };
    const Row rows[] = {
        {"145 575,0", 145575.0L, true},
        {"145\u00A0575,5", 145575.5L, true},
        {"145575.5", 145575.5L, true},
        {"", 0.0L, true},
        {"-", 0.0L, true},
        {",", 0.0L, true},
        {".", 0.0L, true},
        {"-12,25", -12.25L, true},
        {"-12.25", -12.25L, true},
        {"12a", 0.0L, false},
        {"1,2,3", 0.0L, false},
        {"1.2,3", 0.0L, false},
    };
    for (const QLocale& l : kSystemLocales) {
        TLocaleScope scope(l);
        for (const Row& r : rows) {
            SCOPED_TRACE(l.name().toStdString() + " / " + r.text);
            bool ok = !r.ok;
            EXPECT_EQ(ParseNumber(QString::fromUtf8(r.text), &ok), r.value);
            EXPECT_EQ(ok, r.ok);
        }
    }
}

// Two edits in a shown window, so that focus can move between them.
class NumEditTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        auto* layout = new QVBoxLayout(&host);
        freq = new TNumEdit(QStringLiteral("### ##0.0"));
        other = new TNumEdit(QStringLiteral("#0"));
        layout->addWidget(freq);
        layout->addWidget(other);
        host.show();
        host.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&host));
    }

    void Focus(QWidget* w)
    {
        w->setFocus(Qt::OtherFocusReason);
        ASSERT_TRUE(QTest::qWaitFor([w] { return w->hasFocus(); }, 2000));
    }

    // Focus in, empty the text, type, and focus out again.
    void TypeAndLeave(const QString& keys)
    {
        Focus(freq);
        freq->clear();
        QTest::keyClicks(freq, keys);
        Focus(other);
    }

    enum class TRoute { CtrlV, ShiftInsert, ContextMenu, SelectionClick, Drop };

    // Puts text into an edit (freq when none) the way the operator does by route.
    void Paste(TRoute route, const QString& text, TNumEdit* into = nullptr)
    {
        TNumEdit* const edit = into != nullptr ? into : freq;
        const QPoint middle = edit->rect().center();
        switch (route) {
        case TRoute::CtrlV:
            QApplication::clipboard()->setText(text);
            QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
            break;
        case TRoute::ShiftInsert:
            QApplication::clipboard()->setText(text);
            QTest::keyClick(edit, Qt::Key_Insert, Qt::ShiftModifier);
            break;
        case TRoute::ContextMenu: {
            QApplication::clipboard()->setText(text);
            QContextMenuEvent open(QContextMenuEvent::Mouse, middle, edit->mapToGlobal(middle));
            QApplication::sendEvent(edit, &open);
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            ASSERT_NE(menu, nullptr);
            // The entry whose text ends with the paste shortcut, in any language.
            const QString shortcut = QKeySequence(QKeySequence::Paste).toString(QKeySequence::NativeText);
            QAction* paste = nullptr;
            for (QAction* a : menu->actions()) {
                if (a->text().endsWith(QLatin1Char('\t') + shortcut))
                    paste = a;
            }
            ASSERT_NE(paste, nullptr);
            QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(paste).center());
            ASSERT_TRUE(QTest::qWaitFor([] { return QApplication::activePopupWidget() == nullptr; }, 2000));
            break;
        }
        case TRoute::SelectionClick:
            QApplication::clipboard()->setText(text, QClipboard::Selection);
            QTest::mouseClick(edit, Qt::MiddleButton, {}, middle);
            break;
        case TRoute::Drop: {
            QMimeData mime;
            mime.setText(text);
            const Qt::DropActions actions = Qt::CopyAction | Qt::MoveAction;
            QDragEnterEvent enter(middle, actions, &mime, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(edit, &enter);
            QDropEvent drop(QPointF(middle), actions, &mime, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(edit, &drop);
            break;
        }
        }
    }

    // Each row pasted by route over a selection in "160000".
    void PasteOverSelections(TRoute route)
    {
        struct Row {
            const char* name;
            int selStart;
            int selLength;
            const char* pasted;
            const char* text;
            int rejected;
        };
        const Row rows[] = {
            {"whole number", 0, 6, "150000", "150000", 0},
            {"one digit", 1, 1, "5", "150000", 0},
            {"a point becomes the comma", 0, 6, "150012.5", "150012,5", 0},
            {"letters refused", 0, 6, "15x", "160000", 1},
            {"a digit group's blank is dropped", 0, 6, "150 000", "150000", 0},
            {"blanks between digits refused", 0, 6, "1 5 0 000", "160000", 1},
            {"three decimals refused", 0, 6, "150000,125", "160000", 1},
            {"minus refused by the limits", 0, 6, "-150000", "160000", 1},
        };
        freq->SetLimits(140000, 174000);
        QSignalSpy rejected(freq, &QLineEdit::inputRejected);
        for (const Row& r : rows) {
            SCOPED_TRACE(r.name);
            Focus(other);
            freq->SetValue(160000);
            Focus(freq);
            freq->setSelection(r.selStart, r.selLength);
            rejected.clear();
            Paste(route, QString::fromUtf8(r.pasted));
            EXPECT_EQ(freq->text(), QString::fromUtf8(r.text));
            EXPECT_EQ(rejected.count(), r.rejected);
        }
    }

    TLocaleScope locale{RussianLocale()};
    QWidget host;
    TNumEdit* freq = nullptr;
    TNumEdit* other = nullptr;
};

TEST_F(NumEditTest, TypingKeepsANumber)
{
    struct Row {
        const char* name;
        bool limits;
        const char* keys;
        const char* text;
        int rejected;
    };
    const Row rows[] = {
        {"letters are dropped", false, "12a3", "123", 1},
        {"a point becomes the comma", false, "12.5", "12,5", 0},
        {"a comma stays a comma", false, "12,5", "12,5", 0},
        {"two decimals at most", false, "1.234", "1,23", 1},
        {"one separator", false, "1,2,", "1,2", 1},
        {"minus without limits", false, "-5", "-5", 0},
        {"minus only in front", false, "5-", "5", 1},
        {"no minus with positive limits", true, "-5", "5", 1},
        {"blanks are no digits", true, "145 575", "145575", 1},
    };
    QSignalSpy rejected(freq, &QLineEdit::inputRejected);
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        freq->SetLimits(0, 0);
        if (r.limits)
            freq->SetLimits(140000, 174000);
        Focus(freq);
        freq->clear();
        rejected.clear();
        QTest::keyClicks(freq, QString::fromUtf8(r.keys));
        EXPECT_EQ(freq->text(), QString::fromUtf8(r.text));
        EXPECT_EQ(rejected.count(), r.rejected);
    }
}

TEST_F(NumEditTest, BothSeparatorsTypeACommaUnderEveryLocale)
{
    for (const QLocale& l : kSystemLocales) {
        TLocaleScope scope(l);
        for (const char* keys : {"7,25", "7.25"}) {
            SCOPED_TRACE(l.name().toStdString() + " / " + keys);
            Focus(freq);
            freq->clear();
            QTest::keyClicks(freq, QString::fromLatin1(keys));
            EXPECT_EQ(freq->text(), "7,25");
            EXPECT_EQ(freq->Value(), 7.25L);
        }
    }
}

TEST_F(NumEditTest, PasteIsTakenWholeOrRefused)
{
    freq->SetLimits(140000, 174000);
    QSignalSpy rejected(freq, &QLineEdit::inputRejected);
    Focus(freq);
    freq->clear();
    QTest::keyClicks(freq, QStringLiteral("15"));

    QApplication::clipboard()->setText(QStringLiteral("0x10"));
    QTest::keyClick(freq, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(freq->text(), "15");
    EXPECT_EQ(rejected.count(), 1);

    QApplication::clipboard()->setText(QStringLiteral("0000.5"));
    QTest::keyClick(freq, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(freq->text(), "150000,5");
    EXPECT_EQ(rejected.count(), 1);
}

TEST_F(NumEditTest, EveryPasteReplacesTheSelection)
{
    const std::pair<const char*, TRoute> routes[] = {
        {"Ctrl+V", TRoute::CtrlV},
        {"Shift+Insert", TRoute::ShiftInsert},
        {"context menu", TRoute::ContextMenu},
        {"drop", TRoute::Drop},
    };
    for (const auto& [name, route] : routes) {
        SCOPED_TRACE(name);
        PasteOverSelections(route);
    }
    // Without the focus the edit shows its pattern, not a number to edit:
    // a drop there replaces the number or is refused whole.
    Focus(other);
    Paste(TRoute::Drop, QStringLiteral("150012.5"));
    EXPECT_EQ(freq->text(), "150 012,5");
    Paste(TRoute::Drop, QStringLiteral("15x"));
    EXPECT_EQ(freq->Value(), 150012.5L);
}

TEST_F(NumEditTest, SelectionPasteReplacesTheSelection)
{
    if (!QApplication::clipboard()->supportsSelection())
        GTEST_SKIP() << "this platform has no selection clipboard to paste with the middle button";
    PasteOverSelections(TRoute::SelectionClick);
}

// Digit groups as the edits show them go back in by every route, their
// separators dropped; a blank anywhere else is still refused.
TEST_F(NumEditTest, ShownDigitGroupsPasteBack)
{
    std::vector<std::pair<const char*, TRoute>> routes = {
        {"Ctrl+V", TRoute::CtrlV},
        {"Shift+Insert", TRoute::ShiftInsert},
        {"context menu", TRoute::ContextMenu},
        {"drop", TRoute::Drop},
    };
    if (QApplication::clipboard()->supportsSelection())
        routes.emplace_back("selection click", TRoute::SelectionClick);

    struct Row {
        const char* name;
        const char* pasted;
        const char* text;
        int rejected;
    };
    const Row rows[] = {
        {"blank", "150 000", "150000", 0},
        {"blank and decimal", "150 000,0", "150000,0", 0},
        {"no-break space", "150\u00A0000,5", "150000,5", 0},
        {"narrow no-break space and a point", "150\u202F000.5", "150000,5", 0},
        {"several groups", "1 500 000", "1500000", 0},
        {"negative", "-150 000,5", "-150000,5", 0},
        {"digits spaced apart", "1 5 0 000", "160000", 1},
        {"two blanks", "150  000", "160000", 1},
        {"group of four", "15 0000", "160000", 1},
        {"group of two at the end", "1500 00", "160000", 1},
        {"leading group too long", "1500 000 000", "160000", 1},
        {"mixed separators", "1 500\u00A0000", "160000", 1},
        {"leading blank", " 150 000", "160000", 1},
        {"trailing blank", "150 000 ", "160000", 1},
        {"line break", "150 000\n", "160000", 1},
        {"tab", "150\t000", "160000", 1},
        {"blank in the decimals", "150 000,2 5", "160000", 1},
        {"blank after the sign", "- 150 000", "160000", 1},
        {"blank before the sign", "1 -150 000", "160000", 1},
        {"three decimals", "150 000,125", "160000", 1},
        {"blank alone", " ", "160000", 1},
    };
    QSignalSpy rejected(freq, &QLineEdit::inputRejected);
    for (const auto& [routeName, route] : routes) {
        for (const Row& r : rows) {
            SCOPED_TRACE(std::string(routeName) + " / " + r.name);
            Focus(other);
            freq->SetValue(160000);
            Focus(freq);
            freq->selectAll();
            rejected.clear();
            Paste(route, QString::fromUtf8(r.pasted));
            EXPECT_EQ(freq->text(), QString::fromUtf8(r.text));
            EXPECT_EQ(rejected.count(), r.rejected);
        }
    }

    // Dropped on the shown pattern, the groups are read as one number.
    Focus(other);
    Paste(TRoute::Drop, QStringLiteral("150\u202F012,5"));
    EXPECT_EQ(freq->text(), "150 012,5");
    Paste(TRoute::Drop, QStringLiteral("150 01 2,5"));
    EXPECT_EQ(freq->text(), "150 012,5");

    // The cursor ends after what was pasted, not separators further on.
    Focus(freq);
    freq->setText(QStringLiteral("5"));
    freq->setCursorPosition(0);
    Paste(TRoute::CtrlV, QStringLiteral("150 000,"));
    EXPECT_EQ(freq->text(), "150000,5");
    EXPECT_EQ(freq->cursorPosition(), 7);

    // A blank typed between the digits groups nothing: refused as ever.
    for (const QChar blank : {QChar(u' '), QChar(0x00A0), QChar(0x202F)}) {
        SCOPED_TRACE(static_cast<int>(blank.unicode()));
        freq->setText(QStringLiteral("150000"));
        freq->setCursorPosition(3);
        rejected.clear();
        const Qt::Key key = blank == QLatin1Char(' ') ? Qt::Key_Space : Qt::Key_unknown;
        QTest::sendKeyEvent(QTest::Click, freq, key, QString(blank), Qt::NoModifier);
        EXPECT_EQ(freq->text(), "150000");
        EXPECT_EQ(rejected.count(), 1);
        // The same blank committed by an input method is typed too.
        QInputMethodEvent commit;
        commit.setCommitString(QString(blank));
        QApplication::sendEvent(freq, &commit);
        EXPECT_EQ(freq->text(), "150000");
        EXPECT_EQ(rejected.count(), 2);
    }
}

// The text each display format in use shows, pasted back, is the same value.
TEST_F(NumEditTest, DisplayTextPastesBackAsItsValue)
{
    struct Row {
        const char* format;
        long double value;
        const char* shown;
    };
    const Row rows[] = {
        {"### ##0.0", 150012.5L, "150 012,5"},
        {"### ##0.0", 1234567.8L, "1234 567,8"},
        {"### ##0.0", -150000.0L, "-150 000,0"},
        {"### ##0.0", 575.0L, "575,0"},
        {"#0", 55.0L, "55"},
        {"##0.00", 432.5L, "432,50"},
        {"##0.00", 0.76288L, "0,76"},
        {"0", 1234567.0L, "1234567"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(std::string(r.format) + " / " + r.shown);
        auto* edit = new TNumEdit(QString::fromUtf8(r.format), &host);
        host.layout()->addWidget(edit);
        edit->show();
        QSignalSpy rejected(edit, &QLineEdit::inputRejected);
        Focus(other);
        edit->SetValue(r.value);
        const QString shown = edit->text();
        ASSERT_EQ(shown, QString::fromUtf8(r.shown));
        edit->SetValue(1);
        Focus(edit);
        edit->selectAll();
        Paste(TRoute::CtrlV, shown, edit);
        Focus(other);
        EXPECT_EQ(edit->text(), shown);
        EXPECT_EQ(rejected.count(), 0);
        delete edit;
    }
}

TEST_F(NumEditTest, EscapeRestoresTheValue)
{
    freq->SetValue(145575);
    Focus(freq);
    EXPECT_EQ(freq->text(), "145575");
    QTest::keyClick(freq, Qt::Key_End);
    QTest::keyClick(freq, Qt::Key_Backspace);
    QTest::keyClicks(freq, QStringLiteral("9,5"));
    EXPECT_EQ(freq->text(), "145579,5");
    QTest::keyClick(freq, Qt::Key_Escape);
    EXPECT_EQ(freq->text(), "145575");
    Focus(other);
    EXPECT_EQ(freq->text(), "145 575,0");
}

TEST_F(NumEditTest, LimitsApplyOnFocusLoss)
{
    freq->SetLimits(140000, 174000);
    struct Row {
        const char* typed;
        long double value;
        const char* shown;
    };
    const Row rows[] = {
        {"180000", 174000, "174 000,0"},
        {"100000", 140000, "140 000,0"},
        {"", 140000, "140 000,0"},
        {"150012,5", 150012.5L, "150 012,5"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.typed);
        TypeAndLeave(QString::fromUtf8(r.typed));
        EXPECT_EQ(freq->Value(), r.value);
        EXPECT_EQ(freq->text(), QString::fromUtf8(r.shown));
    }
    // Set by the program outside the limits: shown at the nearer limit.
    freq->SetValue(200000);
    EXPECT_EQ(freq->text(), "174 000,0");
    freq->SetValue(-5);
    EXPECT_EQ(freq->Value(), 140000);
    // New limits pull the value in.
    freq->SetLimits(150000, 160000);
    EXPECT_EQ(freq->Value(), 150000);
}

TEST_F(NumEditTest, WithoutLimitsValuesStayAsTyped)
{
    TypeAndLeave(QStringLiteral("-7"));
    EXPECT_EQ(freq->Value(), -7);
    EXPECT_EQ(freq->text(), "-7,0");
}

TEST_F(NumEditTest, DisplayFormatOnlyWithoutFocus)
{
    // Showing the value is no refused input: no beep.
    QSignalSpy rejected(freq, &QLineEdit::inputRejected);
    for (const QLocale& l : kSystemLocales) {
        SCOPED_TRACE(l.name().toStdString());
        TLocaleScope scope(l);
        Focus(other);
        freq->SetValue(145575.5L);
        EXPECT_EQ(freq->text(), "145 575,5");
        Focus(freq);
        EXPECT_EQ(freq->text(), "145575,5");
        Focus(other);
        EXPECT_EQ(freq->text(), "145 575,5");
        EXPECT_EQ(freq->Value(), 145575.5L);
    }
    EXPECT_EQ(rejected.count(), 0);
}

}  // namespace

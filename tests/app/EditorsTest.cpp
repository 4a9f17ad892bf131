// The parameter editors of the window: arrow orders, the duplex, flow-control,
// byte-count and code-selector rules, the two looks and the parameter mapping.
#include "AppTestSupport.h"

#include <QTest>
#include <QToolButton>

using namespace vostrel;

namespace {

class EditorsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        w.show();
        w.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
        w.ActiveControls();
    }

    TSelector* Sel(const char* name) { return w.findChild<TSelector*>(QString::fromLatin1(name)); }
    QToolButton* Arrow(const QString& name) { return w.findChild<QToolButton*>(name); }
    void Click(const QString& arrow)
    {
        QToolButton* b = Arrow(arrow);
        ASSERT_NE(b, nullptr) << arrow.toStdString();
        QTest::mouseClick(b, Qt::LeftButton);
    }
    void Focus(QWidget* e)
    {
        e->setFocus(Qt::OtherFocusReason);
        ASSERT_TRUE(QTest::qWaitFor([e] { return e->hasFocus(); }, 2000));
    }

    // What an arrow may change: captions, arrows, values, enabled states and
    // the byte-count label, as text.
    QMap<QString, QString> Snapshot()
    {
        QMap<QString, QString> s;
        for (TSelector* p : w.findChildren<TSelector*>()) {
            s[p->objectName()] = p->Caption();
            s[p->objectName() + ".arrows"] =
                QStringLiteral("%1%2").arg(p->LeftButton()->isEnabled()).arg(p->RightButton()->isEnabled());
        }
        for (TNumEdit* e : w.findChildren<TNumEdit*>()) {
            s[e->objectName()] = QString::number(static_cast<double>(e->Value()), 'f', 2);
            s[e->objectName() + ".enabled"] = QString::number(e->isEnabled());
        }
        s["laKolvoBytes"] = Ctl<QLabel>(w, "laKolvoBytes")->text();
        s["laKolvoBytes.visible"] = QString::number(Ctl<QLabel>(w, "laKolvoBytes")->isVisibleTo(&w));
        return s;
    }

    void ExpectState(const QMap<QString, QString>& expected)
    {
        const QMap<QString, QString> actual = Snapshot();
        for (auto it = expected.begin(); it != expected.end(); ++it)
            EXPECT_EQ(actual.value(it.key()).toStdString(), it.value().toStdString()) << it.key().toStdString();
    }

    TfmMain w{NoPortOptions()};
};

TEST_F(EditorsTest, ArrowsStepInTheirOrderAndWrap)
{
    using Effects = QList<QMap<QString, QString>>;
    struct Row {
        const char* selector;
        const char* side;
        QStringList captions;  // from the initial value, one per click
        Effects then = {};     // what else each click changes; the rest stays
    };
    const QStringList duplex{"разнесённый приём", "симплекс", "разнесённый приём"};
    const auto duplexThen = [](const char* tx, const char* rx) {
        return Effects{{{tx, rx}, {QString::fromLatin1(tx) + ".enabled", "0"}},
                       {{QString::fromLatin1(tx) + ".enabled", "1"}}};
    };
    const QString bytes = QStringLiteral("laKolvoBytes");
    const QString shown = QStringLiteral("laKolvoBytes.visible");
    const QString xoff = QStringLiteral("edXoffAfter.enabled");
    const QString pause = QStringLiteral("edRxPause.enabled");
    const QList<Row> rows = {
        {"panStep", "left", {"25,0", "12,5", "25,0"}},
        {"panStep", "right", {"25,0", "12,5", "25,0"}},
        {"panZPCH1", "left", duplex, duplexThen("edZPCH1_TxFreq", "152000.00")},
        {"panZPCH1", "right", duplex, duplexThen("edZPCH1_TxFreq", "152000.00")},
        {"panZPCH2", "left", duplex, duplexThen("edZPCH2_TxFreq", "153000.00")},
        {"panZPCH2", "right", duplex, duplexThen("edZPCH2_TxFreq", "153000.00")},
        {"panZPCH1Power", "left", {"25", "10", "5", "25"}},
        {"panZPCH1Power", "right", {"25", "5", "10", "25"}},
        {"panZPCH2Power", "left", {"25", "10", "5", "25"}},
        {"panZPCH2Power", "right", {"25", "5", "10", "25"}},
        {"panBaudRate",
         "left",
         {"9600", "57600", "38400", "19200", "9600"},
         {{{bytes, "2491 байт"}}, {{bytes, "1661 байт"}}, {{bytes, "830 байт"}}, {{bytes, "415 байт"}}}},
        {"panBaudRate",
         "right",
         {"9600", "19200", "38400", "57600", "9600"},
         {{{bytes, "830 байт"}}, {{bytes, "1661 байт"}}, {{bytes, "2491 байт"}}, {{bytes, "415 байт"}}}},
        {"panFlowControl",
         "left",
         {"none", "RTS/CTS", "Xon/Xoff", "none"},
         {{{xoff, "0"}, {pause, "0"}, {shown, "0"}}, {{xoff, "1"}, {pause, "1"}, {shown, "1"}}, {{xoff, "0"}}}},
        {"panFlowControl",
         "right",
         {"none", "Xon/Xoff", "RTS/CTS", "none"},
         {{{xoff, "1"}}, {{xoff, "0"}, {pause, "0"}, {shown, "0"}}, {{pause, "1"}, {shown, "1"}}}},
        {"panEfirSkor", "left", {"2400", "4800", "1200", "2400"}},
        {"panEfirSkor", "right", {"2400", "1200", "4800", "2400"}},
        {"panKod", "left", {"РМК31", "РМК7", "РМК31"}},
        {"panKod", "right", {"РМК31", "РМК7", "РМК31"}},
    };
    // The codes of the parameter block behind each caption.
    const QMap<QString, int> codes{
        {"25,0", 0},     {"12,5", 1},    {"разнесённый приём", 0},
        {"симплекс", 1}, {"25", 1},      {"10", 2},
        {"5", 3},        {"9600", 0},    {"19200", 1},
        {"38400", 2},    {"57600", 3},   {"none", 0},
        {"Xon/Xoff", 1}, {"RTS/CTS", 2}, {"2400", 0},
        {"1200", 1},     {"4800", 2},    {"РМК31", 0},
        {"РМК7", 1},
    };
    // Every row starts from the first caption of every list, both channels
    // separate, the pause at 432.5 ms and coded packets.
    TParameterSet start{
        .StepCode = 0,
        .RxFreq = {152000.0L, 153000.0L},
        .TxFreq = {160000.0L, 161000.0L},
        .Simplex = {false, false},
        .PowerCode = {1, 1},
        .BaudCode = 0,
        .FlowCode = 0,
        .XoffAfter = 55,
        .RxPause = 432.5L,
        .AirSpeedCode = 0,
        .KodCode = 0,
        .KodPaketSize = 55,
    };
    for (const Row& r : rows) {
        const QString name = QString::fromLatin1(r.selector);
        const QString arrow = QStringLiteral("spb") + name.mid(3) + QLatin1Char('_') + QString::fromLatin1(r.side);
        SCOPED_TRACE(arrow.toStdString());
        TSelector* s = w.findChild<TSelector*>(name);
        ASSERT_NE(s, nullptr);
        w.ShowParameters(start);
        QMap<QString, QString> expected = Snapshot();
        ASSERT_EQ(s->Caption(), r.captions.first());
        ASSERT_EQ(expected.value(bytes), "415 байт");
        for (int i = 1; i < r.captions.size(); ++i) {
            SCOPED_TRACE(i);
            Click(arrow);
            expected[name] = r.captions[i];
            if (i - 1 < r.then.size())
                expected.insert(r.then[i - 1]);
            ExpectState(expected);
            EXPECT_EQ(s->Tag(), codes.value(r.captions[i]));
        }
    }
}

TEST_F(EditorsTest, DuplexToggleCopiesAndSimplexFollowsTyping)
{
    struct Channel {
        const char* toggle;
        TNumEdit* rx;
        TNumEdit* tx;
    };
    for (const Channel& c :
         {Channel{"ZPCH1", Ctl<TNumEdit>(w, "edZPCH1_RxFreq"), Ctl<TNumEdit>(w, "edZPCH1_TxFreq")},
          Channel{"ZPCH2", Ctl<TNumEdit>(w, "edZPCH2_RxFreq"), Ctl<TNumEdit>(w, "edZPCH2_TxFreq")}}) {
        SCOPED_TRACE(c.toggle);
        const QString left = QStringLiteral("spb%1_left").arg(QString::fromLatin1(c.toggle));
        TSelector* toggle = Sel(QStringLiteral("pan%1").arg(QString::fromLatin1(c.toggle)).toLatin1().constData());
        w.ClearControls();
        w.ActiveControls();
        c.rx->SetValue(152000);
        c.tx->SetValue(160000);
        toggle->SetTag(0);

        // Separate receive frequency: typing in the receive edit leaves the other alone.
        c.rx->SetValue(153000);
        EXPECT_EQ(c.tx->Value(), 160000);

        Click(left);
        EXPECT_EQ(toggle->Caption(), "симплекс");
        EXPECT_FALSE(c.tx->isEnabled());
        EXPECT_EQ(c.tx->Value(), 153000);

        Focus(c.rx);
        c.rx->selectAll();
        QTest::keyClick(c.rx, Qt::Key_Delete);
        EXPECT_EQ(c.tx->Value(), 140000);
        const QString digits = QStringLiteral("150000");
        for (int i = 0; i < digits.size(); ++i) {
            SCOPED_TRACE(i);
            QTest::keyClick(c.rx, digits[i].toLatin1());
            EXPECT_EQ(c.tx->Value(), i < 5 ? 140000 : 150000);
        }
        EXPECT_EQ(c.tx->text(), "150 000,0");
        Focus(Ctl<TNumEdit>(w, "edXoffAfter")->isEnabled() ? static_cast<QWidget*>(Ctl<TNumEdit>(w, "edXoffAfter"))
                                                           : Ctl<TNumEdit>(w, "edKodPaketSize"));

        Click(left);
        EXPECT_EQ(toggle->Caption(), "разнесённый приём");
        EXPECT_TRUE(c.tx->isEnabled());
        EXPECT_EQ(c.tx->Value(), 150000);
        c.rx->SetValue(151000);
        EXPECT_EQ(c.tx->Value(), 150000);
    }
}

TEST(ByteCount, CaptionFromPauseAndSpeed)
{
    struct Row {
        double pause;
        int baud;
        const char* caption;
    };
    const Row rows[] = {
        {432.5, 0, "415 байт"}, {432.5, 1, "830 байт"}, {432.5, 2, "1661 байт"}, {432.5, 3, "2491 байт"},
        {10, 0, "10 байт"},     {10, 1, "19 байт"},     {10, 2, "38 байт"},      {10, 3, "58 байт"},
        {0, 2, "0 байт"},       {1.5625, 0, "2 байт"},  // exactly 1.5 characters: the half goes up
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << r.pause << " ms at code " << r.baud);
        EXPECT_EQ(KolvoBytesCaption(r.pause, r.baud), QString::fromUtf8(r.caption));
    }
}

TEST_F(EditorsTest, ByteCountLabelFollowsPauseAndSpeed)
{
    Ctl<TSelector>(w, "panBaudRate")->SetTag(3);
    Ctl<TNumEdit>(w, "edRxPause")->SetValue(432.5L);
    const char* at432[] = {"415 байт", "830 байт", "1661 байт", "2491 байт"};
    for (int code = 0; code < 4; ++code) {
        SCOPED_TRACE(code);
        Click(QStringLiteral("spbBaudRate_right"));
        EXPECT_EQ(Ctl<QLabel>(w, "laKolvoBytes")->text(), QString::fromUtf8(at432[code]));
    }
    // The pause edit's change updates it too, and so does a speed change
    // while the label is hidden.
    Ctl<TNumEdit>(w, "edRxPause")->SetValue(10);
    EXPECT_EQ(Ctl<QLabel>(w, "laKolvoBytes")->text(), "58 байт");
    Ctl<TSelector>(w, "panFlowControl")->SetTag(1);
    Click(QStringLiteral("spbFlowControl_right"));
    ASSERT_FALSE(Ctl<QLabel>(w, "laKolvoBytes")->isVisible());
    Click(QStringLiteral("spbBaudRate_right"));
    EXPECT_EQ(Ctl<QLabel>(w, "laKolvoBytes")->text(), "10 байт");
    Ctl<TNumEdit>(w, "edRxPause")->SetValue(0);
    EXPECT_EQ(Ctl<QLabel>(w, "laKolvoBytes")->text(), "0 байт");
}

TEST_F(EditorsTest, CodeSelectorFollowsPacketSize)
{
    struct Row {
        long double size;
        bool coded;
    };
    const Row rows[] = {{0, false}, {55, true}, {-3, true}, {0, false}, {255, true}};
    for (const Row& r : rows) {
        SCOPED_TRACE(static_cast<double>(r.size));
        Ctl<TNumEdit>(w, "edKodPaketSize")->SetValue(r.size);
        EXPECT_EQ(Ctl<TSelector>(w, "panKod")->CaptionColor(), Bgr(r.coded ? kValueColour : kWhite));
        EXPECT_EQ(Ctl<TSelector>(w, "panKod")->LeftButton()->isEnabled(), r.coded);
        EXPECT_EQ(Ctl<TSelector>(w, "panKod")->RightButton()->isEnabled(), r.coded);
    }
    // Typing counts as a change as well.
    Focus(Ctl<TNumEdit>(w, "edKodPaketSize"));
    Ctl<TNumEdit>(w, "edKodPaketSize")->clear();
    QTest::keyClicks(Ctl<TNumEdit>(w, "edKodPaketSize"), QStringLiteral("12"));
    EXPECT_TRUE(Ctl<TSelector>(w, "panKod")->LeftButton()->isEnabled());
    // A shown set with size 0 greys the code out even if the edit held 0.
    Ctl<TNumEdit>(w, "edKodPaketSize")->SetValue(0);
    w.ActiveControls();
    ASSERT_EQ(Ctl<TSelector>(w, "panKod")->CaptionColor(), Bgr(kValueColour));
    TParameterSet set{
        .KodPaketSize = 0,
    };
    w.ShowParameters(set);
    EXPECT_EQ(Ctl<TSelector>(w, "panKod")->CaptionColor(), Bgr(kWhite));
    EXPECT_FALSE(Ctl<TSelector>(w, "panKod")->LeftButton()->isEnabled());
    EXPECT_EQ(Ctl<TSelector>(w, "panKod")->Caption(), "РМК31");
}

TEST_F(EditorsTest, ClearLookHidesAndLocks)
{
    Click("spbFlowControl_left");  // "none" -> "RTS/CTS"
    Click("spbZPCH1_left");
    ASSERT_FALSE(Ctl<TNumEdit>(w, "edZPCH1_TxFreq")->isEnabled());
    Ctl<TNumEdit>(w, "edZPCH2_RxFreq")->SetLimits(0, 0);
    Ctl<TNumEdit>(w, "edZPCH2_RxFreq")->SetValue(100000);

    w.ClearControls();
    const QColor white = Bgr(kWhite);
    for (TSelector* s : w.findChildren<TSelector*>()) {
        SCOPED_TRACE(s->objectName().toStdString());
        EXPECT_EQ(s->CaptionColor(), white);
    }
    for (TNumEdit* e : w.findChildren<TNumEdit*>()) {
        SCOPED_TRACE(e->objectName().toStdString());
        EXPECT_EQ(e->TextColor(), white);
        EXPECT_TRUE(e->isEnabledTo(e->parentWidget())) << "enabled itself, locked by its group";
        EXPECT_FALSE(e->isEnabled());
    }
    EXPECT_FALSE(Ctl<QLabel>(w, "laKolvoBytes")->isVisibleTo(&w));
    EXPECT_FALSE(Ctl<TGroupArea>(w, "sGroupBox1")->isEnabled());
    EXPECT_FALSE(Ctl<TGroupArea>(w, "sGroupBox2")->isEnabled());
    EXPECT_EQ(Ctl<TNumEdit>(w, "edZPCH2_RxFreq")->Value(), 140000) << "new limits pull the value in";
    EXPECT_EQ(Ctl<TNumEdit>(w, "edZPCH1_RxFreq")->MinValue(), 140000);
    EXPECT_EQ(Ctl<TNumEdit>(w, "edZPCH2_TxFreq")->MaxValue(), 174000);

    // Nothing reacts now.
    const int baud = Ctl<TSelector>(w, "panBaudRate")->Tag();
    Click(QStringLiteral("spbBaudRate_right"));
    EXPECT_EQ(Ctl<TSelector>(w, "panBaudRate")->Tag(), baud);
    const QString before = Ctl<TNumEdit>(w, "edXoffAfter")->text();
    QTest::keyClicks(Ctl<TNumEdit>(w, "edXoffAfter"), QStringLiteral("9"));
    EXPECT_EQ(Ctl<TNumEdit>(w, "edXoffAfter")->text(), before);
}

TEST_F(EditorsTest, LooksColourEnableAndLimitEveryEditor)
{
    struct Row {
        const char* name;
        std::uint32_t active;  // caption or text colour in the active look
        long double lower, upper;
        bool limited;  // values outside are brought to the nearer limit
    };
    const Row rows[] = {
        {"panStep", kValueColour, 0, 0, false},
        {"panZPCH1", kDuplexColour, 0, 0, false},
        {"edZPCH1_RxFreq", kValueColour, 140000, 174000, true},
        {"edZPCH1_TxFreq", kValueColour, 140000, 174000, true},
        {"panZPCH1Power", kValueColour, 0, 0, false},
        {"panZPCH2", kDuplexColour, 0, 0, false},
        {"edZPCH2_RxFreq", kValueColour, 140000, 174000, true},
        {"edZPCH2_TxFreq", kValueColour, 140000, 174000, true},
        {"panZPCH2Power", kValueColour, 0, 0, false},
        {"panBaudRate", kValueColour, 0, 0, false},
        {"panFlowControl", kValueColour, 0, 0, false},
        {"edXoffAfter", kValueColour, 0, 255, false},
        {"edRxPause", kValueColour, 0, 195.29L, false},
        {"panEfirSkor", kValueColour, 0, 0, false},
        {"panKod", kValueColour, 0, 0, false},
        {"edKodPaketSize", kValueColour, 0, 255, false},
    };
    // Xon/Xoff, separate channels, coded packets: every editor can be used.
    TParameterSet usable{
        .RxFreq = {150000.0L, 151000.0L},
        .TxFreq = {160000.0L, 161000.0L},
        .Simplex = {false, false},
        .FlowCode = 1,
        .KodPaketSize = 24,
    };
    for (const bool active : {false, true, false, true}) {
        SCOPED_TRACE(active ? "active look" : "clear look");
        w.ClearControls();
        if (active) {
            w.ActiveControls();
            w.ShowParameters(usable);
        }
        for (const Row& r : rows) {
            SCOPED_TRACE(r.name);
            const std::string colour = Bgr(active ? r.active : kWhite).name().toStdString();
            if (auto* s = w.findChild<TSelector*>(QString::fromLatin1(r.name))) {
                EXPECT_EQ(s->CaptionColor().name().toStdString(), colour);
                EXPECT_EQ(s->LeftButton()->isEnabled(), active);
                EXPECT_EQ(s->RightButton()->isEnabled(), active);
                continue;
            }
            TNumEdit* e = Ctl<TNumEdit>(w, r.name);
            ASSERT_NE(e, nullptr);
            EXPECT_EQ(e->TextColor().name().toStdString(), colour);
            EXPECT_EQ(e->isEnabled(), active);
            EXPECT_TRUE(e->isEnabledTo(e->parentWidget()));
            for (const long double v : {r.lower, r.upper}) {
                e->SetValue(v);
                EXPECT_EQ(e->Value(), v);
            }
            if (r.limited) {
                EXPECT_EQ(e->MinValue(), r.lower);
                EXPECT_EQ(e->MaxValue(), r.upper);
                e->SetValue(r.lower - 0.1L);
                EXPECT_EQ(e->Value(), r.lower);
                e->SetValue(r.upper + 0.1L);
                EXPECT_EQ(e->Value(), r.upper);
            }
        }
        EXPECT_EQ(Ctl<QLabel>(w, "laKolvoBytes")->isVisibleTo(&w), active);
        EXPECT_EQ(Ctl<TGroupArea>(w, "sGroupBox1")->isEnabled(), active);
        EXPECT_EQ(Ctl<TGroupArea>(w, "sGroupBox2")->isEnabled(), active);
    }
}

TEST_F(EditorsTest, ShowAndReadBackAParameterSet)
{
    TParameterSet in{
        .StepCode = 1,
        .RxFreq = {150000.0L, 160012.5L},
        .TxFreq = {150000.0L, 170000.0L},
        .Simplex = {true, false},
        .PowerCode = {1, 2},
        .BaudCode = 2,
        .FlowCode = 1,
        .XoffAfter = 200,
        .RxPause = 0.76288L,
        .AirSpeedCode = 2,
        .KodCode = 1,
        .KodPaketSize = 0,
    };
    w.ShowParameters(in);

    EXPECT_EQ(Ctl<TSelector>(w, "panStep")->Caption(), "12,5");
    EXPECT_EQ(Ctl<TSelector>(w, "panZPCH1")->Caption(), "симплекс");
    EXPECT_FALSE(Ctl<TNumEdit>(w, "edZPCH1_TxFreq")->isEnabled());
    EXPECT_EQ(Ctl<TSelector>(w, "panZPCH2")->Caption(), "разнесённый приём");
    EXPECT_TRUE(Ctl<TNumEdit>(w, "edZPCH2_TxFreq")->isEnabled());
    EXPECT_EQ(Ctl<TNumEdit>(w, "edZPCH2_RxFreq")->text(), "160 012,5");
    EXPECT_EQ(Ctl<TSelector>(w, "panZPCH1Power")->Caption(), "25");
    EXPECT_EQ(Ctl<TSelector>(w, "panZPCH2Power")->Caption(), "10");
    EXPECT_EQ(Ctl<TSelector>(w, "panBaudRate")->Caption(), "38400");
    EXPECT_EQ(Ctl<TSelector>(w, "panFlowControl")->Caption(), "Xon/Xoff");
    EXPECT_TRUE(Ctl<TNumEdit>(w, "edXoffAfter")->isEnabled());
    EXPECT_EQ(Ctl<TNumEdit>(w, "edRxPause")->text(), "0,76");
    EXPECT_EQ(Ctl<QLabel>(w, "laKolvoBytes")->text(), "3 байт");
    EXPECT_EQ(Ctl<TSelector>(w, "panEfirSkor")->Caption(), "4800");
    EXPECT_EQ(Ctl<TSelector>(w, "panKod")->Caption(), "РМК7");
    EXPECT_FALSE(Ctl<TSelector>(w, "panKod")->RightButton()->isEnabled());

    const TParameterSet out = w.ReadParameters();
    EXPECT_EQ(out.StepCode, 1);
    EXPECT_EQ(out.RxFreq, in.RxFreq);
    EXPECT_EQ(out.TxFreq, in.TxFreq);
    EXPECT_EQ(out.Simplex, in.Simplex);
    EXPECT_EQ(out.PowerCode, in.PowerCode);
    EXPECT_EQ(out.BaudCode, 2);
    EXPECT_EQ(out.FlowCode, 1);
    EXPECT_EQ(out.XoffAfter, 200);
    EXPECT_EQ(out.RxPause, 0.76L) << "read back as shown";
    EXPECT_EQ(out.AirSpeedCode, 2);
    EXPECT_EQ(out.KodCode, 1);
    EXPECT_EQ(out.KodPaketSize, 0);
}

}  // namespace

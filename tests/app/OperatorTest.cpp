// The window under an operator's hands: the covered programming button, the
// wheel over the port list, and what the port list's entries reach.
#include "AppTestSupport.h"
#include "PortFinder.h"
#include "StationSimulator.h"

#include <QApplication>
#include <QWheelEvent>

#include <chrono>

using namespace std::chrono_literals;

namespace vostrel {
namespace {

class OperatorTest : public ::testing::Test {
protected:
    void Start()
    {
        StopWaitingFlag = false;
        ConnectedFlag = false;
        w = std::make_unique<TfmMain>(PortsOptions(
            {QString::fromStdString(station.SlavePath()), QString::fromStdString(other.SlavePath())}, 300));
        w->show();
        w->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(w.get()));
        ASSERT_TRUE(WaitStarted(*w, 2));
        ASSERT_TRUE(w->ComPort.IsOpen());
    }

    void TearDown() override
    {
        if (w)
            w->close();
        w.reset();
    }

    // Tab to each control in turn and press Space on it, as a new user
    // looking for the programming button would; the mnemonic and a click
    // where the button lies follow.
    void PressEverything()
    {
        for (int i = 0; i < 4; ++i) {
            QWidget* f = QApplication::focusWidget() ? QApplication::focusWidget() : w.get();
            QTest::keyClick(f, Qt::Key_Tab);
            f = QApplication::focusWidget() ? QApplication::focusWidget() : w.get();
            QTest::keyClick(f, Qt::Key_Space);
            if (QWidget* popup = QApplication::activePopupWidget())
                popup->close();
        }
        QTest::keyClick(w.get(), Qt::Key_P, Qt::AltModifier);
        auto* progr = Ctl<QPushButton>(*w, "butProgr");
        QTest::mouseClick(w.get(), Qt::LeftButton, {}, progr->geometry().center());
        QTest::qWait(200);
    }

    StationSimulator station;
    StationSimulator other;
    TModalBoxCloser boxes;
    std::unique_ptr<TfmMain> w;
};

TEST_F(OperatorTest, CoveredProgrammingButtonNeverActs)
{
    station.SetGreetOnWait(false);
    Start();
    auto* progr = Ctl<QPushButton>(*w, "butProgr");

    // At start-up: nothing read, so nothing may be programmed.
    EXPECT_FALSE(progr->isVisible());
    PressEverything();
    EXPECT_TRUE(station.ProgrammedBlocks().empty());
    EXPECT_NE(progr->text(), QStringLiteral("Ok"));

    // Read, programmed once; afterwards the same keys send nothing more.
    // The keys may have picked a port; picking it again starts a fresh wait
    // that the station answers.
    station.SetGreetOnWait(true);
    PortList(*w)->setCurrentIndex(0);
    emit PortList(*w)->activated(0);
    ASSERT_TRUE(QTest::qWaitFor([] { return ConnectedFlag; }, 10000));
    station.SetGreetOnWait(false);
    EXPECT_TRUE(progr->isVisible());
    QTest::mouseClick(progr, Qt::LeftButton);
    ASSERT_TRUE(station.WaitFor([&] { return station.ProgrammedBlocks().size() == 1; }, 5000ms));
    ASSERT_TRUE(QTest::qWaitFor([&] { return Ctl<QPushButton>(*w, "butWaiting")->isVisible(); }, 5000));
    EXPECT_FALSE(progr->isVisible());
    PressEverything();
    // Even a click that reaches the handler directly programs nothing.
    progr->click();
    QTest::qWait(200);
    EXPECT_EQ(station.ProgrammedBlocks().size(), 1u);
}

TEST_F(OperatorTest, WheelOverTheClosedPortListChangesNothing)
{
    Start();
    const std::string opened = w->ComPort.DeviceName();
    auto* list = PortList(*w);
    for (int delta : {-120, 120, -120}) {
        QWheelEvent wheel(QPointF(10, 10), list->mapToGlobal(QPointF(10, 10)), QPoint(), QPoint(0, delta), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(list, &wheel);
    }
    QTest::qWait(100);
    EXPECT_EQ(list->currentIndex(), 0);
    EXPECT_EQ(w->ComPort.DeviceName(), opened);
    EXPECT_TRUE(w->ComPort.IsOpen());
    EXPECT_TRUE(boxes.Texts.isEmpty());
}

TEST(PortEntries, EachComNameReachesWhatTheFinderGivesIt)
{
    StopWaitingFlag = false;
    ConnectedFlag = false;
    TModalBoxCloser boxes;
    TfmMain w;  // the program's own list, COM1 to COM6
    w.show();
    ASSERT_TRUE(WaitStarted(w, 6));
    const auto choices = FindComPorts();
    auto* list = PortList(w);
    for (int i = 0; i < list->count(); ++i) {
        SCOPED_TRACE(list->itemText(i).toStdString());
        EXPECT_EQ(list->itemData(i, Qt::ToolTipRole).toString(), PortToolTip(choices[static_cast<std::size_t>(i)]));
    }
    // A name with nothing behind it fails with the usual message and says
    // which ports there are.
    const auto missing = std::find_if(choices.begin(), choices.end(), [](const auto& c) { return c.Path.empty(); });
    if (missing == choices.end())
        GTEST_SKIP() << "every COM name reaches a port on this machine";
    boxes.Texts.clear();
    const int index = static_cast<int>(missing - choices.begin());
    list->setCurrentIndex(index);
    emit list->activated(index);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !boxes.Texts.isEmpty(); }, 5000));
    EXPECT_EQ(boxes.Texts.front(), QStringLiteral("Не удалось открыть порт ") + list->itemText(index));
    EXPECT_TRUE(boxes.Infos.front().contains(PresentPortsText(ListPresentPorts())))
        << boxes.Infos.front().toStdString();
    EXPECT_FALSE(w.ComPort.IsOpen());
    w.close();
}

}  // namespace
}  // namespace vostrel

namespace vostrel {
namespace {

// Run once per desktop scale (QT_SCALE_FACTOR): every caption fits its label
// and every control keeps its place and size in logical pixels.
TEST(WindowScale, CaptionsFitAndPlacesHold)
{
    TfmMain w{NoPortOptions()};
    w.show();
    ASSERT_TRUE(WaitStarted(w, 0));
    EXPECT_EQ(w.size(), QSize(736, 456));
    EXPECT_EQ(Ctl<QPushButton>(w, "butWaiting")->geometry(), QRect(132, 411, 473, 33));
    EXPECT_EQ(PortList(w)->geometry().topLeft(), QPoint(17, 416));
    int checked = 0;
    for (QLabel* l : w.findChildren<QLabel*>()) {
        if (l->text().isEmpty() || !l->isVisibleTo(&w))
            continue;
        ++checked;
        SCOPED_TRACE(l->text().toStdString());
        const QRect need = l->fontMetrics().boundingRect(l->text());
        EXPECT_LE(need.width(), l->contentsRect().width());
        EXPECT_LE(l->fontMetrics().height(), l->contentsRect().height() + 2);
        // Nothing sticks out of the window.
        const QRect inWindow(l->mapTo(&w, QPoint(0, 0)), l->size());
        EXPECT_TRUE(w.rect().contains(inWindow)) << inWindow.x() << "," << inWindow.y();
    }
    EXPECT_GT(checked, 20);  // the instruction page's lines and the group captions
    w.close();
}

}  // namespace
}  // namespace vostrel

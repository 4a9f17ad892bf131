// What the port list's entries reach, and the window at each desktop scale.
#include "AppTestSupport.h"
#include "PortFinder.h"

#include <QApplication>

#include <chrono>

using namespace std::chrono_literals;

namespace vostrel {
namespace {

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

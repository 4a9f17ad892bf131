// What the port list's entries reach, and the window at each desktop scale.
#include "AppTestSupport.h"
#include "ChildGuard.h"
#include "PortFinder.h"

#include <QApplication>

#include <csignal>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

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

// A terminal program left running on the port, which does not lock it: the
// window refuses the port as busy and names the program, instead of sharing
// the station's bytes with it.
TEST(PortEntries, APortAnotherProgramHoldsIsRefusedAndNamed)
{
    const char* device = "/dev/ttyS0";
    const int probe = ::open(device, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (probe < 0)
        GTEST_SKIP() << device << " cannot be opened here, so no real serial port can be held";
    ::close(probe);
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t holder = ::fork();
    ASSERT_GE(holder, 0);
    if (holder == 0) {
        const int fd = ::open(device, O_RDWR | O_NOCTTY | O_NONBLOCK);
        const char ok = fd >= 0 ? 1 : 0;
        [[maybe_unused]] const auto n = ::write(ready[1], &ok, 1);
        ::pause();
        ::_exit(0);
    }
    const TChildGuard holding(holder);
    char ok = 0;
    ASSERT_EQ(::read(ready[0], &ok, 1), 1);
    ::close(ready[0]);
    ::close(ready[1]);

    StopWaitingFlag = false;
    ConnectedFlag = false;
    TModalBoxCloser boxes;
    TfmMain w(PortsOptions({QString::fromLatin1(device)}));
    w.show();
    // The box comes and goes inside the start-up, before the list is filled.
    const bool started = WaitStarted(w, 1);
    const bool open = w.ComPort.IsOpen();
    w.close();
    ASSERT_EQ(ok, 1);
    ASSERT_TRUE(started);
    EXPECT_FALSE(open);
    ASSERT_EQ(boxes.Texts.size(), 1);
    EXPECT_EQ(boxes.Texts.front(), QStringLiteral("Не удалось открыть порт /dev/ttyS0"));
    EXPECT_TRUE(boxes.Infos.front().contains(QStringLiteral("PID %1").arg(holder)))
        << boxes.Infos.front().toStdString();
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

// Picking a port as a quick hand does: the port that ends up open is the one
// the list shows, a pick never hangs under a wait, holders are looked up
// aside and other programs' lock files are honoured.
#include "AppTestSupport.h"
#include "ChildGuard.h"

#include "Packets.h"
#include "StationSimulator.h"

#include <QKeyEvent>
#include <QTemporaryDir>
#include <QThread>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <memory>
#include <mutex>

#include <sys/wait.h>
#include <unistd.h>

using namespace vostrel;

namespace {

using namespace std::chrono_literals;

const QString kWaitLine = QStringLiteral("Начинаем ждать сообщение от станции на порту ");

QString Slave(const StationSimulator& s)
{
    return QString::fromStdString(s.SlavePath());
}

int WaitsOn(const TfmMain& w, const StationSimulator& s)
{
    return static_cast<int>(LogLines(w).count(kWaitLine + Slave(s)));
}

void ResetFlags()
{
    StopWaitingFlag = false;
    ConnectedFlag = false;
}

// Two Down presses queued on the closed list before the first pick has run:
// the second pick runs inside the first one's pauses.
TEST(PortPick, TwoQuickDownKeysOpenThePortTheListShows)
{
    StationSimulator one(PacedStation()), two(PacedStation()), three(PacedStation());
    ResetFlags();
    TModalBoxCloser boxes;
    TfmMain w(PortsOptions({Slave(one), Slave(two), Slave(three)}, 300));
    w.show();
    ASSERT_TRUE(WaitStarted(w, 3));
    ASSERT_EQ(w.ComPort.DeviceName(), one.SlavePath());

    auto* list = PortList(w);
    for (int i = 0; i < 2; ++i) {
        QCoreApplication::postEvent(list, new QKeyEvent(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier));
        QCoreApplication::postEvent(list, new QKeyEvent(QEvent::KeyRelease, Qt::Key_Down, Qt::NoModifier));
    }
    // Once a wait begins on either later line, greet on both.
    bool greeted = false;
    QTimer look;
    QObject::connect(&look, &QTimer::timeout, [&] {
        if (!greeted && WaitsOn(w, two) + WaitsOn(w, three) >= 1) {
            greeted = true;
            two.SendGreeting();
            three.SendGreeting();
        }
    });
    look.start(5);
    // A wait nobody answers would run for ever: stop it.
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [] { StopWaitingFlag = true; });
    watchdog.start(15000);
    ASSERT_TRUE(QTest::qWaitFor([&] { return ConnectedFlag; }, 20000)) << "no station connected";
    look.stop();
    watchdog.stop();

    EXPECT_EQ(list->currentText(), Slave(three));
    EXPECT_EQ(w.ComPort.DeviceName(), three.SlavePath());
    EXPECT_EQ(WaitsOn(w, two), 0);
    EXPECT_EQ(three.GreetingCount(), 1);
    EXPECT_EQ(three.AnswerCount(), 1) << "the shown port's station was not confirmed";
    EXPECT_TRUE(two.ReceivedBytes().empty()) << "bytes went to a port the list does not show";
    EXPECT_TRUE(boxes.Texts.isEmpty());
    w.close();
    EXPECT_EQ(three.GoodbyeCount(), 1);
}

// Two picks queued at once, the second running inside the first: only the
// last pick reports, and what it opened stays open.
TEST(PortPick, AnOlderPickNeitherReportsNorClosesWhatTheNewerOneDid)
{
    StationSimulator one(PacedStation()), two(PacedStation());
    const QString gone1 = QStringLiteral("/nonexistent/ttyGone1"), gone2 = QStringLiteral("/nonexistent/ttyGone2");
    struct Row {
        const char* label;
        QStringList after;  // the entries after the first, picked in turn
        QString failed;     // the one box's port, or none
    };
    const Row rows[] = {
        {"both fail", {gone1, gone2}, gone2},
        {"the newer opens", {gone1, Slave(two)}, QString()},
        {"the newer fails", {Slave(two), gone1}, gone1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        ResetFlags();
        TModalBoxCloser boxes;
        TfmMain w(PortsOptions(QStringList{Slave(one)} + row.after, 300));
        w.show();
        ASSERT_TRUE(WaitStarted(w, 3));
        auto* list = PortList(w);
        for (int i = 0; i < 2; ++i) {
            QCoreApplication::postEvent(list, new QKeyEvent(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier));
            QCoreApplication::postEvent(list, new QKeyEvent(QEvent::KeyRelease, Qt::Key_Down, Qt::NoModifier));
        }
        // The wait on the newer port runs until stopped; it is enough that it began.
        QTimer look;
        QObject::connect(&look, &QTimer::timeout, [&] {
            if (WaitsOn(w, two) >= 1)
                StopWaitingFlag = true;
        });
        look.start(5);
        if (row.failed.isEmpty()) {
            ASSERT_TRUE(QTest::qWaitFor([&] { return WaitsOn(w, two) == 1; }, 10000));
        } else {
            ASSERT_TRUE(QTest::qWaitFor([&] { return !boxes.Texts.isEmpty(); }, 10000));
        }
        // Room for a second box or a late close.
        QTest::qWait(500);
        EXPECT_EQ(boxes.Texts, row.failed.isEmpty()
                                   ? QStringList()
                                   : QStringList{QStringLiteral("Не удалось открыть порт ") + row.failed});
        EXPECT_EQ(w.ComPort.IsOpen(), row.failed.isEmpty());
        if (row.failed.isEmpty()) {
            EXPECT_EQ(w.ComPort.DeviceName(), two.SlavePath());
        }
        StopWaitingFlag = true;
        w.close();
    }
}

// An open that keeps the system's call for seconds (an outgoing Bluetooth
// port) runs aside: the window's timers go on, and a newer pick or the
// closing meanwhile ends with the slow port let go.
TEST(PortPick, ASlowOpenKeepsTheWindowRunning)
{
    for (const bool closing : {false, true}) {
        SCOPED_TRACE(closing ? "the window closed" : "a newer pick");
        StationSimulator one(PacedStation()), two(PacedStation());
        ResetFlags();
        TModalBoxCloser boxes;
        std::atomic<bool> slow{false}, opening{false};
        std::atomic<int> ticks{0}, ticksDuring{-1};
        TWindowOptions o = PortsOptions({Slave(one), Slave(two)}, 300);
        o.OpenPort = [&](TComm& port) {
            if (slow.exchange(false)) {
                const int before = ticks;
                opening = true;
                SleepMs(1500);
                ticksDuring = ticks - before;
            }
            port.OpenPort();
        };
        TfmMain w(std::move(o));
        w.show();
        ASSERT_TRUE(WaitStarted(w, 2));
        const auto pick = [list = PortList(w)](int i) {
            list->setCurrentIndex(i);
            emit list->activated(i);
        };
        QTimer beat;
        QObject::connect(&beat, &QTimer::timeout, [&] {
            ++ticks;
            // Not inside the tick: a timer never fires inside its own handler.
            if (opening.exchange(false))
                QTimer::singleShot(0, &w, [&] { closing ? (void)w.close() : pick(0); });
        });
        beat.start(20);
        slow = true;
        pick(1);
        ASSERT_TRUE(QTest::qWaitFor([&] { return ticksDuring >= 0; }, 10000));
        EXPECT_GE(ticksDuring, 2) << "the window stood still during the open";
        EXPECT_EQ(w.ComPort.IsOpen() ? w.ComPort.DeviceName() : "", closing ? "" : one.SlavePath());
        EXPECT_EQ(w.isVisible(), !closing);
        TComm probe;
        probe.SetDeviceName(two.SlavePath());
        EXPECT_NO_THROW(probe.OpenPort()) << "the slow port is still held";
        EXPECT_TRUE(boxes.Texts.isEmpty());
        StopWaitingFlag = true;
        w.close();
    }
}

// A port plugged in after the start is offered when the list opens; the
// entry in use stays shown even when its port went away, and nothing is
// picked by the refresh itself.
TEST(PortPick, OpeningTheListOffersPortsPluggedInSinceAndKeepsTheOneInUse)
{
    StationSimulator one(PacedStation());
    ResetFlags();
    TModalBoxCloser boxes;
    auto present = std::make_shared<QStringList>(QStringList{Slave(one)});
    TWindowOptions options = PortsOptions({});
    options.PortNames = [present] { return *present; };
    TfmMain w(options);
    w.show();
    ASSERT_TRUE(WaitStarted(w, 1));
    auto* list = PortList(w);
    const int waits = WaitsOn(w, one);
    auto entries = [list] {
        QStringList e;
        for (int i = 0; i < list->count(); ++i)
            e << list->itemText(i);
        return e;
    };

    *present = {Slave(one), QStringLiteral("COM9")};
    list->showPopup();
    list->hidePopup();
    EXPECT_EQ(entries(), QStringList({Slave(one), QStringLiteral("COM9")}));

    *present = {QStringLiteral("COM9"), QStringLiteral("COM12")};
    list->showPopup();
    list->hidePopup();
    EXPECT_EQ(entries(), QStringList({QStringLiteral("COM9"), QStringLiteral("COM12"), Slave(one)}));
    EXPECT_EQ(list->currentText(), Slave(one));
    EXPECT_EQ(w.ComPort.DeviceName(), one.SlavePath());
    QTest::qWait(300);
    EXPECT_EQ(WaitsOn(w, one), waits) << "the refresh picked the port again";
    EXPECT_TRUE(boxes.Texts.isEmpty());
    StopWaitingFlag = true;
}

// The tick of an earlier pick falls inside a newer pick's pauses: no wait may
// begin on the port being left, nor hold the newer pick up under it.
TEST(PortPick, AnEarlierPicksTickNeverStartsAWaitInsideTheNext)
{
    StationSimulator one(PacedStation()), two(PacedStation());
    ResetFlags();
    std::atomic<bool> slowPauses{false};
    TWindowOptions o = PortsOptions({Slave(one), Slave(two)}, 300);
    o.StartTimerMs = 1000;
    // The pick's 30 ms pauses made longer than the timer, as on a loaded machine.
    o.Sleep = [&slowPauses](std::uint32_t ms) { SleepMs(slowPauses && ms == 30 ? 1500 : ms); };
    TModalBoxCloser boxes;
    TfmMain w(o);
    bool rescued = false;
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [&] {
        rescued = true;
        StopWaitingFlag = true;
    });
    w.show();
    ASSERT_TRUE(WaitStarted(w, 2));
    ASSERT_TRUE(StartTimerOf(w)->isActive());

    slowPauses = true;
    watchdog.start(8000);
    auto* list = PortList(w);
    list->setCurrentIndex(1);
    emit list->activated(1);
    watchdog.stop();
    slowPauses = false;

    EXPECT_FALSE(rescued) << "the pick was held up under a wait";
    EXPECT_EQ(WaitsOn(w, one), 0) << "a wait began on the port being left";
    EXPECT_TRUE(w.ComPort.IsOpen());
    EXPECT_EQ(w.ComPort.DeviceName(), two.SlavePath());
    EXPECT_TRUE(StartTimerOf(w)->isActive());
    EXPECT_TRUE(boxes.Texts.isEmpty());
    w.close();
}

// A child that stays alive until killed: a PID that is surely not ours.
class TLiveProcess {
public:
    TLiveProcess()
    {
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::pause();
            ::_exit(0);
        }
        m_child.Reset(pid);
    }
    pid_t Pid() const { return m_child.Pid(); }

private:
    TChildGuard m_child;
};

pid_t GonePid()
{
    const pid_t pid = ::fork();
    if (pid == 0)
        ::_exit(0);
    ::waitpid(pid, nullptr, 0);
    return pid;
}

void WriteLock(const QString& file, pid_t pid)
{
    std::ofstream out(file.toStdString());
    char text[16];
    std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(pid));
    out << text;
}

// /dev/null stands for a serial device that is not a pseudo-terminal: it has
// holders and lock files, and never opens as a serial port.
TEST(PortPick, HoldersAreLookedUpAsideAndLockFilesAreHonoured)
{
    QTemporaryDir locks;
    ASSERT_TRUE(locks.isValid());
    const QString lockFile = locks.filePath(QStringLiteral("LCK..null"));

    struct TLookup {
        std::string Path;
        bool OnWindowThread = false;
    };
    std::mutex mutex;
    std::vector<TLookup> lookups;
    std::vector<std::string> holders;
    QThread* const windowThread = QThread::currentThread();

    ResetFlags();
    TWindowOptions o = PortsOptions({QStringLiteral("/dev/null"), QStringLiteral("/nonexistent/ttyUSB9")}, 300);
    o.LockDir = locks.path().toStdString();
    o.PortHolders = [&](const std::string& path) {
        std::lock_guard<std::mutex> lock(mutex);
        lookups.push_back({path, QThread::currentThread() == windowThread});
        return holders;
    };
    TModalBoxCloser boxes;
    TfmMain w(o);
    w.show();
    ASSERT_TRUE(WaitStarted(w, 2));
    ASSERT_TRUE(QTest::qWaitFor([&] { return boxes.Texts.size() == 1; }, 5000));
    auto* list = PortList(w);
    auto pick = [&](int index) {
        boxes.Texts.clear();
        boxes.Infos.clear();
        list->setCurrentIndex(index);
        emit list->activated(index);
        EXPECT_TRUE(QTest::qWaitFor([&] { return boxes.Texts.size() == 1; }, 5000));
        EXPECT_FALSE(w.ComPort.IsOpen());
        return boxes.Infos.value(0);
    };
    const QString busy = QStringLiteral("Порт занят");

    // Free: our own lock is gone again once the open has failed.
    EXPECT_FALSE(QFile::exists(lockFile));

    {
        SCOPED_TRACE("a live program's lock");
        TLiveProcess holder;
        ASSERT_GT(holder.Pid(), 0);
        WriteLock(lockFile, holder.Pid());
        const QString info = pick(0);
        EXPECT_TRUE(info.contains(busy)) << info.toStdString();
        EXPECT_TRUE(info.contains(QStringLiteral("PID %1").arg(holder.Pid()))) << info.toStdString();
        EXPECT_TRUE(QFile::exists(lockFile)) << "another program's lock was removed";
    }
    {
        SCOPED_TRACE("a stale lock");
        WriteLock(lockFile, GonePid());
        const QString info = pick(0);
        EXPECT_FALSE(info.contains(busy)) << info.toStdString();
        EXPECT_FALSE(QFile::exists(lockFile));
    }
    {
        SCOPED_TRACE("a holder without a lock");
        holders = {"minicom (PID 4242)"};
        const QString info = pick(0);
        EXPECT_TRUE(info.contains(busy + QStringLiteral(": его держит другая программа: minicom (PID 4242)")))
            << info.toStdString();
    }
    {
        SCOPED_TRACE("a device that is not there");
        const std::size_t before = lookups.size();
        pick(1);
        EXPECT_EQ(lookups.size(), before) << "holders looked up for a device that does not exist";
    }
    ASSERT_FALSE(lookups.empty());
    for (const TLookup& l : lookups) {
        EXPECT_EQ(l.Path, "/dev/null");
        EXPECT_FALSE(l.OnWindowThread) << "the holder lookup ran on the window's thread";
    }
    w.close();
}

}  // namespace

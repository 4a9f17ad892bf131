// The bench window against simulated stations on ptys: a shift on two ports
// with every block sent exact and recorded, a damaged answer refused and
// counted, «Стоп» and closing while the ports wait, and what it refuses
// before a start.
#include "EdgeBlocks.h"
#include "FileText.h"
#include "Packets.h"
#include "ParamBlock.h"
#include "ParamFile.h"
#include "ParamFileLoad.h"
#include "Record.h"
#include "SessionEnd.h"
#include "StandWindow.h"
#include "StationPort.h"
#include "StationSimulator.h"

#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

namespace vostrel {

namespace {

namespace fs = std::filesystem;

// The record's complete rows after its header.
std::vector<std::vector<std::string>> RecordRows(const std::string& text)
{
    bool cut = false;
    return CsvRows(text, cut);
}

// The rows about port with event.
std::size_t RowsWith(const std::vector<std::vector<std::string>>& rows, const std::string& port,
                     const std::string& event)
{
    return static_cast<std::size_t>(std::count_if(
        rows.begin(), rows.end(), [&](const auto& r) { return r.size() == 8 && r[1] == port && r[4] == event; }));
}

// Points link at target in one step, as a device's link comes back.
void PointLink(const fs::path& link, const std::string& target)
{
    const fs::path fresh = link.string() + ".new";
    fs::remove(fresh);
    fs::create_symlink(target, fresh);
    fs::rename(fresh, link);
}

// Calls begins once, on the simulator's thread, at the first byte after the
// number of the utility's first packet numbered number.
std::function<void(const LineByte&)> AtPacket(std::uint8_t number, std::function<void()> begins)
{
    struct TState {
        bool InPacket = false, Dle = false, NumberNext = false, Done = false;
    };
    return [number, begins, st = std::make_shared<TState>()](const LineByte& b) {
        if (b.FromStation || st->Done)
            return;
        if (st->NumberNext) {
            st->NumberNext = false;
            st->Done = b.Byte == number;
            if (st->Done)
                begins();
        } else if (!st->InPacket) {
            st->InPacket = st->NumberNext = b.Byte == kDle;
        } else if (st->Dle) {
            // A doubled DLE is data; DLE ETX ends the packet.
            st->InPacket = b.Byte != kEtx;
            st->Dle = false;
        } else {
            st->Dle = b.Byte == kDle;
        }
    };
}

class StandShift : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = fs::temp_directory_path() / ("vostrel-stand-test-" + std::to_string(getpid()) + "-" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir / "lock");
        // ZPCH1 off the grid: the rounding is said before the start.
        TParamFile plan;
        plan.Set = WorkedSet();
        plan.Set.RxFreq[0] = plan.Set.TxFreq[0] = 145580.0L;
        plan.Note = "стенд";
        file = dir / "plan.txt";
        std::ofstream(file, std::ios::binary) << FormatParamFile(plan);
        TNullLog quiet;
        expected = ProgrammingBlock(plan.Set, quiet);
        setup.Shift.CopiesFolder = (dir / "copies").string();
        setup.Shift.LockDir = (dir / "lock").string();
        setup.RecordsFolder = QString::fromStdString((dir / "records").string());
    }
    void TearDown() override { fs::remove_all(dir); }

    TStandOptions Options(const std::vector<std::string>& ports) const
    {
        TStandOptions o;
        o.Ports = ports;
        o.File = file.string();
        o.Log = (dir / "shift.csv").string();
        return o;
    }

    template <class T>
    static T* Child(const QWidget& w, const char* name)
    {
        T* child = w.findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(child, nullptr) << name;
        return child;
    }

    static bool AllRows(const TStandWindow& w, const std::string& state)
    {
        const auto& rows = w.Rows();
        return !rows.empty() &&
               std::all_of(rows.begin(), rows.end(), [&](const TPortRow& r) { return r.State == state; });
    }

    fs::path dir;
    fs::path file;
    TByteArray expected;
    TStandSetup setup;
};

}  // namespace

TEST_F(StandShift, TwoPortsProgramStationAfterStationAndADamagedAnswerIsRefused)
{
    StationConfig config;
    config.GreetOnWait = true;
    StationSimulator a(config), b(config);
    b.SetFault(StationFault::Corrupt);

    TStandWindow window(Options({a.SlavePath(), b.SlavePath()}), setup);
    window.show();
    EXPECT_NE(
        Child<QLabel>(window, "lbRounding")->text().indexOf(QStringLiteral("145580,0 → будет отправлено 145575,0")),
        -1);
    ASSERT_TRUE(window.StartShift()) << Child<QLabel>(window, "lbMessage")->text().toStdString();

    // Two stations on each port: the exchanges and the five-second pauses.
    const bool two = QTest::qWaitFor(
        [&] {
            return a.ProgrammedBlocks().size() >= 2 && b.ProgrammedBlocks().size() >= 2 &&
                   window.Rows()[0].Counts.Programmed >= 2 && window.Rows()[1].Counts.Programmed >= 2;
        },
        60000);
    ASSERT_TRUE(two);
    QTest::qWait(400);  // one repaint at least
    const QString shot = QStringLiteral(VOSTREL_SHOTS "/stand-shift.png");
    EXPECT_TRUE(window.grab().save(shot)) << shot.toStdString();

    Child<QPushButton>(window, "butStop")->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window.ShiftRunning(); }, 20000));
    QTest::qWait(300);

    const auto& rows = window.Rows();
    ASSERT_EQ(rows.size(), 2u);
    const StationSimulator* sims[] = {&a, &b};
    const std::string text = FileText(dir / "shift.csv");
    const auto record = RecordRows(text);
    for (std::size_t k = 0; k < 2; ++k) {
        SCOPED_TRACE(rows[k].Port);
        const auto blocks = sims[k]->ProgrammedBlocks();
        for (const ReceivedPacket& p : blocks) {
            EXPECT_TRUE(p.CrcOk);
            EXPECT_EQ(p.Data, expected);
        }
        EXPECT_EQ(rows[k].State, "остановлен");
        EXPECT_FALSE(rows[k].Failed);
        EXPECT_EQ(rows[k].Counts.Programmed, static_cast<int>(blocks.size()));
        EXPECT_EQ(rows[k].Counts.Refused, k == 1 ? 1 : 0);
        EXPECT_NE(rows[k].LastChanges.find("без изменений"), std::string::npos) << rows[k].LastChanges;
        // Every station programmed is in the record, then the stop and the summary.
        EXPECT_EQ(RowsWith(record, rows[k].Port, RecordEvent::Programmed), blocks.size());
        EXPECT_EQ(RowsWith(record, rows[k].Port, RecordEvent::Refused), k == 1 ? 1u : 0u);
        EXPECT_EQ(RowsWith(record, rows[k].Port, RecordEvent::Stopped), 1u);
        EXPECT_EQ(RowsWith(record, rows[k].Port, RecordEvent::Summary), 1u);
    }
    ASSERT_GE(record.size(), 2u);
    EXPECT_EQ(record.back()[4], RecordEvent::Summary);
    EXPECT_NE(record.back()[5].find("отклонено 1"), std::string::npos) << record.back()[5];
    const QString message = Child<QLabel>(window, "lbMessage")->text();
    EXPECT_NE(message.indexOf(QStringLiteral("Итог:")), -1) << message.toStdString();
}

TEST_F(StandShift, StopAndCloseWhileThePortsWaitEndEveryPort)
{
    StationSimulator a, b;
    for (const bool byClosing : {false, true}) {
        SCOPED_TRACE(byClosing ? "closing the window" : "«Стоп»");
        // Closing, the shift is begun by --start.
        TStandOptions options = Options({a.SlavePath(), b.SlavePath()});
        options.Start = byClosing;
        TStandWindow window(options, setup);
        window.show();
        if (!byClosing) {
            ASSERT_TRUE(window.StartShift());
        }
        ASSERT_TRUE(QTest::qWaitFor([&] { return AllRows(window, "ждёт станцию"); }, 10000));
        if (byClosing) {
            // The close waits for the ports, without holding the window up.
            EXPECT_FALSE(window.close());
            EXPECT_TRUE(window.isVisible());
            EXPECT_TRUE(QTest::qWaitFor([&] { return !window.isVisible(); }, 10000));
        } else {
            Child<QPushButton>(window, "butStop")->click();
            EXPECT_TRUE(QTest::qWaitFor([&] { return !window.ShiftRunning(); }, 10000));
            EXPECT_TRUE(Child<QPushButton>(window, "butStart")->isEnabled());
        }
        EXPECT_FALSE(window.ShiftRunning());
        QTest::qWait(300);
        for (const TPortRow& r : window.Rows()) {
            SCOPED_TRACE(r.Port);
            EXPECT_EQ(r.State, "остановлен");
            EXPECT_NE(r.Log.back().find("больше не ждёт станцию"), std::string::npos) << r.Log.back();
        }
    }
    EXPECT_EQ(a.GoodbyeCount() + b.GoodbyeCount(), 0);
    const auto record = RecordRows(FileText(dir / "shift.csv"));
    EXPECT_EQ(RowsWith(record, a.SlavePath(), RecordEvent::Stopped), 2u);
    EXPECT_EQ(RowsWith(record, b.SlavePath(), RecordEvent::Summary), 2u);
}

TEST_F(StandShift, APortThatFailsTurnsRedAndTheOthersGoOn)
{
    StationConfig config;
    config.GreetOnWait = true;
    StationSimulator good(config), broken(config);
    broken.SetFault(StationFault::HangUp);

    TStandWindow window(Options({good.SlavePath(), broken.SlavePath()}), setup);
    window.show();
    ASSERT_TRUE(window.StartShift());
    // A pty never comes back by its kernel name: the port waits for its device.
    EXPECT_TRUE(QTest::qWaitFor([&] { return window.Rows()[1].State == "порт пропал — ждём его"; }, 20000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return window.Rows()[0].Counts.Programmed >= 1; }, 20000));
    EXPECT_EQ(window.Rows()[1].Counts.Outages, 1);
    Child<QPushButton>(window, "butStop")->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window.ShiftRunning(); }, 20000));

    QTest::qWait(400);  // one repaint at least
    const QString shot = QStringLiteral(VOSTREL_SHOTS "/stand-port-failed.png");
    EXPECT_TRUE(window.grab().save(shot)) << shot.toStdString();

    const TPortRow& goodRow = window.Rows()[0];
    const TPortRow& brokenRow = window.Rows()[1];
    EXPECT_FALSE(goodRow.Failed);
    EXPECT_EQ(goodRow.State, "остановлен");
    EXPECT_TRUE(brokenRow.Failed);
    EXPECT_EQ(brokenRow.State.rfind("отказ: ", 0), 0u) << brokenRow.State;
    EXPECT_EQ(good.ProgrammedBlocks().at(0).Data, expected);
    EXPECT_TRUE(broken.ProgrammedBlocks().empty());
    const auto record = RecordRows(FileText(dir / "shift.csv"));
    EXPECT_EQ(RowsWith(record, broken.SlavePath(), RecordEvent::PortGone), 1u);
}

TEST_F(StandShift, WhatIsRefusedBeforeTheStartIsSaidInTheWindow)
{
    StationSimulator a;
    const fs::path link = dir / "station-link";
    fs::create_symlink(a.SlavePath(), link);
    std::ofstream(dir / "bad.txt", std::ios::binary) << "not a parameter file\n";

    struct TCase {
        const char* Name;
        TStandOptions Options;
        std::string Says;
        bool AtStart;  // said when the start is tried, not on opening
    };
    TStandOptions badFile = Options({a.SlavePath()});
    badFile.File = (dir / "bad.txt").string();
    TStandOptions missing = Options({a.SlavePath()});
    missing.File = (dir / "none.txt").string();
    TStandOptions bad = ParseStandOptions({"--ports", a.SlavePath(), "--frobnicate"});
    TStandOptions noFile = ParseStandOptions({"--ports", a.SlavePath(), "--start"});
    TParamFile unused;
    const std::vector<TCase> cases{
        {"a file refused", badFile, badFile.File + ": " + LoadParamFileAt(badFile.File, unused).Text, false},
        {"a file missing", missing, missing.File + ": " + LoadParamFileAt(missing.File, unused).Text, false},
        {"one device twice", Options({a.SlavePath(), link.string()}), OneDeviceTwice({a.SlavePath(), link.string()}),
         true},
        {"a bad option", bad, bad.Error, false},
        {"--start without a file", noFile, "--start: смена начинается сразу, только когда заданы и файл", false},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        ASSERT_FALSE(c.Says.empty());
        TStandWindow window(c.Options, setup);
        QTest::qWait(50);
        const QLabel* message = Child<QLabel>(window, "lbMessage");
        const auto says = [&] { return message->text().toStdString().find(c.Says) != std::string::npos; };
        EXPECT_TRUE(c.AtStart || says()) << message->text().toStdString();
        EXPECT_FALSE(window.StartShift());
        EXPECT_FALSE(window.ShiftRunning());
        EXPECT_TRUE(!c.AtStart || says()) << message->text().toStdString();
    }
    EXPECT_EQ(a.GreetingCount() + static_cast<int>(a.Packets().size()), 0);
}

// A station connected when the shift ends, by «Стоп» or by the desktop's
// session ending (SIGTERM), gets its goodbye after its answer.
TEST_F(StandShift, AStationInTheAnswersWindowGetsItsGoodbyeAtTheEnd)
{
    for (const bool bySignal : {false, true}) {
        SCOPED_TRACE(bySignal ? "SIGTERM" : "«Стоп»");
        std::atomic<TStandWindow*> target{nullptr};
        std::atomic<bool> ended{false};
        StationConfig config;
        config.GreetOnWait = true;
        config.AnswerDelay = std::chrono::milliseconds(700);
        // The end comes as soon as the confirmation is out: the answer is due.
        config.OnByte = AtPacket(kPacketConfirm, [&] {
            ended = true;
            if (bySignal)
                ::kill(::getpid(), SIGTERM);
            else
                QMetaObject::invokeMethod(
                    target.load(), [&] { target.load()->StopShift(); }, Qt::QueuedConnection);
        });
        StationSimulator a(config);
        TStandWindow window(Options({a.SlavePath()}), setup);
        target = &window;
        if (bySignal)
            CloseOnSessionEnd(window);
        window.show();
        ASSERT_TRUE(window.StartShift());
        ASSERT_TRUE(QTest::qWaitFor([&] { return ended.load(); }, 10000));
        ASSERT_TRUE(QTest::qWaitFor([&] { return !window.ShiftRunning(); }, 15000));
        EXPECT_TRUE(!bySignal || QTest::qWaitFor([&] { return !window.isVisible(); }, 5000));
        EXPECT_EQ(window.Rows()[0].State, "остановлен");

        EXPECT_EQ(a.AnswerCount(), 1);
        EXPECT_EQ(a.GoodbyeCount(), 1);
        const auto packets = a.Packets();
        ASSERT_FALSE(packets.empty());
        EXPECT_EQ(packets.back().Number, kPacketClosing);
        EXPECT_TRUE(a.ProgrammedBlocks().empty());
        const auto trace = a.Trace();
        const auto answer = std::find_if(trace.rbegin(), trace.rend(), [](const LineByte& b) { return b.FromStation; });
        ASSERT_NE(answer, trace.rend());
        EXPECT_LT(answer->Time, packets.back().End);
    }
}

// The close lands while packet 09 goes out: the packet is finished whole, and
// only then do the port and the window close.
TEST_F(StandShift, ClosingWhilePacket09GoesOutFinishesThePacket)
{
    std::atomic<TStandWindow*> target{nullptr};
    std::atomic<bool> closing{false};
    SimClock::time_point closedAt{};
    StationConfig config;
    config.GreetOnWait = true;
    config.OnByte = AtPacket(kPacketProgram, [&] {
        closing = true;
        QMetaObject::invokeMethod(
            target.load(),
            [&] {
                closedAt = SimClock::now();
                target.load()->close();
            },
            Qt::QueuedConnection);
    });
    StationSimulator a(config);
    TStandWindow window(Options({a.SlavePath()}), setup);
    target = &window;
    window.show();
    ASSERT_TRUE(window.StartShift());
    ASSERT_TRUE(QTest::qWaitFor([&] { return closing.load(); }, 20000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window.isVisible() && !window.ShiftRunning(); }, 15000));

    const auto blocks = a.ProgrammedBlocks();
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_TRUE(blocks[0].CrcOk);
    EXPECT_EQ(blocks[0].Data, expected);
    EXPECT_LT(closedAt, blocks[0].End) << "the close came after the packet";
    EXPECT_EQ(a.Packets().back().Number, kPacketProgram);
    const auto record = RecordRows(FileText(dir / "shift.csv"));
    EXPECT_EQ(RowsWith(record, a.SlavePath(), RecordEvent::Programmed), 1u);
}

// The adapter pulled out mid-shift and plugged back: its link now leads to a
// new device, where the port resumes and programs the next station.
TEST_F(StandShift, AnAdapterPluggedBackBehindItsLinkResumes)
{
    StationConfig config;
    config.GreetOnWait = true;
    auto first = std::make_unique<StationSimulator>(config);
    const fs::path link = dir / "ttyUSB0";
    PointLink(link, first->SlavePath());
    TStandWindow window(Options({link.string()}), setup);
    window.show();
    ASSERT_TRUE(window.StartShift());
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.Rows()[0].Counts.Programmed == 1; }, 20000));
    QTest::qWait(300);  // in the thank-you pause
    first->HangUp();
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.Rows()[0].State == "порт пропал — ждём его"; }, 10000));
    first.reset();
    StationSimulator second(config);
    PointLink(link, second.SlavePath());
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.Rows()[0].Counts.Programmed == 2; }, 30000));
    Child<QPushButton>(window, "butStop")->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window.ShiftRunning(); }, 20000));

    const TPortRow& row = window.Rows()[0];
    EXPECT_FALSE(row.Failed);
    EXPECT_EQ(row.Counts.Outages, 1);
    ASSERT_EQ(second.ProgrammedBlocks().size(), 1u);
    EXPECT_EQ(second.ProgrammedBlocks()[0].Data, expected);
    const auto record = RecordRows(FileText(dir / "shift.csv"));
    EXPECT_EQ(RowsWith(record, link.string(), RecordEvent::PortGone), 1u);
    EXPECT_EQ(RowsWith(record, link.string(), RecordEvent::Programmed), 2u);
}

// Another program holding the device is named in the port list before the
// start, and in the row when the start finds it still there.
TEST_F(StandShift, AHeldPortNamesItsHolder)
{
    StationSimulator a;
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t holder = ::fork();
    ASSERT_GE(holder, 0);
    if (holder == 0) {
        const int fd = ::open(a.SlavePath().c_str(), O_RDWR | O_NOCTTY);
        const char b = fd >= 0 && ::flock(fd, LOCK_EX) == 0 ? 1 : 0;
        [[maybe_unused]] const auto n = ::write(ready[1], &b, 1);
        ::pause();
        _exit(0);
    }
    char held = 0;
    ASSERT_EQ(::read(ready[0], &held, 1), 1);
    ::close(ready[0]);
    ::close(ready[1]);
    const std::string pid = "(PID " + std::to_string(holder) + ")";
    {
        TStandWindow window(Options({a.SlavePath()}), setup);
        const QListWidget* list = Child<QListWidget>(window, "lstPorts");
        const bool named = QTest::qWaitFor(
            [&] {
                return list->count() > 0 &&
                       list->item(list->count() - 1)->text().toStdString().find("занят: ") != std::string::npos;
            },
            10000);
        EXPECT_TRUE(named);
        EXPECT_NE(list->item(list->count() - 1)->text().toStdString().find(pid), std::string::npos);
        ASSERT_TRUE(window.StartShift());
        ASSERT_TRUE(QTest::qWaitFor([&] { return !window.ShiftRunning(); }, 10000));
        const TPortRow& row = window.Rows()[0];
        EXPECT_TRUE(row.Failed);
        EXPECT_EQ(row.State.rfind("отказ: порт занят: ", 0), 0u) << row.State;
        EXPECT_NE(row.State.find(pid), std::string::npos) << row.State;
    }
    ::kill(holder, SIGKILL);
    ::waitpid(holder, nullptr, 0);
    EXPECT_EQ(held, 1);
}

// Run once per desktop scale (QT_SCALE_FACTOR): the main window's font in
// logical pixels, every button's caption fits it, and the picture is kept.
TEST_F(StandShift, StandScaleCaptionsFit)
{
    StationSimulator a;
    TStandWindow window(Options({a.SlavePath()}), setup);
    window.show();
    QTest::qWait(300);
    EXPECT_EQ(window.font().pixelSize(), 11);
    EXPECT_EQ(window.palette().color(QPalette::Window), QColor(Qt::white));
    int checked = 0;
    for (const QPushButton* b : window.findChildren<QPushButton*>()) {
        SCOPED_TRACE(b->text().toStdString());
        ++checked;
        EXPECT_LE(b->fontMetrics().horizontalAdvance(b->text()), b->contentsRect().width());
        EXPECT_LE(b->fontMetrics().height(), b->contentsRect().height());
    }
    EXPECT_GE(checked, 6);
    const QString scale = qEnvironmentVariable("QT_SCALE_FACTOR", QStringLiteral("1"));
    const QString shot = QStringLiteral(VOSTREL_SHOTS "/stand-x%1.png").arg(scale);
    EXPECT_TRUE(window.grab().save(shot)) << shot.toStdString();
}

}  // namespace vostrel

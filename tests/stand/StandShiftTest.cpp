// The bench window against simulated stations on ptys: a shift on two ports
// with every block sent exact and recorded, a damaged answer refused and
// counted, «Стоп» and closing while the ports wait, and what it refuses
// before a start.
#include "EdgeBlocks.h"
#include "ParamBlock.h"
#include "ParamFile.h"
#include "ParamFileLoad.h"
#include "Record.h"
#include "StandWindow.h"
#include "StationPort.h"
#include "StationSimulator.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace vostrel {

namespace {

namespace fs = std::filesystem;

std::string ReadText(const fs::path& path)
{
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

// The record's rows after its header, fields as a spreadsheet reads them.
std::vector<std::vector<std::string>> RecordRows(const std::string& text)
{
    std::vector<std::vector<std::string>> rows;
    std::vector<std::string> row{""};
    bool quoted = false;
    for (std::size_t k = text.find("\r\n") + 2; k >= 2 && k < text.size(); ++k) {
        const char c = text[k];
        if (c == '"' && quoted && text.compare(k, 2, "\"\"") == 0)
            row.back() += text[++k];
        else if (c == '"')
            quoted = !quoted;
        else if (!quoted && c == ';')
            row.emplace_back();
        else if (!quoted && text.compare(k, 2, "\r\n") == 0) {
            rows.push_back(std::exchange(row, {""}));
            ++k;
        } else
            row.back() += c;
    }
    return rows;
}

// The rows about port with event.
std::size_t RowsWith(const std::vector<std::vector<std::string>>& rows, const std::string& port,
                     const std::string& event)
{
    return static_cast<std::size_t>(std::count_if(
        rows.begin(), rows.end(), [&](const auto& r) { return r.size() == 8 && r[1] == port && r[4] == event; }));
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
    const std::string text = ReadText(dir / "shift.csv");
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
    const auto record = RecordRows(ReadText(dir / "shift.csv"));
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
    const auto record = RecordRows(ReadText(dir / "shift.csv"));
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

}  // namespace vostrel

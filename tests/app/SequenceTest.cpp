// The whole exchange, the real window against simulated stations on ptys:
// wait, greeting, confirmation, reading, programming, goodbye, and the faults.
#include "AppTestSupport.h"
#include "EdgeBlocks.h"

#include "Packets.h"
#include "ParamBlock.h"
#include "PortError.h"
#include "StationSimulator.h"
#include "Utils.h"

#include <QTest>
#include <QWheelEvent>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>

#include <sys/resource.h>

using namespace vostrel;

namespace {

using namespace std::chrono_literals;

const QString kWaitLine = QStringLiteral("Начинаем ждать сообщение от станции на порту ");
const QString kBadPacket = QStringLiteral("Полученный пакет - неправильный");

// The complete example's block, bytes 18 to 33 as the link's calibration
// tests work them out (set B for byte 24, set A for 25 to 31).
const TByteArray kWorkedBlock{0x00, 0xEE, 0x39, 0x00, 0xF3, 0xC1, 0x00, 0xB5, 0xF9, 0x00, 0xC8, 0x01,
                              0x55, 0x18, 0x0D, 0x1C, 0x64, 0x5F, 0xF1, 0xF1, 0xE9, 0xEE, 0xE0, 0xEA,
                              0x42, 0x1B, 0x06, 0x06, 0x1E, 0x2E, 0x1E, 0x18, 0x44, 0x37};

TByteArray StationBlock(const TParameterSet& s)
{
    TNullLog log;
    return EncodeBlock(s, log);
}

// The programming packet as it must appear on the line.
TByteArray DoubledLine(const TByteArray& packet)
{
    TByteArray line;
    for (std::size_t i = 0; i < packet.size(); ++i) {
        line.push_back(packet[i]);
        if (i >= 2 && i + 2 < packet.size() && packet[i] == kDle)
            line.push_back(kDle);
    }
    return line;
}

std::vector<ReceivedPacket> PacketsNumbered(const StationSimulator& s, std::uint8_t number)
{
    auto all = s.Packets();
    std::vector<ReceivedPacket> out;
    std::copy_if(all.begin(), all.end(), std::back_inserter(out),
                 [number](const ReceivedPacket& p) { return p.Number == number; });
    return out;
}

// Tab to each control in turn and press Space on it, as a new user
// looking for the programming button would; the mnemonic and a click
// where the button lies follow.
void PressEverything(TfmMain& w)
{
    for (int i = 0; i < 4; ++i) {
        QWidget* f = QApplication::focusWidget() ? QApplication::focusWidget() : &w;
        QTest::keyClick(f, Qt::Key_Tab);
        f = QApplication::focusWidget() ? QApplication::focusWidget() : &w;
        QTest::keyClick(f, Qt::Key_Space);
        if (QWidget* popup = QApplication::activePopupWidget())
            popup->close();
    }
    QTest::keyClick(&w, Qt::Key_P, Qt::AltModifier);
    auto* progr = Ctl<QPushButton>(w, "butProgr");
    QTest::mouseClick(&w, Qt::LeftButton, {}, progr->geometry().center());
    QTest::qWait(200);
}

class SequenceTest : public ::testing::Test {
protected:
    QStringList Ports() const
    {
        return {QString::fromStdString(station.SlavePath()), QString::fromStdString(other.SlavePath())};
    }

    void Start(std::uint32_t thankYouMs = 300) { StartWith(PortsOptions(Ports(), thankYouMs)); }

    void StartWith(TWindowOptions options)
    {
        StopWaitingFlag = false;
        ConnectedFlag = false;
        w = std::make_unique<TfmMain>(std::move(options));
        // Nothing here may hang: a wait that runs too long is stopped.
        QObject::connect(&watchdog, &QTimer::timeout, [] { StopWaitingFlag = true; });
        watchdog.setSingleShot(true);
        watchdog.start(60000);
        w->show();
        ASSERT_TRUE(WaitStarted(*w, 2));
        ASSERT_TRUE(w->ComPort.IsOpen());
    }

    void TearDown() override
    {
        if (w)
            w->close();
        w.reset();
    }

    // Runs fn from inside whatever handler is running after ms.
    void Later(int ms, std::function<void()> fn) { QTimer::singleShot(ms, w.get(), std::move(fn)); }

    // Runs fn once pred holds, looking every 5 ms from inside whatever runs.
    void When(std::function<bool()> pred, std::function<void()> fn)
    {
        auto* t = new QTimer(w.get());
        QObject::connect(t, &QTimer::timeout, w.get(), [t, pred = std::move(pred), fn = std::move(fn)] {
            if (!pred())
                return;
            t->stop();
            t->deleteLater();
            fn();
        });
        t->start(5);
    }

    bool Connected(int ms = 10000)
    {
        return QTest::qWaitFor([] { return ConnectedFlag; }, ms);
    }

    int Count(const QString& line) const { return static_cast<int>(LogLines(*w).count(line)); }

    StationSimulator station{PacedStation()};
    StationSimulator other{PacedStation()};
    TModalBoxCloser boxes;
    QTimer watchdog;
    std::unique_ptr<TfmMain> w;
};

TEST_F(SequenceTest, ReadsShowsProgramsAndWaitsAgain)
{
    const TParameterSet worked = WorkedSet();
    station.SetBlock(StationBlock(worked));
    station.SetGreetOnWait(true);
    Start();
    ASSERT_TRUE(Connected());

    // The confirmation, exactly, some 50 ms after the greeting's ETX.
    const auto trace = station.Trace();
    const auto first = std::find_if(trace.begin(), trace.end(), [](const LineByte& b) { return !b.FromStation; });
    ASSERT_NE(first, trace.end());
    ASSERT_NE(first, trace.begin());
    const auto etx = std::prev(first);
    EXPECT_EQ(etx->Byte, kEtx);
    const auto delay = std::chrono::duration_cast<std::chrono::milliseconds>(first->Time - etx->Time);
    EXPECT_GE(delay.count(), 49);
    EXPECT_LT(delay.count(), 1500);
    const auto confirms = PacketsNumbered(station, kPacketConfirm);
    ASSERT_EQ(confirms.size(), 1u);
    EXPECT_EQ(confirms[0].Line, (TByteArray{0x10, 0x08, 0x00, 0x06, 0x70, 0x10, 0x03}));

    // The log tells the exchange in order.
    const QStringList log = LogLines(*w);
    const QStringList expected{kWaitLine + QString::fromStdString(station.SlavePath()),
                               "Что-то пришло.",
                               "Читаем.",
                               "$10",
                               "$00",
                               "$00",
                               "$01",
                               "$B0",
                               "$10",
                               "$03",
                               "Посылаем пакет-подтверждение (пакет № 08)",
                               "$10",
                               "$08",
                               "$00",
                               "$06",
                               "$70",
                               "$10",
                               "$03",
                               "Ждём ответ от станции (пакет № 01)"};
    ASSERT_GE(log.size(), expected.size());
    EXPECT_EQ(log.mid(0, expected.size()), expected);
    // Then every byte of the answer, the last ones included.
    QStringList answer;
    for (std::uint8_t b : StationAnswerLine(StationBlock(worked)))
        answer << QString::asprintf("$%02X", b);
    EXPECT_EQ(log.mid(expected.size(), answer.size()), answer);

    // The station's values are in the editors, the cover is gone.
    const TParameterSet shown = w->ReadParameters();
    EXPECT_EQ(shown.RxFreq, worked.RxFreq);
    EXPECT_EQ(shown.TxFreq, worked.TxFreq);
    EXPECT_EQ(shown.PowerCode, worked.PowerCode);
    EXPECT_EQ(Ctl<TSelector>(*w, "panZPCH1")->Caption(), QStringLiteral("симплекс"));
    EXPECT_FALSE(Ctl<TNumEdit>(*w, "edZPCH1_TxFreq")->isEnabled());
    EXPECT_EQ(Ctl<TSelector>(*w, "panZPCH2")->Caption(), QStringLiteral("разнесённый приём"));
    EXPECT_EQ(Ctl<TSelector>(*w, "panBaudRate")->Caption(), QStringLiteral("19200"));
    EXPECT_EQ(Ctl<TSelector>(*w, "panFlowControl")->Caption(), QStringLiteral("Xon/Xoff"));
    EXPECT_TRUE(Ctl<TNumEdit>(*w, "edXoffAfter")->isEnabled());
    EXPECT_EQ(Ctl<TSelector>(*w, "panEfirSkor")->Caption(), QStringLiteral("4800"));
    EXPECT_EQ(Ctl<TSelector>(*w, "panKod")->Caption(), QStringLiteral("РМК7"));
    EXPECT_EQ(Ctl<QLabel>(*w, "laKolvoBytes")->text(), QStringLiteral("19 байт"));
    EXPECT_FALSE(Ctl<TBevelPanel>(*w, "panZastavka")->isVisible());
    EXPECT_FALSE(Ctl<QComboBox>(*w, "cbPort")->isVisible());
    EXPECT_FALSE(Ctl<QPushButton>(*w, "butWaiting")->isVisible());
    EXPECT_TRUE(Ctl<QPushButton>(*w, "butProgr")->isEnabled());
    EXPECT_TRUE(Ctl<TGroupArea>(*w, "sGroupBox1")->isEnabled());

    // Programming: the block the encoder gives, and the bytes worked out by hand.
    const TByteArray& byHand = kWorkedBlock;
    TNullLog quiet;
    EXPECT_EQ(EncodeBlock(w->ReadParameters(), quiet), byHand);
    QTest::mouseClick(Ctl<QPushButton>(*w, "butProgr"), Qt::LeftButton);
    ASSERT_TRUE(station.WaitFor([&] { return station.ProgrammedBlocks().size() == 1; }, 5000ms));
    const ReceivedPacket programmed = station.ProgrammedBlocks()[0];
    EXPECT_TRUE(programmed.CrcOk);
    EXPECT_EQ(programmed.Data, byHand);
    EXPECT_EQ(programmed.Line, DoubledLine(BuildPacket(kPacketProgram, byHand)));
    int calcLines = 0;
    for (const QString& l : LogLines(*w))
        calcLines += l.startsWith(QStringLiteral("p1_calculate=")) ? 1 : 0;
    EXPECT_EQ(calcLines, 8);

    // After the thank-you page: instruction page, clear look, a new wait armed.
    EXPECT_FALSE(ConnectedFlag);
    EXPECT_TRUE(Ctl<TBevelPanel>(*w, "panZastavka")->isVisible());
    EXPECT_EQ(Ctl<QStackedWidget>(*w, "Screens")->currentWidget(), Ctl<QWidget>(*w, "Default"));
    EXPECT_TRUE(Ctl<QPushButton>(*w, "butWaiting")->isVisible());
    EXPECT_FALSE(Ctl<QComboBox>(*w, "cbPort")->isVisible());
    EXPECT_EQ(Ctl<QPushButton>(*w, "butProgr")->text(), kProgrCaption);
    EXPECT_FALSE(Ctl<TGroupArea>(*w, "sGroupBox1")->isEnabled());
    EXPECT_TRUE(Ctl<QTimer>(*w, "StartTimer")->isActive());

    // A second programming needs the station to greet again; it does when
    // the new wait begins.
    ASSERT_TRUE(Connected());
    EXPECT_EQ(Count(kWaitLine + QString::fromStdString(station.SlavePath())), 2);
    EXPECT_EQ(station.GreetingCount(), 2);
    EXPECT_EQ(station.AnswerCount(), 2);

    // Closing while connected says goodbye once, then closes the port.
    w->close();
    EXPECT_FALSE(w->ComPort.IsOpen());
    ASSERT_TRUE(station.WaitFor([&] { return station.GoodbyeCount() == 1; }, 5000ms));
    EXPECT_EQ(PacketsNumbered(station, kPacketClosing)[0].Line, (TByteArray{0x10, 0x00, 0x00, 0x01, 0xB0, 0x10, 0x03}));
    w->close();
    QTest::qWait(300);
    EXPECT_EQ(station.GoodbyeCount(), 1);
    EXPECT_TRUE(boxes.Texts.isEmpty());
}

TEST_F(SequenceTest, PowerArrowsProgramTheBytesWorkedOutByHand)
{
    // From the complete example; only the power byte (17) and the bytes that
    // follow the changed power change. i = 18 on ZPCH1, 55 on ZPCH2.
    struct Row {
        const char* label;
        std::vector<const char*> arrows;
        std::uint8_t power;                        // byte 17
        std::array<std::uint8_t, 16> calibration;  // bytes 18 to 33
    };
    const Row rows[] = {
        // 10 W: 18 -0.13*18-12 = -14.34; 20 -0.13*55-12 = -19.15; 24 set B -0.1*18+66 = 64.2;
        // 26 0.5*18-5 = 4; 28 0.5*55+16 = 43.5 -> 44; 30 0.5*55-5 = 22.5 -> 22.
        {"10 W on both channels",
         {"spbZPCH1Power_right", "spbZPCH2Power_left"},
         0x6E,
         {0xF2, 0xF1, 0xED, 0xEE, 0xE0, 0xEA, 0x40, 0x1B, 0x04, 0x06, 0x2C, 0x2E, 0x16, 0x18, 0x44, 0x37}},
        // 25 W on ZPCH1: 18 -0.21*18-11 = -14.78; 24 set B -0.6*18+51 = 40.2; 26 0.5*18+2 = 11.
        // 5 W on ZPCH2: 20 -0.1*55-13 = -18.5 -> -18; 28 45.5 -> 46; 30 24.5 -> 24.
        {"25 W on ZPCH1, 5 W on ZPCH2",
         {"spbZPCH1Power_left", "spbZPCH2Power_right"},
         0x7D,
         {0xF1, 0xF1, 0xEE, 0xEE, 0xE0, 0xEA, 0x28, 0x1B, 0x0B, 0x06, 0x2E, 0x2E, 0x18, 0x18, 0x44, 0x37}},
    };
    station.SetGreetOnWait(true);
    Start();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        // Each row a station fresh from the workshop: the last one keeps
        // what it was programmed with.
        station.SetBlock(kWorkedBlock);
        ASSERT_TRUE(Connected());
        for (const char* arrow : row.arrows)
            ClickArrow(*w, arrow);
        const std::size_t before = station.ProgrammedBlocks().size();
        QTest::mouseClick(Ctl<QPushButton>(*w, "butProgr"), Qt::LeftButton);
        ASSERT_TRUE(station.WaitFor([&] { return station.ProgrammedBlocks().size() == before + 1; }, 5000ms));
        TByteArray expected(kWorkedBlock.begin(), kWorkedBlock.begin() + 17);
        expected.push_back(row.power);
        expected.insert(expected.end(), row.calibration.begin(), row.calibration.end());
        EXPECT_EQ(station.ProgrammedBlocks().back().Data, expected);
    }
}

TEST_F(SequenceTest, BytesAfterTheGreetingNeverReachTheAnswer)
{
    // Whatever follows the greeting's ETX before packet 08 goes out must not
    // shift the block that the answer carries.
    struct Row {
        const char* label;
        TByteArray line;
    };
    const Row rows[] = {
        {"a 0x03 inside the greeting ends it early", {0x10, 0x00, 0x03, 0x01, 0xB0, 0x10, 0x03}},
        {"the greeting twice", {0x10, 0x00, 0x00, 0x01, 0xB0, 0x10, 0x03, 0x10, 0x00, 0x00, 0x01, 0xB0, 0x10, 0x03}},
    };
    station.SetBlock(kWorkedBlock);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        Start();
        Later(900, [&] { station.SendRaw(row.line); });
        ASSERT_TRUE(Connected());
        const TParameterSet shown = w->ReadParameters();
        EXPECT_EQ(shown.RxFreq, (std::array<long double, 2>{145575.0L, 150000.0L}));
        EXPECT_EQ(shown.TxFreq, (std::array<long double, 2>{145575.0L, 160000.0L}));
        EXPECT_EQ(shown.PowerCode, (std::array<int, 2>{3, 1}));
        w->close();
        w.reset();
    }
}

TEST_F(SequenceTest, AnswersAreReadUntilTheirWindowEnds)
{
    // On the real line packet 01 takes some 85 ms; the answer window is 1000 ms
    // from packet 08.
    struct Row {
        const char* label;
        std::chrono::milliseconds delay;
        bool read;
    };
    const Row rows[] = {
        {"ends some 1330 ms after packet 08", 1250ms, false},
        {"ends some 690 ms after packet 08", 600ms, true},
    };
    station.SetBlock(kWorkedBlock);
    station.SetGreetOnWait(true);
    int bad = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        station.SetAnswerDelay(row.delay);
        if (!w)
            Start();
        ASSERT_TRUE(QTest::qWaitFor([&] { return ConnectedFlag || Count(kBadPacket) > bad; }, 15000));
        bad = Count(kBadPacket);
        EXPECT_EQ(ConnectedFlag, row.read);
        if (row.read) {
            EXPECT_EQ(w->ReadParameters().TxFreq, (std::array<long double, 2>{145575.0L, 160000.0L}));
        }
    }
}

TEST_F(SequenceTest, ProgrammingRoundsToTheGridAndSkipsTheGoodbye)
{
    TParameterSet set = WorkedSet();
    set.StepCode = 1;
    set.RxFreq = {150000.0L, 150000.0L};
    set.TxFreq = {150000.0L, 150000.0L};
    set.Simplex = {true, true};
    station.SetBlock(StationBlock(set));
    station.SetGreetOnWait(true);
    Start();
    ASSERT_TRUE(Connected());
    station.SetGreetOnWait(false);

    // 150006.3 lies nearer the 12,5 kHz point above; the simplex copy follows.
    ClickArrow(*w, "spbZPCH2_left");
    Ctl<TNumEdit>(*w, "edZPCH2_RxFreq")->SetValue(150006.3L);
    Ctl<TNumEdit>(*w, "edZPCH2_TxFreq")->SetValue(150006.2L);
    QTest::mouseClick(Ctl<QPushButton>(*w, "butProgr"), Qt::LeftButton);
    EXPECT_EQ(Ctl<TNumEdit>(*w, "edZPCH2_RxFreq")->Value(), 150012.5L);
    EXPECT_EQ(Ctl<TNumEdit>(*w, "edZPCH2_TxFreq")->Value(), 150000.0L);
    ASSERT_TRUE(station.WaitFor([&] { return station.ProgrammedBlocks().size() == 1; }, 5000ms));
    // ZPCH2 receive word (150012.5 + 45000) / 12.5 = 15601, 4N + 1 = 0x00F3C5;
    // transmit 150000 / 12.5 = 12000, 0x00BB81; the 12,5 grid in bit 7 of 17.
    const TByteArray data = station.ProgrammedBlocks()[0].Data;
    ASSERT_EQ(data.size(), 34u);
    EXPECT_EQ(TByteArray(data.begin() + 3, data.begin() + 6), (TByteArray{0x00, 0xF3, 0xC5}));
    EXPECT_EQ(TByteArray(data.begin() + 9, data.begin() + 12), (TByteArray{0x00, 0xBB, 0x81}));
    EXPECT_EQ(data[17] & 0x80, 0x80);

    w->close();
    QTest::qWait(300);
    EXPECT_EQ(station.GoodbyeCount(), 0);
    EXPECT_TRUE(boxes.Texts.isEmpty());
}

TEST_F(SequenceTest, PortChangeDuringAWaitRestartsItOnTheNewPort)
{
    other.SetGreetOnWait(true);
    Start();
    // The first station stays silent; the operator picks the other port.
    Later(1200, [&] {
        Ctl<QComboBox>(*w, "cbPort")->setCurrentIndex(1);
        emit Ctl<QComboBox>(*w, "cbPort")->activated(1);
    });
    ASSERT_TRUE(Connected());
    EXPECT_EQ(Count(kWaitLine + QString::fromStdString(station.SlavePath())), 1);
    EXPECT_EQ(Count(kWaitLine + QString::fromStdString(other.SlavePath())), 1);
    EXPECT_EQ(w->ComPort.DeviceName(), other.SlavePath());
    EXPECT_EQ(station.AnswerCount(), 0);
    EXPECT_EQ(other.AnswerCount(), 1);
    EXPECT_TRUE(boxes.Texts.isEmpty());
}

TEST_F(SequenceTest, BytesBeforeTheWaitAreNeverSeen)
{
    Start();
    // A whole greeting before the tick: the wait discards it.
    station.SendRaw({0x10, 0x00, 0x03});
    bool quietWait = false;
    Later(1500, [&] {
        quietWait = Count(QStringLiteral("Что-то пришло.")) == 0 &&
                    Count(kWaitLine + QString::fromStdString(station.SlavePath())) == 1;
        station.SendGreeting();
    });
    ASSERT_TRUE(Connected());
    EXPECT_TRUE(quietWait);
    EXPECT_EQ(PacketsNumbered(station, kPacketConfirm).size(), 1u);
}

TEST_F(SequenceTest, InvalidGreetingsEndTheWaitUntilAPortIsPicked)
{
    Start();
    struct Row {
        const char* label;
        StationFault fault;
    };
    const Row rows[] = {{"wrong packet number", StationFault::WrongNumber},
                        {"stray byte ahead", StationFault::StrayByte},
                        {"no ETX within 1.5 s", StationFault::NoEtx}};
    int bad = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        station.SetFault(row.fault);
        Later(900, [&] { station.SendGreeting(); });
        ASSERT_TRUE(QTest::qWaitFor([&] { return Count(kBadPacket) == bad + 1; }, 10000));
        ++bad;
        EXPECT_TRUE(PacketsNumbered(station, kPacketConfirm).empty());
        EXPECT_FALSE(Ctl<QTimer>(*w, "StartTimer")->isActive());
        EXPECT_TRUE(Ctl<QComboBox>(*w, "cbPort")->isVisible());
        EXPECT_TRUE(Ctl<QPushButton>(*w, "butWaiting")->isVisible());
        EXPECT_TRUE(Ctl<TBevelPanel>(*w, "panZastavka")->isVisible());
        // Picking the port again starts a new wait.
        emit Ctl<QComboBox>(*w, "cbPort")->activated(0);
        EXPECT_TRUE(Ctl<QTimer>(*w, "StartTimer")->isActive());
    }
    Later(900, [&] { station.SendGreeting(); });
    ASSERT_TRUE(Connected());
    EXPECT_TRUE(boxes.Texts.isEmpty());
}

TEST_F(SequenceTest, AnAnswerTooShortToReadMeansWaitingAgain)
{
    station.SetGreetOnWait(true);
    Start();
    struct Row {
        const char* label;
        StationFault fault;
    };
    const Row rows[] = {{"cut short", StationFault::CutShort}, {"silence", StationFault::Silence}};
    int bad = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        station.SetFault(row.fault);
        // The answer is given up on after its second; the wait comes back armed.
        bool armed = false, clear = false;
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                if (Count(kBadPacket) == bad + 1 && !armed) {
                    armed = Ctl<QTimer>(*w, "StartTimer")->isActive();
                    clear = !Ctl<TGroupArea>(*w, "sGroupBox1")->isEnabled() &&
                            Ctl<TBevelPanel>(*w, "panZastavka")->isVisible() &&
                            Ctl<QPushButton>(*w, "butWaiting")->isVisible() &&
                            !Ctl<QComboBox>(*w, "cbPort")->isVisible();
                    return true;
                }
                return false;
            },
            10000));
        ++bad;
        EXPECT_TRUE(armed);
        EXPECT_TRUE(clear);
        EXPECT_FALSE(ConnectedFlag);
    }
    // The station greets on the new wait and this time answers in full.
    ASSERT_TRUE(Connected());
    EXPECT_TRUE(boxes.Texts.isEmpty());
}

TEST_F(SequenceTest, ADamagedAnswerIsNeitherShownNorProgrammed)
{
    // The first answer carries block byte 1 with a bit flipped under the CRC
    // of the true block: taken as it came, ZPCH1 would read 142375.0 kHz.
    station.SetBlock(kWorkedBlock);
    station.SetGreetOnWait(true);
    station.SetFault(StationFault::Corrupt, 1);
    Start();
    const TParameterSet before = w->ReadParameters();
    const QString damagedLine = QString::fromUtf8(kDamagedAnswerLine);
    bool untouched = false, clear = false, armed = false;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            if (Count(damagedLine) == 0)
                return false;
            const TParameterSet now = w->ReadParameters();
            untouched = now.RxFreq == before.RxFreq && now.TxFreq == before.TxFreq;
            clear = !ConnectedFlag && !Ctl<TGroupArea>(*w, "sGroupBox1")->isEnabled() &&
                    Ctl<TBevelPanel>(*w, "panZastavka")->isVisible() && Ctl<QPushButton>(*w, "butWaiting")->isVisible();
            armed = Ctl<QTimer>(*w, "StartTimer")->isActive();
            return true;
        },
        10000));
    TParameterSet garbled;
    ASSERT_TRUE(DecodeBlock(station.LastAnsweredBlock(), TParameterSet{}, garbled));
    EXPECT_EQ(garbled.RxFreq[0], 142375.0L) << "the fault must change a value the window would show";
    EXPECT_TRUE(untouched);
    EXPECT_TRUE(clear);
    EXPECT_TRUE(armed);
    EXPECT_EQ(Count(damagedLine), 1);
    EXPECT_EQ(Count(kBadPacket), 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !boxes.Texts.isEmpty(); }, 5000));
    EXPECT_EQ(boxes.Texts, QStringList{QString::fromUtf8(kDamagedAnswerText)});
    Ctl<QPushButton>(*w, "butProgr")->click();

    // The station greets on the new wait and answers well: shown, and
    // programming sends the station's true block back.
    ASSERT_TRUE(Connected());
    EXPECT_EQ(w->ReadParameters().RxFreq[0], 145575.0L);
    EXPECT_TRUE(station.ProgrammedBlocks().empty());
    QTest::mouseClick(Ctl<QPushButton>(*w, "butProgr"), Qt::LeftButton);
    ASSERT_TRUE(station.WaitFor([&] { return station.ProgrammedBlocks().size() == 1; }, 5000ms));
    EXPECT_EQ(station.ProgrammedBlocks()[0].Data, kWorkedBlock);
    EXPECT_EQ(Count(damagedLine), 1);
    EXPECT_EQ(boxes.Texts.size(), 1);
}

TEST_F(SequenceTest, APulledAdapterIsReportedAndThePortListComesBack)
{
    struct Row {
        const char* label;
        bool duringWait;
    };
    for (const Row row : {Row{"during the wait", true}, Row{"during the answer", false}}) {
        SCOPED_TRACE(row.label);
        auto sim = std::make_unique<StationSimulator>();
        StopWaitingFlag = false;
        ConnectedFlag = false;
        w = std::make_unique<TfmMain>(PortsOptions({QString::fromStdString(sim->SlavePath())}, 300));
        w->show();
        ASSERT_TRUE(WaitStarted(*w, 1));
        boxes.Texts.clear();
        if (row.duringWait) {
            Later(1200, [&] { sim->HangUp(); });
        } else {
            sim->SetFault(StationFault::HangUp);
            Later(1200, [&] { sim->SendGreeting(); });
        }
        ASSERT_TRUE(QTest::qWaitFor([&] { return !boxes.Texts.isEmpty(); }, 10000));
        // The system's words for the code, not the serial component's English.
        EXPECT_EQ(boxes.Texts[0], QStringLiteral("Ошибка порта ") + QString::fromStdString(sim->SlavePath()) +
                                      QStringLiteral(": ") + SystemErrorText(EIO) + QLatin1Char('.'));
        EXPECT_FALSE(w->ComPort.IsOpen());
        EXPECT_TRUE(Ctl<QComboBox>(*w, "cbPort")->isVisible());
        EXPECT_TRUE(Ctl<QPushButton>(*w, "butWaiting")->isVisible());
        EXPECT_TRUE(Ctl<TBevelPanel>(*w, "panZastavka")->isVisible());
        EXPECT_FALSE(Ctl<QTimer>(*w, "StartTimer")->isActive());
        EXPECT_FALSE(ConnectedFlag);
        EXPECT_FALSE(StopWaitingFlag);
        w->close();
        w.reset();
    }
}

TEST_F(SequenceTest, ClosingMidWayNeverHangsNorSaysGoodbyeTwice)
{
    // Closing once the confirmation is out (at its end or while the answer is
    // collected): not connected, no goodbye, and the failure of the
    // collection on the closed port stays quiet.
    station.SetGreetOnWait(true);
    station.SetFault(StationFault::Silence);
    Start();
    bool closedInCollection = false;
    When([&] { return !PacketsNumbered(station, kPacketConfirm).empty(); },
         [&] {
             closedInCollection = LogLines(*w).contains(QStringLiteral("Посылаем пакет-подтверждение (пакет № 08)"));
             w->close();
         });
    ASSERT_TRUE(QTest::qWaitFor([&] { return !w->isVisible(); }, 10000));
    EXPECT_TRUE(closedInCollection);
    EXPECT_FALSE(w->ComPort.IsOpen());
    QTest::qWait(300);
    EXPECT_EQ(station.GoodbyeCount(), 0);
    EXPECT_TRUE(boxes.Texts.isEmpty());
}

TEST_F(SequenceTest, ClosingDuringTheThankYouPageEndsWithoutANewWait)
{
    station.SetGreetOnWait(true);
    Start(1500);
    ASSERT_TRUE(Connected());
    station.SetGreetOnWait(false);
    // Queued during the blocked page; handled right after it.
    Later(400, [&] { w->close(); });
    QTest::mouseClick(Ctl<QPushButton>(*w, "butProgr"), Qt::LeftButton);
    EXPECT_FALSE(w->isVisible());
    EXPECT_FALSE(w->ComPort.IsOpen());
    EXPECT_FALSE(Ctl<QTimer>(*w, "StartTimer")->isActive());
    ASSERT_TRUE(station.WaitFor([&] { return station.ProgrammedBlocks().size() == 1; }, 5000ms));
    QTest::qWait(300);
    EXPECT_EQ(station.GoodbyeCount(), 0);
    EXPECT_TRUE(boxes.Texts.isEmpty());
}

// The thank-you page holds the operator's input as a sleeping window would,
// yet the window keeps handling its timers: a click made during the page
// reaches the window only after it.
TEST_F(SequenceTest, TheThankYouPageRunsTimersButHoldsClicks)
{
    station.SetGreetOnWait(true);
    Start(1500);
    ASSERT_TRUE(Connected());
    station.SetGreetOnWait(false);
    auto* screens = Ctl<QStackedWidget>(*w, "Screens");
    const auto onPage = [&] { return screens->currentWidget()->objectName() == QStringLiteral("Reklama"); };
    struct TPresses : QObject {
        std::function<bool()> OnPage;
        QList<bool> Seen;  // whether the page showed, at each press the window got
        bool eventFilter(QObject*, QEvent* e) override
        {
            if (e->type() == QEvent::MouseButtonPress)
                Seen << OnPage();
            return false;
        }
    } presses;
    presses.OnPage = onPage;
    w->installEventFilter(&presses);
    int ticksOnPage = 0;
    QTimer beat;
    QObject::connect(&beat, &QTimer::timeout, [&] {
        if (onPage() && ++ticksOnPage == 1)
            QCoreApplication::postEvent(w.get(), new QMouseEvent(QEvent::MouseButtonPress, QPointF(5, 5), QPointF(5, 5),
                                                                 Qt::LeftButton, Qt::LeftButton, Qt::NoModifier));
    });
    beat.start(20);
    QTest::mouseClick(Ctl<QPushButton>(*w, "butProgr"), Qt::LeftButton);
    QTest::qWait(200);
    EXPECT_GE(ticksOnPage, 5) << "the window's timers stood still during the page";
    EXPECT_EQ(presses.Seen, QList<bool>{false});
}

}  // namespace

namespace {

TEST_F(SequenceTest, ClosingDuringASendWaitsForItsLastByte)
{
    station.SetGreetOnWait(true);
    Start(1000);
    ASSERT_TRUE(Connected());
    station.SetGreetOnWait(false);
    const std::size_t before = station.ReceivedBytes().size();
    bool closedMidPacket = false;
    When([&] { return station.ReceivedBytes().size() >= before + 5; },
         [&] {
             closedMidPacket = station.ProgrammedBlocks().empty();
             w->close();
         });
    QTest::mouseClick(Ctl<QPushButton>(*w, "butProgr"), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !w->isVisible(); }, 10000));
    EXPECT_TRUE(closedMidPacket);
    ASSERT_TRUE(station.WaitFor([&] { return station.ProgrammedBlocks().size() == 1; }, 5000ms));
    EXPECT_TRUE(station.ProgrammedBlocks()[0].CrcOk);
    QTest::qWait(300);
    // Programmed, so no goodbye; and nothing after the packet.
    EXPECT_EQ(station.GoodbyeCount(), 0);
    EXPECT_EQ(station.Packets().back().Number, kPacketProgram);
    EXPECT_TRUE(boxes.Texts.isEmpty());
}

TEST_F(SequenceTest, CoveredProgrammingButtonNeverActs)
{
    station.SetGreetOnWait(false);
    Start();
    w->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(w.get()));
    auto* progr = Ctl<QPushButton>(*w, "butProgr");

    // At start-up: nothing read, so nothing may be programmed.
    EXPECT_FALSE(progr->isVisible());
    PressEverything(*w);
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
    PressEverything(*w);
    // Even a click that reaches the handler directly programs nothing.
    progr->click();
    QTest::qWait(200);
    EXPECT_EQ(station.ProgrammedBlocks().size(), 1u);
}

TEST_F(SequenceTest, WheelOverTheClosedPortListChangesNothing)
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

// The window's own timings, as operators run it: only the ports are the
// test's. From the programming packet, the thank-you page (5000 ms) and the
// timer (555 ms) pass before the next wait purges the line; the station then
// greets and is confirmed 50 ms after its ETX.
TEST_F(SequenceTest, TheShippedTimingsShowOnTheLine)
{
    std::vector<SimClock::time_point> purges;
    std::mutex mutex;
    StationConfig c = PacedStation();
    c.OnEvent = [&](SimClock::time_point t, const std::string& what) {
        if (what == "utility purged its input") {
            std::lock_guard<std::mutex> lock(mutex);
            purges.push_back(t);
        }
    };
    StationSimulator timed(c);
    timed.SetGreetOnWait(true);
    TWindowOptions shipped;
    shipped.PortNames = [ports = QStringList{QString::fromStdString(timed.SlavePath()),
                                             QString::fromStdString(other.SlavePath())}] { return ports; };
    shipped.LockDir = TestLockDir();
    shipped.CopiesDir = TestCopiesDir();
    StartWith(std::move(shipped));
    ASSERT_TRUE(Connected());

    QTest::mouseClick(Ctl<QPushButton>(*w, "butProgr"), Qt::LeftButton);
    ASSERT_EQ(timed.ProgrammedBlocks().size(), 1u);
    ASSERT_TRUE(Connected(15000));
    w->close();
    const auto programmed = timed.ProgrammedBlocks()[0].End;
    const auto confirms = PacketsNumbered(timed, kPacketConfirm);
    ASSERT_EQ(confirms.size(), 2u);
    const auto ms = [](SimClock::duration d) {
        return std::chrono::duration_cast<std::chrono::milliseconds>(d).count();
    };
    {
        std::lock_guard<std::mutex> lock(mutex);
        const auto next = std::find_if(purges.begin(), purges.end(), [&](auto t) { return t > programmed; });
        ASSERT_NE(next, purges.end());
        EXPECT_GE(ms(*next - programmed), 5500);
        EXPECT_LE(ms(*next - programmed), 7000);
    }
    EXPECT_GE(ms(confirms[1].End - programmed), 5600);
    EXPECT_LE(ms(confirms[1].End - programmed), 8000);
}

}  // namespace

namespace {

// A silent line costs the waiting window nothing: it sleeps until a byte, a
// message or a failure can have changed something, rather than every 20 ms.
TEST(SilentWait, TheWindowSleepsUntilSomethingHappens)
{
    StationSimulator silent;
    StopWaitingFlag = false;
    ConnectedFlag = false;
    int pauses = 0;
    TWindowOptions o = PortsOptions({QString::fromStdString(silent.SlavePath())});
    o.Sleep = [&pauses](std::uint32_t ms) {
        ++pauses;
        SleepMs(ms);
    };
    TfmMain w(o);
    w.show();
    ASSERT_TRUE(WaitStarted(w, 1));

    // Measured from inside the wait, which runs nested in the timer's tick;
    // the window thread's voluntary switches are its wake-ups.
    const auto switches = [] {
        rusage u{};
        getrusage(RUSAGE_THREAD, &u);
        return u.ru_nvcsw;
    };
    bool waiting = false;
    int pausesInSecond = -1;
    long wakeUps = -1;
    QTimer::singleShot(1500, &w, [&] {
        waiting = LogLines(w).size() == 1 && LogLines(w)[0].startsWith(kWaitLine);
        const int p0 = pauses;
        const long s0 = switches();
        QTimer::singleShot(1000, &w, [&, p0, s0] {
            pausesInSecond = pauses - p0;
            wakeUps = switches() - s0;
            // Nothing ticks now: only the greeting's bytes can wake the wait.
            silent.SendGreeting();
        });
    });
    bool rescued = false;
    QTimer::singleShot(20000, &w, [&] {
        rescued = true;
        StopWaitingFlag = true;
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return pausesInSecond >= 0 && ConnectedFlag; }, 30000));
    EXPECT_FALSE(rescued);
    EXPECT_TRUE(waiting);
    // A 20 ms poll makes about 50 of each; the margins leave room for a
    // loaded machine.
    EXPECT_LE(pausesInSecond, 2);
    EXPECT_LE(wakeUps, 10);
    w.close();
}

}  // namespace

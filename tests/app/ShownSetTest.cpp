// The link's model of the window checked against the window itself: what the
// editors hold after a block is shown, and the block "Программирование" sends.
#include "AppTestSupport.h"

#include "EdgeBlocks.h"
#include "ParamFile.h"
#include "StationSimulator.h"

#include <QTest>

#include <chrono>

using namespace vostrel;

namespace {

using namespace std::chrono_literals;

// The editors' values, with the duplex toggles as they show, not as the
// edits tell.
TParameterSet Editors(const TfmMain& w)
{
    TParameterSet s = w.ReadParameters();
    s.Simplex = {Ctl<TSelector>(w, "panZPCH1")->Tag() == 1, Ctl<TSelector>(w, "panZPCH2")->Tag() == 1};
    return s;
}

// The window's own texts against the field texts the files and the
// command-line programmer use: captions as they are, numbers without the
// edits' digit groups.
void ExpectShownAsDescribed(const TfmMain& w, const TParameterSet& set)
{
    const char* controls[16] = {"panStep",       "panZPCH1",    "edZPCH1_RxFreq", "edZPCH1_TxFreq",
                                "panZPCH1Power", "panZPCH2",    "edZPCH2_RxFreq", "edZPCH2_TxFreq",
                                "panZPCH2Power", "panBaudRate", "panFlowControl", "edXoffAfter",
                                "edRxPause",     "panEfirSkor", "panKod",         "edKodPaketSize"};
    const std::vector<TFieldText> fields = DescribeSet(set);
    ASSERT_EQ(fields.size(), 16u);
    for (std::size_t i = 0; i < fields.size(); ++i) {
        QString shown;
        if (auto* sel = w.findChild<TSelector*>(QString::fromLatin1(controls[i])))
            shown = sel->Caption();
        else
            shown = Ctl<TNumEdit>(w, controls[i])->text().remove(u' ');
        EXPECT_EQ(shown.toStdString(), fields[i].Value) << fields[i].Name;
    }
}

TEST(ShownSet, IsWhatTheEditorsHoldAfterShowingABlock)
{
    TfmMain w{NoPortOptions()};
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    for (const TBlockRow& row : EdgeBlocks(300)) {
        SCOPED_TRACE(row.Label);
        // As the sequence shows an answer: decoded over the editors' values.
        const TParameterSet previous = w.ReadParameters();
        TParameterSet decoded;
        ASSERT_TRUE(DecodeBlock(row.Block, previous, decoded));
        w.ActiveControls();
        w.ShowParameters(decoded);
        const TParameterSet expected = ShownSet(row.Block, previous);
        EXPECT_EQ(Editors(w), expected);
        ExpectShownAsDescribed(w, expected);
        w.ClearControls();
    }
}

TEST(ShownSet, ProgrammingBlockIsWhatTheWindowSendsForAStation)
{
    StationSimulator station;
    station.SetGreetOnWait(true);
    TModalBoxCloser boxes;
    StopWaitingFlag = false;
    ConnectedFlag = false;
    const std::vector<TBlockRow> rows = EdgeBlocks(4);
    station.SetBlock(rows[0].Block);
    TfmMain w{PortsOptions({QString::fromStdString(station.SlavePath())}, 100)};
    w.show();
    ASSERT_TRUE(WaitStarted(w, 1));
    TParameterSet previous = w.ReadParameters();
    for (std::size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(rows[i].Label);
        ASSERT_TRUE(QTest::qWaitFor([] { return ConnectedFlag; }, 15000));
        const TParameterSet shown = ShownSet(rows[i].Block, previous);
        EXPECT_EQ(Editors(w), shown);

        QTest::mouseClick(Ctl<QPushButton>(w, "butProgr"), Qt::LeftButton);
        // The window waits again; the next station answers its greeting.
        previous = w.ReadParameters();
        if (i + 1 < rows.size())
            station.SetBlock(rows[i + 1].Block);
        ASSERT_TRUE(station.WaitFor([&] { return station.ProgrammedBlocks().size() == i + 1; }, 5000ms));
        TNullLog log;
        EXPECT_EQ(station.ProgrammedBlocks()[i].Data, ProgrammingBlock(shown, log));
    }
    w.close();
    EXPECT_TRUE(boxes.Texts.isEmpty());
}

}  // namespace

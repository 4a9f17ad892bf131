// The line-event watcher on real pseudo-terminals, with the test's thread as
// the owner that runs the hand-overs.
#include "CommInt.h"
#include "SerialTestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vostrel {

namespace {

class CommEventsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!station.Ok())
            GTEST_SKIP() << "no pseudo-terminals on this machine";
        baseThreads = ThreadCount();
        port = std::make_unique<TComm>();
        port->SetDeviceName(station.SlavePath());
        port->SetBaudRate(br4800);
        port->SetFlowControl(fcNone);
        port->SetDispatcher(owner.Dispatcher());
        port->OnRxChar = [this](TCustomComm*, std::int32_t n) { rxCounts.push_back(n); };
        port->OnTxEmpty = [this](TCustomComm*) { ++txEmpty; };
    }
    void TearDown() override
    {
        port.reset();
        EXPECT_TRUE(WatchersGone()) << ThreadCount() << " threads, " << baseThreads << " before";
    }
    // Runs hand-overs meanwhile: a stopped watcher may still be queueing one.
    bool WatchersGone()
    {
        return WaitUntil(
            [&] {
                owner.ProcessFor(10);
                return ThreadCount() <= baseThreads;
            },
            10000);
    }
    PtyStation station;
    OwnerLoop owner;
    std::unique_ptr<TComm> port;
    int baseThreads = 0;
    std::vector<std::int32_t> rxCounts;
    int txEmpty = 0;
};

}  // namespace

TEST_F(CommEventsTest, ReceivedBytesAreReportedOncePerArrival)
{
    port->SetMonitorEvents(EventBit(evRxChar));
    port->OpenPort();
    owner.ProcessFor(200);
    EXPECT_TRUE(rxCounts.empty()) << "nothing arrived yet";

    station.Send({1, 2, 3, 4, 5});
    ASSERT_TRUE(owner.ProcessUntil([&] { return !rxCounts.empty() && rxCounts.back() == 5; }, 5000));
    // The bytes stay unread, yet no further calls come: an edge, not a level.
    const std::size_t calls = rxCounts.size();
    owner.ProcessFor(300);
    EXPECT_EQ(rxCounts.size(), calls);

    station.Send({6, 7});
    ASSERT_TRUE(owner.ProcessUntil([&] { return rxCounts.back() == 7; }, 5000));
    std::uint8_t buf[16];
    EXPECT_EQ(port->ReadBytes(buf, sizeof buf), 7);
    EXPECT_EQ(txEmpty, 0);
}

TEST_F(CommEventsTest, NothingArrivesNothingIsCalled)
{
    int calls = 0;
    auto count = [&](TCustomComm*) { ++calls; };
    port->OnBreak = port->OnCts = port->OnDsr = port->OnRing = port->OnRlsd = port->OnRxFlag = count;
    port->OnError = [&](TCustomComm*, std::int32_t) { ++calls; };
    port->OpenPort();  // all nine events chosen
    owner.ProcessFor(400);
    EXPECT_EQ(calls, 0);
    EXPECT_TRUE(rxCounts.empty());
    EXPECT_EQ(txEmpty, 0);
    EXPECT_EQ(owner.Pending(), 0u);
}

TEST_F(CommEventsTest, OutputEmptyFollowsAWrite)
{
    port->SetMonitorEvents(EventBit(evTxEmpty) | EventBit(evRxChar));
    port->OpenPort();
    owner.ProcessFor(150);
    EXPECT_EQ(txEmpty, 0);

    const std::uint8_t packet[] = {0x10, 0x08, 0x03};
    for (std::uint8_t b : packet)
        ASSERT_EQ(port->WriteBytes(&b, 1), 1);
    ASSERT_TRUE(owner.ProcessUntil([&] { return txEmpty > 0; }, 5000));
    EXPECT_EQ(station.Receive(3), std::vector<std::uint8_t>(std::begin(packet), std::end(packet)));
    owner.ProcessFor(1000);  // a burst may drain more than once: let the reports settle
    const int after = txEmpty;
    EXPECT_LE(after, 3) << "at most one report per write";
    owner.ProcessFor(500);
    EXPECT_EQ(txEmpty, after) << "no writes, no more reports";
    EXPECT_TRUE(rxCounts.empty());
}

TEST_F(CommEventsTest, HandlersRunInTheirOrder)
{
    std::vector<std::string> calls;
    port->OnBreak = [&](TCustomComm*) { calls.push_back("Break"); };
    port->OnCts = [&](TCustomComm*) { calls.push_back("Cts"); };
    port->OnDsr = [&](TCustomComm*) { calls.push_back("Dsr"); };
    port->OnError = [&](TCustomComm*, std::int32_t e) { calls.push_back("Error" + std::to_string(e)); };
    port->OnRing = [&](TCustomComm*) { calls.push_back("Ring"); };
    port->OnRlsd = [&](TCustomComm*) { calls.push_back("Rlsd"); };
    port->OnRxChar = [&](TCustomComm* c, std::int32_t n) {
        EXPECT_EQ(c, port.get());
        calls.push_back("RxChar" + std::to_string(n));
    };
    port->OnRxFlag = [&](TCustomComm*) { calls.push_back("RxFlag"); };
    port->OnTxEmpty = [&](TCustomComm*) { calls.push_back("TxEmpty"); };
    port->SetMonitorEvents(0);
    port->OpenPort();

    struct Row {
        const char* label;
        std::uint32_t mask;
        std::vector<std::string> want;
    };
    const Row rows[] = {
        {"nothing waiting: no RxChar", 0x1FF, {"Break", "Cts", "Dsr", "Error0", "Ring", "Rlsd", "RxFlag", "TxEmpty"}},
        {"only the bits given", EV_TXEMPTY | EV_CTS | EV_RXFLAG, {"Cts", "RxFlag", "TxEmpty"}},
        {"empty mask", 0, {}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.label);
        calls.clear();
        port->DispatchCommEvents(r.mask);
        EXPECT_EQ(calls, r.want);
    }
    station.Send({0x10, 0x03});
    ASSERT_TRUE(WaitUntil([&] { return port->InputCount() == 2; }, 5000));
    calls.clear();
    port->DispatchCommEvents(EV_RXCHAR | EV_ERR | EV_RING | EV_BREAK | EV_TXEMPTY);
    EXPECT_EQ(calls, (std::vector<std::string>{"Break", "Error0", "Ring", "RxChar2", "TxEmpty"}));

    // Each event both ways: the bit the watcher waits for, and from the mask
    // of the event set back to that event's handler alone.
    struct EventRow {
        TCommEventType event;
        std::uint32_t bit;
        const char* handler;
    };
    const EventRow events[] = {
        {evBreak, EV_BREAK, "Break"},     {evCts, EV_CTS, "Cts"},          {evDsr, EV_DSR, "Dsr"},
        {evError, EV_ERR, "Error0"},      {evRing, EV_RING, "Ring"},       {evRlsd, EV_RLSD, "Rlsd"},
        {evRxChar, EV_RXCHAR, "RxChar2"}, {evRxFlag, EV_RXFLAG, "RxFlag"}, {evTxEmpty, EV_TXEMPTY, "TxEmpty"},
    };
    std::uint32_t all = 0;
    for (const EventRow& e : events) {
        SCOPED_TRACE(e.handler);
        EXPECT_EQ(EventMaskBit(e.event), e.bit);
        calls.clear();
        port->DispatchCommEvents(EventMask(EventBit(e.event)));
        EXPECT_EQ(calls, std::vector<std::string>{e.handler});
        all |= e.bit;
    }
    EXPECT_EQ(EventMask(kAllCommEvents), all);
}

TEST_F(CommEventsTest, WatcherRunsOnlyWithEventsAndADispatcher)
{
    port->SetMonitorEvents(0);
    port->OpenPort();
    EXPECT_EQ(ThreadCount(), baseThreads);
    port->ClosePort();

    TComm silent;  // events chosen but nowhere to hand them
    silent.SetDeviceName(station.SlavePath());
    silent.OpenPort();
    EXPECT_EQ(ThreadCount(), baseThreads);
    silent.ClosePort();

    port->SetMonitorEvents(kAllCommEvents);
    port->OpenPort();
    EXPECT_EQ(ThreadCount(), baseThreads + 1);
    port->ClosePort();
    EXPECT_TRUE(WatchersGone());
}

TEST_F(CommEventsTest, OpenCloseManyTimesLeavesNoThreadBehind)
{
    for (int i = 0; i < 200; ++i) {
        SCOPED_TRACE(i);
        port->OpenPort();
        ASSERT_TRUE(port->IsOpen());
        if (i % 2 == 0) {
            station.Send({static_cast<std::uint8_t>(i)});
            const std::uint8_t b = 0x42;
            port->WriteBytes(&b, 1);
        }
        if (i % 4 == 0)
            owner.ProcessFor(2);
        port->ClosePort();  // hand-overs may still be queued: closing must not wait for them
        if (i % 8 == 0)
            station.Receive(1u << 16, 1);
    }
    EXPECT_TRUE(WatchersGone()) << ThreadCount();
}

TEST_F(CommEventsTest, ClosingWhileAHandOverWaitsDoesNotDeadlock)
{
    port->SetMonitorEvents(EventBit(evRxChar));
    port->OpenPort();
    station.Send({1, 2, 3});
    // The watcher now waits on the owner, which is busy here and does not run it.
    ASSERT_TRUE(WaitUntil([&] { return owner.Pending() == 1; }, 5000));
    port->ClosePort();
    EXPECT_FALSE(port->IsOpen());
    port.reset();  // even the component is gone before the hand-over runs

    owner.ProcessFor(100);
    EXPECT_TRUE(rxCounts.empty()) << "a closed port calls no handler";
    EXPECT_TRUE(WatchersGone());
}

TEST_F(CommEventsTest, AHandlerMayCloseThePort)
{
    port->SetMonitorEvents(EventBit(evRxChar) | EventBit(evTxEmpty));
    port->OnRxChar = [this](TCustomComm* c, std::int32_t n) {
        rxCounts.push_back(n);
        c->ClosePort();
    };
    port->OpenPort();
    station.Send({1});
    ASSERT_TRUE(owner.ProcessUntil([&] { return !port->IsOpen(); }, 5000));
    EXPECT_EQ(rxCounts, std::vector<std::int32_t>{1});
    EXPECT_TRUE(WatchersGone());
    port->OpenPort();  // the device was really released
    EXPECT_TRUE(port->IsOpen());
}

TEST_F(CommEventsTest, HangUpWhileWatchingEndsCleanly)
{
    port->OpenPort();  // all events
    station.Send({9});
    ASSERT_TRUE(owner.ProcessUntil([&] { return !rxCounts.empty(); }, 5000));
    station.HangUp();
    owner.ProcessFor(300);
    EXPECT_LE(rxCounts.size(), 2u) << "a vanished device must not keep reporting";
    std::uint8_t b = 0;
    EXPECT_THROW(port->WriteBytes(&b, 1), ECommError);
    port->ClosePort();
}

}  // namespace vostrel

// Hundreds of exchanges between the real window and simulated stations in one
// process: random station blocks, every programming compared byte for byte
// with what the editors showed, faults woven in, and the process's
// descriptors, threads and memory compared between the first exchange and the
// last. SOAK_EXCHANGES sets the count (default 200), SOAK_SEED the blocks.
#include "AppTestSupport.h"

#include "Packets.h"
#include "ParamBlock.h"
#include "StationSimulator.h"

#include <QTest>
#include <QTextBlock>
#include <QTextDocument>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <dirent.h>

using namespace vostrel;

namespace {

using namespace std::chrono_literals;
using SoakClock = std::chrono::steady_clock;

const QString kWaitLine = QStringLiteral("Начинаем ждать сообщение от станции на порту ");
const QString kConfirmLine = QStringLiteral("Посылаем пакет-подтверждение (пакет № 08)");
const QString kBadPacket = QStringLiteral("Полученный пакет - неправильный");
const QString kReadingLine = QStringLiteral("Читаем.");

// The window's clock runs this many times fast, so that hundreds of
// exchanges fit in a few minutes: its waits, its one-second collection of
// the answer and its start timer all shrink alike. The simulated station
// answers within 50 ms, well inside the shortened second.
constexpr std::uint32_t kSpeed = 5;

TWindowOptions SoakOptions(const QStringList& ports)
{
    TWindowOptions o = PortsOptions(ports, 250);
    o.TickCount = [] { return TickCount() * kSpeed; };
    o.Sleep = [](std::uint32_t ms) { SleepMs((ms + kSpeed - 1) / kSpeed); };
    o.StartTimerMs /= static_cast<int>(kSpeed);
    return o;
}

// ---- what the process holds ----

int CountEntries(const char* dir)
{
    DIR* d = ::opendir(dir);
    if (d == nullptr)
        return -1;
    int n = 0;
    while (const dirent* e = ::readdir(d))
        n += e->d_name[0] == '.' ? 0 : 1;
    ::closedir(d);
    return n - (std::string(dir) == "/proc/self/fd" ? 1 : 0);  // the one opendir holds
}

long RssKb()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0)
            return std::strtol(line.c_str() + 6, nullptr, 10);
    }
    return -1;
}

struct Snapshot {
    int Fds = 0;
    int Threads = 0;
    long RssKb = 0;
};

Snapshot Measure()
{
    return Snapshot{CountEntries("/proc/self/fd"), CountEntries("/proc/self/task"), RssKb()};
}

// ---- random station blocks ----

struct BlockCoverage {
    int WithDle = 0;
    int OutOfBand = 0;
    int ReservedBits = 0;
    int FlowThree = 0;
    int AirThree = 0;
};

// Either 34 random bytes or a block the encoder made from random fields
// (frequencies at times far outside the band) with reserved bits set, the
// value 3 in the flow-control or air-speed field and 0x10 bytes planted.
TByteArray RandomStationBlock(std::mt19937& rng, BlockCoverage& cov)
{
    auto pick = [&rng](int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); };
    TByteArray b(kBlockSize);
    if (pick(3) == 0) {
        for (auto& x : b)
            x = static_cast<std::uint8_t>(pick(256));
    } else {
        auto freq = [&]() -> long double {
            if (pick(4) == 0)
                return 12.5L * pick(200000);  // anywhere the word reaches
            return 140000.0L + 12.5L * pick(2721);
        };
        TParameterSet s;
        s.StepCode = pick(2);
        for (std::size_t ch = 0; ch < 2; ++ch) {
            s.RxFreq[ch] = freq();
            s.TxFreq[ch] = pick(3) == 0 ? s.RxFreq[ch] : freq();
            s.Simplex[ch] = s.RxFreq[ch] == s.TxFreq[ch];
            s.PowerCode[ch] = 1 + pick(3);
        }
        s.BaudCode = pick(4);
        s.FlowCode = pick(3);
        s.XoffAfter = pick(256);
        s.RxPause = pick(19530) / 100.0L;
        s.AirSpeedCode = pick(3);
        s.KodCode = pick(2);
        s.KodPaketSize = pick(256);
        TNullLog quiet;
        b = EncodeBlock(s, quiet);
        if (pick(2) == 0) {
            for (int word = 0; word < 4; ++word) {
                b[static_cast<std::size_t>(word * 3)] |= static_cast<std::uint8_t>(pick(16) << 4);
                b[static_cast<std::size_t>(word * 3 + 2)] ^= static_cast<std::uint8_t>(pick(4));
            }
            b[12] |= static_cast<std::uint8_t>(pick(2) << 7);
            b[17] ^= static_cast<std::uint8_t>(pick(2) << 6 | pick(4) << 2);
        }
        if (pick(4) == 0)
            b[12] |= 0x0C;
        if (pick(4) == 0)
            b[12] |= 0x60;
        for (int i = pick(4); i > 0; --i)
            b[static_cast<std::size_t>(pick(kBlockSize))] = kDle;
    }

    cov.WithDle += std::count(b.begin(), b.end(), kDle) > 0 ? 1 : 0;
    TParameterSet decoded;
    DecodeBlock(b, TParameterSet{}, decoded);
    bool outside = false;
    for (long double f : {decoded.RxFreq[0], decoded.RxFreq[1], decoded.TxFreq[0], decoded.TxFreq[1]})
        outside = outside || f < 140000.0L || f > 174000.0L;
    cov.OutOfBand += outside ? 1 : 0;
    bool reserved = (b[12] & 0x80) != 0 || (b[17] & 0x4C) != 0x4C;
    for (int word = 0; word < 4; ++word) {
        const std::uint8_t hi = b[static_cast<std::size_t>(word * 3)];
        const std::uint8_t lo = b[static_cast<std::size_t>(word * 3 + 2)];
        reserved = reserved || (hi & 0xF0) != 0 || (lo & 0x03) != 0x01;
    }
    cov.ReservedBits += reserved ? 1 : 0;
    cov.FlowThree += ((b[12] >> 2) & 3) == 3 ? 1 : 0;
    cov.AirThree += ((b[12] >> 5) & 3) == 3 ? 1 : 0;
    return b;
}

// ---- the soak ----

enum class Fault { Noise, CutShort, Silence, HangUpInWait, HangUpForAnswer, PortChange, PortChangeInGreeting, Kinds };

const char* FaultName(Fault f)
{
    switch (f) {
    case Fault::Noise:
        return "line noise for a greeting";
    case Fault::CutShort:
        return "answer cut short";
    case Fault::Silence:
        return "no answer";
    case Fault::HangUpInWait:
        return "hang-up in the wait";
    case Fault::HangUpForAnswer:
        return "hang-up for the answer";
    case Fault::PortChange:
        return "port change in the wait";
    case Fault::PortChangeInGreeting:
        return "port change while a greeting is read";
    case Fault::Kinds:
        break;
    }
    return "?";
}

// Drives the window from inside its own event processing: the window spends
// nearly all its time in nested waits, so a QTimer polls the exchange log,
// the link flags and the message boxes and acts as an operator and a station
// would. Everything runs on the window's thread.
class TSoak {
public:
    explicit TSoak(std::uint32_t seed) : m_rng(seed)
    {
        for (auto& s : m_sims)
            s = std::make_unique<StationSimulator>();
        StopWaitingFlag = false;
        ConnectedFlag = false;
        m_window = std::make_unique<TfmMain>(SoakOptions(
            {QString::fromStdString(m_sims[0]->SlavePath()), QString::fromStdString(m_sims[1]->SlavePath())}));
        m_portIndex = {0, 1};
        NextExchange();
        QObject::connect(&m_poll, &QTimer::timeout, [this] { Poll(); });
        m_poll.start(5);
    }

    ~TSoak()
    {
        m_poll.stop();
        if (m_window)
            m_window->close();
        m_window.reset();
    }

    bool Start()
    {
        m_window->show();
        return WaitStarted(*m_window, 2) && m_window->ComPort.IsOpen();
    }

    // Runs until `count` exchanges are complete and the window waits no more;
    // false when the soak stalled or time ran out.
    bool RunTo(int count)
    {
        m_pauseAt = count;
        if (m_paused) {
            m_paused = false;
            PickPort(m_cur);  // the operator starts a new wait
        }
        m_progress = SoakClock::now();
        const bool reached = QTest::qWaitFor([this] { return m_paused || m_aborted; }, 240000);
        if (!reached && !m_aborted)
            m_failure = "time ran out after " + std::to_string(m_done) + " exchanges";
        if (!reached || m_aborted)
            return false;
        CheckProgramming();
        QTest::qWait(150);  // let the station's thread and the port settle
        return true;
    }

    int Done() const { return m_done; }
    int Waits() const { return m_waits; }
    int Mismatches() const { return m_mismatches; }
    const std::string& FirstMismatch() const { return m_firstMismatch; }
    const std::map<Fault, int>& Faults() const { return m_faults; }
    int FaultCount(Fault kind) const
    {
        const auto it = m_faults.find(kind);
        return it == m_faults.end() ? 0 : it->second;
    }
    const QStringList& BoxTexts() const { return m_boxes.Texts; }
    const BlockCoverage& Coverage() const { return m_coverage; }
    int RejectedGreetings() const { return m_rejectedGreetings; }
    int UnreadAnswers() const { return m_unreadAnswers; }
    int AbandonedReads() const { return m_abandonedReads; }
    const std::string& Failure() const { return m_failure; }

private:
    struct Pending {
        StationSimulator* Sim = nullptr;
        std::size_t Before = 0;  // packets 09 the station had before the click
        TByteArray Packet;
        int Exchange = 0;
    };

    void Poll()
    {
        if (m_inPoll || m_aborted)
            return;
        m_inPoll = true;
        ReadNewLogLines();
        RunDueActions();
        if (m_boxes.Texts.size() > m_boxesSeen) {
            m_boxesSeen = m_boxes.Texts.size();
            // The failed handler unwinds first; then a fresh station is plugged in.
            After(30ms, [this] { ReplaceStation(); });
        }
        if (ConnectedFlag && !m_paused)
            Program();
        if (SoakClock::now() - m_progress > 20s)
            Abort("no progress for 20 s");
        m_inPoll = false;
    }

    void Abort(const std::string& why)
    {
        m_failure = why + " after " + std::to_string(m_done) + " exchanges, " + std::to_string(m_waits) + " waits";
        m_aborted = true;
        StopWaitingFlag = true;
    }

    void After(std::chrono::milliseconds delay, std::function<void()> fn)
    {
        m_actions.push_back({SoakClock::now() + delay, std::move(fn)});
    }

    void RunDueActions()
    {
        const auto now = SoakClock::now();
        for (std::size_t i = 0; i < m_actions.size();) {
            if (m_actions[i].first > now) {
                ++i;
                continue;
            }
            auto fn = std::move(m_actions[i].second);
            m_actions.erase(m_actions.begin() + static_cast<std::ptrdiff_t>(i));
            fn();
        }
    }

    // Every new line is looked at once. The log may drop its oldest lines,
    // so the reader follows the last line it saw rather than a line number.
    void ReadNewLogLines()
    {
        const QTextDocument* doc = Ctl<TExchangeLog>(*m_window, "Memo1")->document();
        if (doc->isEmpty())
            return;
        QTextBlock b = m_lastLine.isValid() ? m_lastLine.next() : doc->firstBlock();
        for (; b.isValid(); b = b.next()) {
            m_lastLine = b;
            OnLine(b.text());
        }
    }

    void OnLine(const QString& line)
    {
        m_progress = SoakClock::now();
        if (line.startsWith(kWaitLine)) {
            OnWaitBegan(line.mid(kWaitLine.size()).toStdString());
        } else if (line == kReadingLine) {
            m_readingGreeting = true;
        } else if (line == kConfirmLine) {
            m_answerPhase = true;
            m_readingGreeting = false;
        } else if (line == kBadPacket) {
            m_readingGreeting = false;
            if (m_answerPhase) {
                ++m_unreadAnswers;  // the window waits again by itself
            } else {
                ++m_rejectedGreetings;
                After(10ms, [this] { PickPort(m_cur); });  // the operator picks the port again
            }
        }
    }

    void OnWaitBegan(const std::string& port)
    {
        ++m_waits;
        m_answerPhase = false;
        if (m_readingGreeting)
            ++m_abandonedReads;  // a port change cut the greeting off
        m_readingGreeting = false;
        CheckProgramming();
        if (port != m_sims[m_cur]->SlavePath()) {
            Abort("a wait began on " + port + " instead of " + m_sims[m_cur]->SlavePath());
            return;
        }
        if (m_done >= m_pauseAt) {
            // Ends this wait; nothing else runs until RunTo picks the port again.
            StopWaitingFlag = true;
            m_paused = true;
            return;
        }
        StationSimulator& sim = *m_sims[m_cur];
        sim.SetBlock(m_block);
        if (!m_faultDue) {
            sim.SendGreeting();
            return;
        }
        m_faultDue = false;
        ++m_faults[m_fault];
        switch (m_fault) {
        case Fault::Noise:
            sim.SetFault(StationFault::Noise, 1 + Pick(48));
            sim.SendGreeting();
            break;
        case Fault::CutShort:
            sim.SetFault(StationFault::CutShort, Pick(static_cast<int>(StationAnswerLine(m_block).size())));
            sim.SendGreeting();
            break;
        case Fault::Silence:
            sim.SetFault(StationFault::Silence);
            sim.SendGreeting();
            break;
        case Fault::HangUpForAnswer:
            sim.SetFault(StationFault::HangUp);
            sim.SendGreeting();
            break;
        case Fault::HangUpInWait:
            After(std::chrono::milliseconds(10 + Pick(60)), [this] { m_sims[m_cur]->HangUp(); });
            break;
        case Fault::PortChange:
            After(std::chrono::milliseconds(10 + Pick(60)), [this] { PickPort(m_cur ^ 1); });
            break;
        case Fault::PortChangeInGreeting:
            // A greeting without its end keeps the window reading for a while.
            sim.SetFault(StationFault::NoEtx);
            sim.SendGreeting();
            After(std::chrono::milliseconds(20 + Pick(60)), [this] { PickPort(m_cur ^ 1); });
            break;
        case Fault::Kinds:
            break;
        }
    }

    void PickPort(int sim)
    {
        m_cur = sim;
        QComboBox* list = Ctl<QComboBox>(*m_window, "cbPort");
        list->setCurrentIndex(m_portIndex[static_cast<std::size_t>(sim)]);
        emit list->activated(list->currentIndex());
    }

    // A hung-up station is dead: a new one takes its place on a new port.
    void ReplaceStation()
    {
        auto& slot = m_sims[static_cast<std::size_t>(m_cur)];
        slot.reset();
        slot = std::make_unique<StationSimulator>();
        Ctl<QComboBox>(*m_window, "cbPort")->addItem(QString::fromStdString(slot->SlavePath()));
        m_portIndex[static_cast<std::size_t>(m_cur)] = Ctl<QComboBox>(*m_window, "cbPort")->count() - 1;
        PickPort(m_cur);
    }

    // What the editors show, rounded to the grid as the click does, encoded.
    void Program()
    {
        const TParameterSet shown = m_window->ReadParameters();
        TParameterSet sent = shown;
        for (std::size_t ch = 0; ch < 2; ++ch) {
            sent.RxFreq[ch] = RoundToGrid(shown.RxFreq[ch], shown.StepCode);
            sent.TxFreq[ch] = RoundToGrid(shown.TxFreq[ch], shown.StepCode);
            sent.Simplex[ch] = sent.RxFreq[ch] == sent.TxFreq[ch];
        }
        TNullLog quiet;
        StationSimulator* sim = m_sims[m_cur].get();
        m_pending = Pending{sim, sim->ProgrammedBlocks().size(), BuildPacket(kPacketProgram, EncodeBlock(sent, quiet)),
                            m_done + 1};
        m_hasPending = true;
        QTest::mouseClick(Ctl<QPushButton>(*m_window, "butProgr"), Qt::LeftButton);
        m_progress = SoakClock::now();
        if (ConnectedFlag) {
            Abort("the click on the programming button did not program");
            return;
        }
        ++m_done;
        NextExchange();
    }

    // The station has long had the packet by the time the next wait begins.
    void CheckProgramming()
    {
        if (!m_hasPending)
            return;
        m_hasPending = false;
        const Pending& p = m_pending;
        const bool arrived = p.Sim->WaitFor([&] { return p.Sim->ProgrammedBlocks().size() > p.Before; },
                                            std::chrono::milliseconds(3000));
        const auto blocks = p.Sim->ProgrammedBlocks();
        std::ostringstream why;
        if (!arrived || blocks.size() != p.Before + 1) {
            why << "packets 09 at the station: " << blocks.size() << ", expected " << p.Before + 1;
        } else {
            const ReceivedPacket& got = blocks[p.Before];
            const TByteArray data(p.Packet.begin() + 2, p.Packet.end() - 4);
            const auto crc =
                static_cast<std::uint16_t>(p.Packet[p.Packet.size() - 4] << 8 | p.Packet[p.Packet.size() - 3]);
            if (got.Data != data)
                why << "block differs from the encoder's";
            if (got.Crc != crc || !got.CrcOk)
                why << " CRC " << got.Crc << " expected " << crc;
        }
        if (!why.str().empty()) {
            ++m_mismatches;
            if (m_firstMismatch.empty())
                m_firstMismatch = "exchange " + std::to_string(p.Exchange) + ": " + why.str();
        }
    }

    void NextExchange()
    {
        m_block = RandomStationBlock(m_rng, m_coverage);
        // Every fourth exchange begins with a fault, the kinds in turn.
        if (m_done % 4 == 3) {
            m_faultDue = true;
            m_fault = static_cast<Fault>(m_faultTurn++ % static_cast<int>(Fault::Kinds));
        }
    }

    int Pick(int n) { return std::uniform_int_distribution<int>(0, std::max(n, 1) - 1)(m_rng); }

    std::mt19937 m_rng;
    std::array<std::unique_ptr<StationSimulator>, 2> m_sims;
    std::array<int, 2> m_portIndex{};
    int m_cur = 0;
    TModalBoxCloser m_boxes;
    std::unique_ptr<TfmMain> m_window;
    QTimer m_poll;
    std::vector<std::pair<SoakClock::time_point, std::function<void()>>> m_actions;

    bool m_inPoll = false;
    bool m_aborted = false;
    bool m_paused = false;
    bool m_answerPhase = false;
    bool m_readingGreeting = false;
    int m_abandonedReads = 0;
    int m_pauseAt = 0;
    QTextBlock m_lastLine;
    qsizetype m_boxesSeen = 0;
    SoakClock::time_point m_progress = SoakClock::now();
    std::string m_failure;

    int m_done = 0;
    int m_waits = 0;
    TByteArray m_block;
    bool m_faultDue = false;
    Fault m_fault = Fault::Noise;
    int m_faultTurn = 0;
    std::map<Fault, int> m_faults;
    BlockCoverage m_coverage;
    int m_rejectedGreetings = 0;
    int m_unreadAnswers = 0;

    Pending m_pending;
    bool m_hasPending = false;
    int m_mismatches = 0;
    std::string m_firstMismatch;
};

int EnvInt(const char* name, int fallback)
{
    const char* v = std::getenv(name);
    return v != nullptr && *v != '\0' ? std::atoi(v) : fallback;
}

TEST(Soak, EveryProgrammingSendsWhatTheEditorsShowAndNothingGrows)
{
    const int exchanges = std::max(EnvInt("SOAK_EXCHANGES", 200), 12);
    const auto seed = static_cast<std::uint32_t>(EnvInt("SOAK_SEED", static_cast<int>(std::random_device{}() >> 1)));
    std::cout << "soak: " << exchanges << " exchanges, SOAK_SEED=" << seed << std::endl;
    SCOPED_TRACE("SOAK_SEED=" + std::to_string(seed));
    const auto began = SoakClock::now();

    TSoak soak(seed);
    ASSERT_TRUE(soak.Start());
    // Descriptors and threads after the first exchange, memory after a
    // warm-up (the toolkit's caches, the log's first pages), then the end.
    ASSERT_TRUE(soak.RunTo(1)) << soak.Failure();
    const Snapshot first = Measure();
    const int warmUp = 10;
    ASSERT_TRUE(soak.RunTo(warmUp)) << soak.Failure();
    const Snapshot warm = Measure();
    ASSERT_TRUE(soak.RunTo(exchanges)) << soak.Failure();
    const Snapshot last = Measure();
    const double seconds = std::chrono::duration<double>(SoakClock::now() - began).count();

    std::cout << "soak: " << soak.Done() << " exchanges programmed and checked, " << soak.Waits() << " waits, "
              << seconds << " s\n";
    std::cout << "soak: faults injected:";
    int faults = 0;
    for (const auto& [kind, n] : soak.Faults()) {
        std::cout << " " << FaultName(kind) << " " << n << ";";
        faults += n;
    }
    std::cout << " total " << faults << "\n";
    std::cout << "soak: greetings rejected " << soak.RejectedGreetings() << ", answers unread " << soak.UnreadAnswers()
              << ", greetings given up for a new port " << soak.AbandonedReads() << ", message boxes "
              << soak.BoxTexts().size() << "\n";
    const BlockCoverage& c = soak.Coverage();
    std::cout << "soak: station blocks with 0x10 " << c.WithDle << ", out of band " << c.OutOfBand << ", reserved bits "
              << c.ReservedBits << ", flow control 3 " << c.FlowThree << ", air speed 3 " << c.AirThree << "\n";
    std::cout << "soak: descriptors " << first.Fds << " -> " << last.Fds << ", threads " << first.Threads << " -> "
              << last.Threads << ", RSS kB " << first.RssKb << " (first) " << warm.RssKb << " (after " << warmUp << ") "
              << last.RssKb << " (last)" << std::endl;

    EXPECT_EQ(soak.Done(), exchanges);
    EXPECT_EQ(soak.Mismatches(), 0) << soak.FirstMismatch();
    EXPECT_EQ(last.Fds, first.Fds);
    EXPECT_EQ(last.Threads, first.Threads);
#if defined(__SANITIZE_ADDRESS__)
    // AddressSanitizer holds freed memory back in its quarantine, so resident
    // memory says nothing there; LeakSanitizer watches the leaks instead.
    std::cout << "soak: resident memory not judged under AddressSanitizer" << std::endl;
#else
    EXPECT_LE(last.RssKb, warm.RssKb + 8 * 1024);
#endif
    // Every hang-up, and nothing else, ended in one message box.
    EXPECT_EQ(soak.BoxTexts().size(), soak.FaultCount(Fault::HangUpInWait) + soak.FaultCount(Fault::HangUpForAnswer));
    for (const QString& text : soak.BoxTexts())
        EXPECT_FALSE(text.isEmpty());
    // The station's misbehaviours reached the window as meant.
    EXPECT_GT(faults, 0);
    EXPECT_GE(soak.RejectedGreetings(), soak.FaultCount(Fault::Noise) > 0 ? 1 : 0);
    EXPECT_GE(soak.AbandonedReads(), soak.FaultCount(Fault::PortChangeInGreeting) > 0 ? 1 : 0);
    EXPECT_GE(soak.UnreadAnswers(), soak.FaultCount(Fault::Silence));
    EXPECT_GT(c.WithDle, 0);
    EXPECT_GT(c.OutOfBand, 0);
    EXPECT_GT(c.ReservedBits, 0);
    EXPECT_GT(c.FlowThree, 0);
    EXPECT_GT(c.AirThree, 0);
}

}  // namespace

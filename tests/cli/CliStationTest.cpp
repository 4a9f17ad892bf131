// vostrel-cli as shipped against simulated stations on ptys: reading through a
// damaged answer, a series of three stations with their copies, a restore, a
// bad file, copies that cannot be written, and the record --log keeps.
#include "CliRun.h"
#include "Commands.h"
#include "EdgeBlocks.h"
#include "FileText.h"

#include "Packets.h"
#include "ParamBlock.h"
#include "ParamFile.h"
#include "Record.h"
#include "SentAt.h"
#include "StationSimulator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <locale.h>
#include <mutex>
#include <thread>

#include <sys/resource.h>

namespace vostrel {

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// ZPCH1 simplex 145575,0 kHz at 5 W, ZPCH2 150000,0 / 160000,0 kHz at 25 W on
// the 25,0 kHz grid: the block whose calibration bytes were worked out by hand.
const TByteArray kWorkedBlock{0x00, 0xEE, 0x39, 0x00, 0xF3, 0xC1, 0x00, 0xB5, 0xF9, 0x00, 0xC8, 0x01,
                              0x55, 0x18, 0x0D, 0x1C, 0x64, 0x5F, 0xF1, 0xF1, 0xE9, 0xEE, 0xE0, 0xEA,
                              0x42, 0x1B, 0x06, 0x06, 0x1E, 0x2E, 0x1E, 0x18, 0x44, 0x37};

// The worked set with ZPCH1 off the grid: programming rounds 145580,0 to
// 145575,0 kHz, as the window does.
TParameterSet OffGridWorkedSet()
{
    TParameterSet set = WorkedSet();
    set.RxFreq[0] = set.TxFreq[0] = 145580.0L;
    return set;
}

void WriteText(const fs::path& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

TParamFile ReadParamFile(const fs::path& path)
{
    TParamFile file;
    TParamFileError error;
    EXPECT_TRUE(ParseParamFile(FileText(path), file, error)) << path << ": " << DescribeParamFileError(error);
    return file;
}

// The copies under a data folder whose names end in suffix, oldest first.
std::vector<fs::path> Copies(const fs::path& data, const std::string& suffix)
{
    std::vector<fs::path> out;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(data, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (it->is_regular_file() && name.size() > suffix.size() &&
            name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
            out.push_back(it->path());
    }
    std::sort(out.begin(), out.end());
    return out;
}

std::vector<std::string> Lines(const std::string& text)
{
    std::istringstream in(text);
    std::vector<std::string> out;
    for (std::string l; std::getline(in, l);)
        out.push_back(l);
    return out;
}

// The one line of text that holds both parts.
std::string LineWith(const std::string& text, const std::string& a, const std::string& b)
{
    for (const std::string& l : Lines(text)) {
        if (l.find(a) != std::string::npos && l.find(b) != std::string::npos)
            return l;
    }
    return {};
}

// The record's rows after its header; a row without its CR LF ends the
// list, marked "cut".
std::vector<std::vector<std::string>> RecordRows(const std::string& text)
{
    bool cut = false;
    auto rows = CsvRows(text, cut);
    if (cut)
        rows.push_back({"cut"});
    for (auto& r : rows) {
        EXPECT_EQ(r.size(), 8u) << r[0];
        r.resize(8);
    }
    return rows;
}

class CliStation : public TCliScratch {
protected:
    void SetUp() override { MakeScratch("vostrel-cli-test"); }

    std::unique_ptr<TCliRun> Start(const std::vector<std::string>& args, TCliInput input = TCliInput::Pipe)
    {
        auto run = std::make_unique<TCliRun>(args, env, dir, false, 0, input);
        EXPECT_TRUE(run->Started());
        return run;
    }
    // With a terminal for standard input, where a question can be answered.
    std::unique_ptr<TCliRun> StartAsked(const std::vector<std::string>& args)
    {
        return Start(args, TCliInput::Terminal);
    }
};

}  // namespace

TEST_F(CliStation, ReadRefusesADamagedAnswerAndSavesTheNextGoodOne)
{
    StationConfig config;
    config.GreetOnWait = true;
    StationSimulator station(config);
    station.SetFault(StationFault::Corrupt);

    const fs::path file = dir / "station.txt";
    auto run = Start({"read", station.SlavePath(), "-o", file.string(), "--log", (dir / "bench.csv").string()});
    ASSERT_EQ(run->Wait(30000), 0) << run->Err();

    // The damaged answer was refused with the box's text; the next one read.
    EXPECT_NE(run->Err().find(kDamagedAnswerText), std::string::npos) << run->Err();
    EXPECT_EQ(station.AnswerCount(), 2);
    EXPECT_TRUE(station.ProgrammedBlocks().empty());

    // On the line, the window's packets: two confirmations, each some 50 ms
    // after the greeting's ETX, and the goodbye.
    const TByteArray confirmLine{0x10, 0x08, 0x00, 0x06, 0x70, 0x10, 0x03};
    const auto packets = station.Packets();
    ASSERT_EQ(packets.size(), 3u);
    const auto trace = station.Trace();
    const std::vector<std::size_t> confirmAt = SentAt(trace, confirmLine);
    ASSERT_EQ(confirmAt.size(), 2u);
    for (std::size_t k = 0; k < 2; ++k) {
        SCOPED_TRACE("confirmation " + std::to_string(k));
        EXPECT_EQ(packets[k].Line, confirmLine);
        ASSERT_GT(confirmAt[k], 0u);
        const LineByte& first = trace[confirmAt[k]];
        const LineByte& etx = trace[confirmAt[k] - 1];
        ASSERT_TRUE(etx.FromStation && etx.Byte == kEtx);
        EXPECT_GE(first.Time - etx.Time, 49ms);
    }
    EXPECT_EQ(packets[2].Line, (TByteArray{0x10, 0x00, 0x00, 0x01, 0xB0, 0x10, 0x03}));

    // The file holds what the window shows, and programming it sends the
    // station's own user bytes back.
    const TByteArray block = DefaultStationBlock();
    const TParamFile read = ReadParamFile(file);
    EXPECT_EQ(read.Set, ShownSet(block, TParameterSet{}));
    TNullLog quiet;
    const TByteArray again = ProgrammingBlock(read.Set, quiet);
    EXPECT_EQ(TByteArray(again.begin(), again.begin() + kBlockUserBytes),
              TByteArray(block.begin(), block.begin() + kBlockUserBytes));

    // One copy, of the good answer, byte for byte.
    const auto copies = Copies(dir / "data", "_read.txt");
    ASSERT_EQ(copies.size(), 1u);
    const TParamFile copy = ReadParamFile(copies[0]);
    EXPECT_EQ(copy.Kind, "read");
    ASSERT_TRUE(copy.Raw.has_value());
    EXPECT_EQ(*copy.Raw, block);
    EXPECT_TRUE(Copies(dir / "data", "_sent.txt").empty());

    // The record: the answer refused, the station read with its copy, the summary.
    const auto rows = RecordRows(FileText(dir / "bench.csv"));
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0][4] + " " + rows[0][3], std::string(RecordEvent::Refused) + " 1");
    EXPECT_EQ(rows[1][4] + " " + rows[1][3], std::string(RecordEvent::Read) + " 1");
    EXPECT_EQ(rows[1][6], copies[0].filename().string());
    EXPECT_EQ(rows[1][7], read.Note);
    EXPECT_EQ(rows[2][4], RecordEvent::Summary);
}

TEST_F(CliStation, ProgramsThreeStationsInARowWithTheirCopiesFirst)
{
    // For every packet the program starts, the read copies there are then.
    struct TStart {
        std::uint8_t Number = 0;
        std::size_t ReadCopies = 0;
    };
    std::mutex mutex;
    std::vector<TStart> starts;
    bool inPacket = false, numberNext = false;
    std::size_t copiesAtStart = 0;
    int dleRun = 0;
    StationConfig config;
    config.GreetOnWait = true;
    config.OnByte = [&](const LineByte& b) {
        if (b.FromStation)
            return;
        if (!inPacket && b.Byte == kDle) {
            inPacket = numberNext = true;
            dleRun = 0;
            copiesAtStart = Copies(dir / "data", "_read.txt").size();
            return;
        }
        if (numberNext) {
            numberNext = false;
            std::lock_guard<std::mutex> lock(mutex);
            starts.push_back({b.Byte, copiesAtStart});
            return;
        }
        // A DLE ETX whose DLE is not the copy of a doubled one ends the packet.
        if (b.Byte == kEtx && dleRun % 2 == 1)
            inPacket = false;
        dleRun = b.Byte == kDle ? dleRun + 1 : 0;
    };
    StationSimulator station(config);

    const fs::path file = dir / "series.txt";
    TParamFile series;
    series.Set = OffGridWorkedSet();
    series.Note = "серия";
    WriteText(file, FormatParamFile(series));

    auto run = Start({"program", station.SlavePath(), file.string(), "--each"});
    // Three stations: each exchange, then the window's five-second pause.
    const bool three = station.WaitFor([&] { return station.ProgrammedBlocks().size() >= 3; }, 60000ms);
    run->Signal(SIGINT);
    const int code = run->Wait(10000);
    ASSERT_TRUE(three) << run->Err();
    // Interrupted while waiting for a fourth: the series ends well, no goodbye.
    EXPECT_EQ(code, 0) << run->Err();
    EXPECT_EQ(station.GoodbyeCount(), 0);

    const auto programmed = station.ProgrammedBlocks();
    ASSERT_EQ(programmed.size(), 3u);
    for (const ReceivedPacket& p : programmed) {
        EXPECT_TRUE(p.CrcOk);
        EXPECT_EQ(p.Data, kWorkedBlock);
    }

    // One line per station: when, where and what changed; then the series'
    // summary.
    std::istringstream out(run->Out());
    std::vector<std::string> lines;
    for (std::string l; std::getline(out, l);)
        lines.push_back(l);
    ASSERT_EQ(lines.size(), 5u) << run->Out();
    EXPECT_EQ(lines[3], "Итог:");
    EXPECT_NE(lines[4].find("запрограммировано 3, отклонено 0, сбоев 0"), std::string::npos) << lines[4];
    lines.resize(3);
    for (std::size_t k = 0; k < lines.size(); ++k) {
        SCOPED_TRACE(lines[k]);
        EXPECT_NE(lines[k].find(station.SlavePath()), std::string::npos);
        // The arrows are labelled where they stand.
        EXPECT_NE(lines[k].find(k == 0 ? std::string("станция 1 (было → стало): ")
                                       : "станция " + std::to_string(k + 1) + ": без изменений"),
                  std::string::npos);
        // The station keeps what it was programmed with: only the first changes.
        EXPECT_EQ(lines[k].find("12,5 → 25,0") != std::string::npos, k == 0);
    }

    // The rounding is said once, before the first station was met.
    const std::string err = run->Err();
    const std::size_t rounded = err.find("series.txt: ЗПЧ1 приём: 145580,0 → будет отправлено 145575,0 кГц\n");
    EXPECT_LT(rounded, err.find("Копия параметров станции")) << err;
    EXPECT_NE(err.find("series.txt: ЗПЧ1 передача: 145580,0 → будет отправлено 145575,0 кГц\n"), std::string::npos)
        << err;

    // Each station's block was kept before the first byte of its packet 09,
    // and the block sent after it.
    {
        std::lock_guard<std::mutex> lock(mutex);
        std::size_t programming = 0;
        for (const TStart& s : starts) {
            if (s.Number != kPacketProgram)
                continue;
            ++programming;
            EXPECT_GE(s.ReadCopies, programming) << "packet 09 number " << programming << " began before its copy";
        }
        EXPECT_EQ(programming, 3u);
    }
    const auto read = Copies(dir / "data", "_read.txt");
    const auto sent = Copies(dir / "data", "_sent.txt");
    ASSERT_EQ(read.size(), 3u);
    ASSERT_EQ(sent.size(), 3u);
    for (std::size_t k = 0; k < read.size(); ++k)
        EXPECT_EQ(ReadParamFile(read[k]).Raw, k == 0 ? DefaultStationBlock() : kWorkedBlock) << read[k];
    for (const fs::path& p : sent) {
        const TParamFile copy = ReadParamFile(p);
        EXPECT_EQ(copy.Kind, "sent");
        EXPECT_EQ(copy.Raw, kWorkedBlock) << p;
    }
}

TEST_F(CliStation, RestoreAsksThenSendsTheCopyBytesWithFreshCalibration)
{
    StationConfig config;
    config.GreetOnWait = true;
    StationSimulator station(config);

    // What a station held that the editors would not: ZPCH2 receiving off the
    // 25,0 kHz grid, flow control and air speed 3, stray word bits, and
    // calibration bytes of its own. Bytes 18..33 expected: the complete
    // example's, which these words keep.
    const TByteArray user{0x00, 0xEE, 0x39, 0x00, 0xF3, 0xC5, 0x00, 0xB5, 0xF9,
                          0xF0, 0xC8, 0x03, 0x7F, 0x18, 0x0D, 0x1C, 0x64, 0x5F};
    TByteArray held = user;
    held.resize(kBlockSize, 0x77);
    TParamFile copy;
    copy.Kind = "read";
    copy.When = "2026-12-07 21:03:55";
    copy.Port = "COM1";
    copy.Set = ShownSet(held, TParameterSet{});
    copy.Raw = held;
    const fs::path file = dir / "copy.txt";
    WriteText(file, FormatParamFile(copy));

    // Nothing on standard input and no --yes: refused before the station is
    // read, since the question could not be answered.
    {
        auto run = Start({"restore", station.SlavePath(), file.string()}, TCliInput::Nothing);
        EXPECT_EQ(run->Wait(10000), ExitCode::Usage) << run->Err();
        EXPECT_NE(run->Err().find("--yes"), std::string::npos) << run->Err();
        EXPECT_EQ(station.PurgeCount(), 0);
    }
    // Declined: the station gets its goodbye and nothing else.
    {
        auto run = StartAsked({"restore", station.SlavePath(), file.string()});
        ASSERT_TRUE(station.WaitFor([&] { return station.AnswerCount() == 1; }, 20000ms));
        // The question comes once the changes are listed.
        for (int i = 0; i < 200 && run->Out().find("копии:") == std::string::npos; ++i)
            usleep(20000);
        EXPECT_NE(run->Out().find("F0 C8 03 7F"), std::string::npos) << run->Out();
        run->Type("н\n");
        EXPECT_EQ(run->Wait(10000), 4) << run->Err();
        EXPECT_EQ(station.GoodbyeCount(), 1);
    }
    // Interrupted at the question: the goodbye first, as the window's close.
    {
        auto run = StartAsked({"restore", station.SlavePath(), file.string()});
        ASSERT_TRUE(station.WaitFor([&] { return station.AnswerCount() == 2; }, 20000ms));
        for (int i = 0; i < 200 && run->Err().find("[д/н]") == std::string::npos; ++i)
            usleep(20000);
        run->Signal(SIGINT);
        EXPECT_EQ(run->Wait(10000), 130) << run->Err();
        EXPECT_EQ(station.GoodbyeCount(), 2);
    }
    EXPECT_TRUE(station.ProgrammedBlocks().empty());

    {
        auto run = Start({"restore", station.SlavePath(), file.string(), "--yes"});
        EXPECT_EQ(run->Wait(20000), 0) << run->Err();
    }
    const auto programmed = station.ProgrammedBlocks();
    ASSERT_EQ(programmed.size(), 1u);
    TByteArray expected = user;
    expected.insert(expected.end(), kWorkedBlock.begin() + kBlockUserBytes, kWorkedBlock.end());
    EXPECT_EQ(programmed[0].Data, expected);
    EXPECT_TRUE(programmed[0].CrcOk);
    EXPECT_EQ(station.GoodbyeCount(), 2);

    // The station now holds the copy's bytes: nothing asked, nothing sent.
    {
        auto run = StartAsked({"restore", station.SlavePath(), file.string()});
        EXPECT_EQ(run->Wait(20000), ExitCode::Done) << run->Err();
        EXPECT_NE(run->Out().find("станция уже хранит байты 0–17 копии"), std::string::npos) << run->Out();
        EXPECT_EQ(run->Err().find("[д/н]"), std::string::npos) << run->Err();
    }
    EXPECT_EQ(station.ProgrammedBlocks().size(), 1u);
    EXPECT_EQ(station.GoodbyeCount(), 3);
}

TEST_F(CliStation, APortThatFailsMidWayIsReportedInTheSystemsWords)
{
    // The C library's Russian text, through a ru_RU.UTF-8 locale made here
    // when the system has none; its English one where there is neither.
    const fs::path locales = dir / "locale";
    fs::create_directories(locales);
    const std::string make = "localedef -i ru_RU -f UTF-8 " + (locales / "ru_RU.UTF-8").string() + " >/dev/null 2>&1";
    const bool made = std::system(make.c_str()) == 0;
    if (made)
        setenv("LOCPATH", locales.c_str(), 1);
    const locale_t russian = newlocale(LC_CTYPE_MASK | LC_MESSAGES_MASK, "ru_RU.UTF-8", locale_t(nullptr));
    unsetenv("LOCPATH");
    const std::string reason = russian != locale_t(nullptr) ? strerror_l(EIO, russian) : std::strerror(EIO);
    if (russian != locale_t(nullptr))
        freelocale(russian);
    if (made)
        env.push_back("LOCPATH=" + locales.string());

    StationConfig config;
    config.GreetOnWait = true;
    StationSimulator station(config);
    station.SetFault(StationFault::HangUp);

    auto run = Start({"read", station.SlavePath(), "-o", (dir / "station.txt").string()});
    EXPECT_EQ(run->Wait(30000), ExitCode::PortFailed) << run->Err();
    const std::string line = "Ошибка порта " + station.SlavePath() + ": " + reason + ".";
    EXPECT_NE(run->Err().find(line), std::string::npos) << run->Err();
    if (reason == std::strerror(EIO))
        GTEST_SKIP() << "the reason in Russian not checked: no ru_RU.UTF-8 locale (Debian: locales) or no C library "
                        "translations (libc-l10n) here";
}

TEST_F(CliStation, APortHeldByAnotherRunNamesIt)
{
    StationSimulator station;  // never greets: the first run keeps waiting
    auto first = Start({"read", station.SlavePath(), "-o", (dir / "first.txt").string()});
    ASSERT_TRUE(Eventually([&] { return station.PurgeCount() > 0; }, 10000)) << first->Err();
    TCliRun second({"read", station.SlavePath(), "-o", (dir / "second.txt").string()}, env, dir / "data");
    EXPECT_EQ(second.Wait(10000), ExitCode::PortFailed) << second.Err();
    EXPECT_NE(second.Err().find("vostrel-cli (PID " + std::to_string(first->Pid()) + ")"), std::string::npos)
        << second.Err();
    first->Signal(SIGINT);
    EXPECT_EQ(first->Wait(10000), ExitCode::Interrupted) << first->Err();
}

TEST_F(CliStation, BadFileSendsNothing)
{
    StationConfig config;
    config.GreetOnWait = true;
    StationSimulator station(config);
    TParamFile good;
    good.Set = OffGridWorkedSet();
    std::string text = FormatParamFile(good);
    const std::string field = "ЗПЧ2 передача:";
    const std::size_t at = text.find(field);
    ASSERT_NE(at, std::string::npos) << text;
    text.replace(at, text.find('\n', at) - at, field + " 180000,0 кГц");
    const fs::path file = dir / "bad.txt";
    WriteText(file, text);

    auto run = Start({"program", station.SlavePath(), file.string()});
    EXPECT_EQ(run->Wait(10000), 2);
    const int line =
        1 + static_cast<int>(std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(at), '\n'));
    EXPECT_NE(run->Err().find("Строка " + std::to_string(line)), std::string::npos) << run->Err();
    EXPECT_NE(run->Err().find("ЗПЧ2 передача"), std::string::npos) << run->Err();
    std::this_thread::sleep_for(300ms);
    EXPECT_TRUE(station.ReceivedBytes().empty());
    EXPECT_EQ(station.PurgeCount(), 0);
}

TEST_F(CliStation, UnwritableCopiesAreReportedAndProgrammingGoesOn)
{
    StationConfig config;
    config.GreetOnWait = true;
    StationSimulator station(config), other(config);
    // A file stands where the data folder would be made: as on a read-only
    // home, whoever runs the test.
    const fs::path blocked = dir / "blocked";
    WriteText(blocked, "not a folder");
    env = {"XDG_DATA_HOME=" + blocked.string(), "HOME=" + blocked.string(), "LC_ALL=C.UTF-8"};
    TParamFile file;
    file.Set = OffGridWorkedSet();
    WriteText(dir / "set.txt", FormatParamFile(file));

    // Programmed all the same, but the copies lost count: code 5, and in the
    // summary the read and the sent copy of each port's station.
    auto run = Start({"program", station.SlavePath() + "," + other.SlavePath(), (dir / "set.txt").string()});
    EXPECT_EQ(run->Wait(20000), ExitCode::NotWritten) << run->Err();
    const std::string err = run->Err();
    EXPECT_NE(err.find("не записана"), std::string::npos) << err;
    EXPECT_NE(err.find("без копии"), std::string::npos) << err;
    EXPECT_NE(err.find(blocked.string()), std::string::npos) << err;
    for (const StationSimulator* s : {&station, &other}) {
        const auto programmed = s->ProgrammedBlocks();
        ASSERT_EQ(programmed.size(), 1u);
        EXPECT_EQ(programmed[0].Data, kWorkedBlock);
        EXPECT_NE(LineWith(run->Out(), s->SlavePath(), "сбоев 0, копий не записано 2"), "") << run->Out();
    }
    EXPECT_TRUE(fs::is_regular_file(blocked));
}

TEST_F(CliStation, OutputNobodyReadsNeverStopsTheExchange)
{
    StationConfig config;
    config.GreetOnWait = true;
    StationSimulator station(config);
    TParamFile plan;
    plan.Set = OffGridWorkedSet();
    const fs::path file = dir / "plan.txt";
    WriteText(file, FormatParamFile(plan));

    // As "vostrel-cli -v program ... 2>&1 | head": the reader goes while
    // packet 08 is being sent.
    TCliRun run({"program", "-v", station.SlavePath(), file.string()}, env, dir, true);
    ASSERT_TRUE(run.ReadUntil("$08", 15000));
    run.CloseOutput();
    EXPECT_EQ(run.Wait(15000), 7);

    const auto packets = station.Packets();
    ASSERT_EQ(packets.size(), 2u);
    EXPECT_EQ(packets[0].Line, (TByteArray{0x10, 0x08, 0x00, 0x06, 0x70, 0x10, 0x03}));
    EXPECT_EQ(packets[1].Number, kPacketProgram);
    EXPECT_TRUE(packets[1].CrcOk);
    std::string lock = "/run/lock/LCK.." + station.SlavePath().substr(5);
    std::replace(lock.begin(), lock.end() - 1, '/', '_');
    EXPECT_FALSE(fs::exists(lock)) << lock;
}

TEST_F(CliStation, PortsProgramSideBySideAndOneHangingUpEndsOnlyItself)
{
    StationConfig config;
    config.GreetOnWait = true;
    StationSimulator first(config), second(config), broken(config);
    broken.SetFault(StationFault::HangUp);
    TParamFile plan;
    plan.Set = OffGridWorkedSet();
    WriteText(dir / "plan.txt", FormatParamFile(plan));

    auto run = Start({"program", first.SlavePath() + "," + second.SlavePath() + "," + broken.SlavePath(),
                      (dir / "plan.txt").string(), "--each"});
    // Both go on after the third port failed in their first exchange.
    const bool twoEach = Eventually(
        [&] { return first.ProgrammedBlocks().size() >= 2 && second.ProgrammedBlocks().size() >= 2; }, 60000);
    run->Signal(SIGINT);
    ASSERT_EQ(run->Wait(15000), ExitCode::PortFailed) << run->Err();
    ASSERT_TRUE(twoEach) << run->Err();
    EXPECT_NE(run->Err().find("Ошибка порта " + broken.SlavePath() + ": "), std::string::npos) << run->Err();

    for (const StationSimulator* station : {&first, &second}) {
        const auto programmed = station->ProgrammedBlocks();
        for (const ReceivedPacket& p : programmed) {
            EXPECT_TRUE(p.CrcOk);
            EXPECT_EQ(p.Data, kWorkedBlock);
        }
        // The summary counts what the station saw.
        const std::string summary = LineWith(run->Out(), "  " + station->SlavePath() + "  ", "запрограммировано");
        EXPECT_NE(summary.find("запрограммировано " + std::to_string(programmed.size()) + ", отклонено 0, сбоев 0"),
                  std::string::npos)
            << run->Out();
    }
    EXPECT_TRUE(broken.ProgrammedBlocks().empty());
    // Waited for until the end, it never came back.
    EXPECT_NE(LineWith(run->Out(), broken.SlavePath(), "сбоев 1 (порт не вернулся), порт пропадал 1 раз"), "")
        << run->Out();
    // Side by side, not one after the other: an exchange alone takes over a second.
    const auto apart = first.ProgrammedBlocks()[0].End - second.ProgrammedBlocks()[0].End;
    EXPECT_LT(std::chrono::abs(apart), 700ms);
}

TEST_F(CliStation, ReadingSeveralPortsWritesAFileForEach)
{
    StationConfig config;
    config.GreetOnWait = true;
    StationSimulator first(config);
    config.Block = kWorkedBlock;
    StationSimulator second(config);

    // A link to the first device beside it: refused as one device named
    // twice before any port opens.
    fs::create_symlink(first.SlavePath(), dir / "again");
    const std::string again = (dir / "again").string();
    {
        auto run = Start(
            {"read", again + "," + second.SlavePath() + "," + first.SlavePath(), "-o", (dir / "bench.txt").string()});
        ASSERT_EQ(run->Wait(20000), ExitCode::Usage) << run->Err();
        EXPECT_NE(run->Err().find("порты " + again + " и " + first.SlavePath() + " — одно и то же устройство"),
                  std::string::npos)
            << run->Err();
        for (const StationSimulator* s : {&first, &second})
            EXPECT_EQ(s->PurgeCount(), 0);
    }
    auto run = Start({"read", first.SlavePath() + "," + second.SlavePath(), "-o", (dir / "bench.txt").string()});
    ASSERT_EQ(run->Wait(20000), ExitCode::Done) << run->Err();
    const auto fileOf = [&](const StationSimulator& s) {
        return dir / ("bench-" + s.SlavePath().substr(s.SlavePath().rfind('/') + 1) + ".txt");
    };
    EXPECT_EQ(ReadParamFile(fileOf(first)).Set, ShownSet(DefaultStationBlock(), TParameterSet{}));
    EXPECT_EQ(ReadParamFile(fileOf(second)).Set, ShownSet(kWorkedBlock, TParameterSet{}));
    EXPECT_FALSE(fs::exists(dir / "bench.txt"));
    EXPECT_EQ(first.GoodbyeCount() + second.GoodbyeCount(), 2);
}

TEST_F(CliStation, CtrlCSaysGoodbyeToTheConnectedStationAndLeavesTheWaitingPort)
{
    std::atomic<TCliRun*> cli{nullptr};
    std::atomic<int> fromUtility{0};
    StationConfig config;
    config.GreetOnWait = true;
    // Ctrl+C as the confirmation's last byte arrives: the answer is still to
    // be read, the station connected afterwards.
    config.OnByte = [&](const LineByte& b) {
        if (!b.FromStation && ++fromUtility == 7 && cli.load() != nullptr)
            cli.load()->Signal(SIGINT);
    };
    StationSimulator connected(config);
    StationSimulator waiting;  // never greets
    TParamFile plan;
    plan.Set = OffGridWorkedSet();
    WriteText(dir / "plan.txt", FormatParamFile(plan));

    auto run = Start({"program", connected.SlavePath() + "," + waiting.SlavePath(), (dir / "plan.txt").string()});
    cli = run.get();
    EXPECT_EQ(run->Wait(20000), ExitCode::Interrupted) << run->Err();
    cli = nullptr;

    const auto packets = connected.Packets();
    ASSERT_EQ(packets.size(), 2u) << run->Err();
    EXPECT_EQ(packets[0].Number, kPacketConfirm);
    EXPECT_EQ(packets[1].Line, (TByteArray{0x10, 0x00, 0x00, 0x01, 0xB0, 0x10, 0x03}));
    EXPECT_TRUE(waiting.ReceivedBytes().empty());
    EXPECT_GE(waiting.PurgeCount(), 1);
    // One line for each port on what the interrupt stopped.
    EXPECT_NE(run->Err().find("Прервано: станции на порту " + connected.SlavePath() + " послан пакет завершения.\n"),
              std::string::npos)
        << run->Err();
    EXPECT_NE(run->Err().find("Прервано: порт " + waiting.SlavePath() + " больше не ждёт станцию.\n"),
              std::string::npos)
        << run->Err();
    // Only the port that never met a station is called idle.
    EXPECT_NE(LineWith(run->Out(), waiting.SlavePath(), "(станций не было)"), "") << run->Out();
    EXPECT_NE(LineWith(run->Out(), connected.SlavePath(), "запрограммировано 0"), "") << run->Out();
    EXPECT_EQ(LineWith(run->Out(), connected.SlavePath(), "(станций не было)"), "") << run->Out();
}

TEST_F(CliStation, VerifyReadsEachStationBackAndNamesWhatItKeptWrongly)
{
    StationConfig config;
    config.GreetOnWait = true;
    StationSimulator good(config);
    config.StoreFlip = 5;  // a frequency byte
    StationSimulator badField(config);
    config.StoreFlip = 20;  // a calibration byte
    StationSimulator badCalibration(config);
    TParamFile plan;
    plan.Set = OffGridWorkedSet();
    WriteText(dir / "plan.txt", FormatParamFile(plan));

    auto run = Start({"program", good.SlavePath() + "," + badField.SlavePath() + "," + badCalibration.SlavePath(),
                      (dir / "plan.txt").string(), "--verify", "--log", (dir / "bench.csv").string()});
    ASSERT_EQ(run->Wait(40000), ExitCode::NotVerified) << run->Err();

    const std::string out = run->Out();
    EXPECT_NE(LineWith(out, good.SlavePath(), "станция 1: проверено"), "") << out;
    const std::string field =
        LineWith(out, badField.SlavePath(), "станция 1: проверка не пройдена (отправлено → прочитано): ");
    EXPECT_NE(field.find("кГц"), std::string::npos) << out;
    EXPECT_EQ(field.find("калибровочные"), std::string::npos) << out;
    const std::string calibration =
        LineWith(out, badCalibration.SlavePath(), "станция 1: проверка не пройдена (отправлено → прочитано): ");
    char change[16];
    std::snprintf(change, sizeof change, "%02X → %02X", kWorkedBlock[20], kWorkedBlock[20] ^ 0x04);
    EXPECT_NE(calibration.find(std::string("калибровочные байты 20: ") + change), std::string::npos) << out;
    EXPECT_EQ(calibration.find("кГц"), std::string::npos) << out;

    for (const StationSimulator* station : {&good, &badField, &badCalibration}) {
        ASSERT_EQ(station->ProgrammedBlocks().size(), 1u);
        EXPECT_EQ(station->ProgrammedBlocks()[0].Data, kWorkedBlock);
        // Read, programmed, read back, and the goodbye after the reading back.
        EXPECT_EQ(station->AnswerCount(), 2);
        EXPECT_EQ(station->GoodbyeCount(), 1);
        EXPECT_EQ(station->Packets().back().Number, kPacketClosing);
    }
    EXPECT_EQ(Copies(dir / "data", "_read.txt").size(), 6u);

    // The record: each port's station programmed, then checked; the summary
    // last, port by port.
    const auto rows = RecordRows(FileText(dir / "bench.csv"));
    ASSERT_EQ(rows.size(), 9u);
    const StationSimulator* ports[] = {&good, &badField, &badCalibration};
    for (std::size_t k = 0; k < 3; ++k) {
        const std::string checked = k == 0 ? RecordEvent::Verified : RecordEvent::NotVerified;
        std::string events;
        for (std::size_t r = 0; r < 6; ++r)
            events += rows[r][1] == ports[k]->SlavePath() ? rows[r][4] + rows[r][3] + " " : "";
        EXPECT_EQ(events, std::string(RecordEvent::Programmed) + "1 " + checked + "1 ");
        EXPECT_EQ(rows[6 + k], (std::vector<std::string>{rows[6 + k][0], ports[k]->SlavePath(), ports[k]->SlavePath(),
                                                         "", RecordEvent::Summary,
                                                         "запрограммировано 1, проверено " + std::to_string(k == 0) +
                                                             ", отклонено 0, сбоев " + std::to_string(k != 0),
                                                         "", ""}));
    }
}

TEST_F(CliStation, TheRecordReadBackAfterAKillHoldsEveryEventWhole)
{
    StationConfig config;
    config.GreetOnWait = true;
    StationSimulator station(config);
    TParamFile plan;
    plan.Set = OffGridWorkedSet();
    plan.Note = "серия; «А»";
    WriteText(dir / "plan.txt", FormatParamFile(plan));
    const fs::path log = dir / "bench.csv";

    auto run = Start({"program", station.SlavePath(), (dir / "plan.txt").string(), "--each", "--log", log.string()});
    // When each row was first seen in the file.
    std::vector<SimClock::time_point> seen;
    const bool two = Eventually(
        [&] {
            for (std::size_t rows = RecordRows(FileText(log)).size(); seen.size() < rows;)
                seen.push_back(SimClock::now());
            return seen.size() >= 2;
        },
        60000);
    // In the thank-you pause after the second station: no third exchange yet.
    run->Signal(SIGKILL);
    EXPECT_EQ(run->Wait(10000), 128 + SIGKILL);
    ASSERT_TRUE(two) << run->Err();

    const std::string text = FileText(log);
    EXPECT_EQ(text.rfind("\xEF\xBB\xBF" + RecordHeader(), 0), 0u) << text;
    const auto rows = RecordRows(text);
    ASSERT_EQ(rows.size(), 2u) << text;
    const auto read = Copies(dir / "data", "_read.txt");
    const auto sent = Copies(dir / "data", "_sent.txt");
    ASSERT_EQ(read.size(), 2u);
    ASSERT_EQ(sent.size(), 2u);
    for (std::size_t k = 0; k < rows.size(); ++k) {
        SCOPED_TRACE("row " + std::to_string(k + 1));
        EXPECT_EQ(rows[k][1] + " " + rows[k][2], station.SlavePath() + " " + station.SlavePath());
        EXPECT_EQ(rows[k][4] + " " + rows[k][3], std::string(RecordEvent::Programmed) + " " + std::to_string(k + 1));
        EXPECT_EQ(rows[k][5].find("12,5 → 25,0") != std::string::npos, k == 0) << rows[k][5];
        EXPECT_EQ(rows[k][6], read[k].filename().string() + ", " + sent[k].filename().string());
        EXPECT_EQ(rows[k][7], plan.Note);
    }
    // The first station's row was there before the second station was greeted.
    const auto packets = station.Packets();
    ASSERT_GE(packets.size(), 3u);
    EXPECT_LT(seen[0], packets[2].End);
}

}  // namespace vostrel

namespace vostrel {

namespace {

// The CPU time of the children reaped so far, in ms.
long ChildrenCpuMs()
{
    rusage u{};
    getrusage(RUSAGE_CHILDREN, &u);
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000 + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1000;
}

// The worked set, which programs kWorkedBlock.
void WritePlan(const fs::path& path)
{
    TParamFile plan;
    plan.Set = WorkedSet();
    WriteText(path, FormatParamFile(plan));
}

}  // namespace

// A terminal paused with Ctrl+S, or "| less" left unread: standard error
// takes 4 KiB and then nothing, while the exchange log goes on. Every station
// on both ports still gets its packet 09 whole and on time.
TEST_F(CliStation, AStalledOutputHoldsUpNoPort)
{
    StationConfig config = PacedStation();
    config.GreetOnWait = true;
    StationSimulator a(config);
    StationSimulator b(config);
    WritePlan(dir / "plan.txt");

    TCliRun run({"-v", "program", a.SlavePath() + "," + b.SlavePath(), (dir / "plan.txt").string(), "--each"}, env, dir,
                false, 4096);
    ASSERT_TRUE(run.Started());
    const auto twoEach = [&] { return a.ProgrammedBlocks().size() >= 2 && b.ProgrammedBlocks().size() >= 2; };
    EXPECT_TRUE(Eventually(twoEach, 40000));
    run.Signal(SIGINT);
    // Read at last, the output lets the program end.
    run.ReadUntil("\x7F never printed", 30000);
    EXPECT_EQ(run.Wait(15000), ExitCode::Done);
    for (const StationSimulator* s : {&a, &b}) {
        for (const ReceivedPacket& p : s->ProgrammedBlocks()) {
            EXPECT_TRUE(p.CrcOk);
            EXPECT_EQ(p.Data, kWorkedBlock);
        }
    }
}

// Nothing is printed while the command waits; the reader of its output goes
// away all the same, and the command ends within about a second.
TEST_F(CliStation, AReaderThatLeftEndsAWaitingCommand)
{
    StationSimulator silent;
    WritePlan(dir / "plan.txt");
    TCliRun run({"program", silent.SlavePath(), (dir / "plan.txt").string()}, env, dir, true);
    ASSERT_TRUE(run.ReadUntil("Ожидание", 15000));
    std::this_thread::sleep_for(300ms);
    run.CloseOutput();
    EXPECT_EQ(run.Wait(5000), ExitCode::OutputLost);
    EXPECT_TRUE(silent.ReceivedBytes().empty());
}

// Ctrl+C while the answer of a station that never answers is awaited: the
// answer's window runs out asleep, then the station gets its goodbye.
TEST_F(CliStation, CtrlCInTheAnswerWindowDoesNotSpin)
{
    std::atomic<TCliRun*> cli{nullptr};
    std::atomic<int> fromUtility{0};
    StationConfig config;
    config.GreetOnWait = true;
    config.OnByte = [&](const LineByte& byte) {
        if (!byte.FromStation && ++fromUtility == 7 && cli.load() != nullptr)
            cli.load()->Signal(SIGINT);
    };
    StationSimulator mute(config);
    mute.SetFault(StationFault::Silence, -1, true);
    WritePlan(dir / "plan.txt");

    const long before = ChildrenCpuMs();
    {
        auto run = Start({"program", mute.SlavePath(), (dir / "plan.txt").string()});
        cli = run.get();
        EXPECT_EQ(run->Wait(20000), ExitCode::Interrupted) << run->Err();
        cli = nullptr;
    }
    // The whole run, start-up included; a spin takes most of the second.
    EXPECT_LT(ChildrenCpuMs() - before, 400);
}

}  // namespace vostrel

namespace vostrel {

// An adapter pulled out in the middle of a series and plugged back: its link
// goes with the pty that hangs up, and comes back leading to a new one. The
// series goes on there, and the record counts the outage.
TEST_F(CliStation, ASeriesGoesOnWhenItsAdapterIsPluggedBack)
{
    StationConfig config = PacedStation();
    config.GreetOnWait = true;
    auto first = std::make_unique<StationSimulator>(config);
    const fs::path link = dir / "ttyUSB0";
    fs::create_symlink(first->SlavePath(), link);
    WritePlan(dir / "plan.txt");

    auto run =
        Start({"program", link.string(), (dir / "plan.txt").string(), "--each", "--log", (dir / "bench.csv").string()});
    ASSERT_TRUE(Eventually([&] { return first->ProgrammedBlocks().size() == 1; }, 20000)) << run->Err();
    fs::remove(link);
    first->HangUp();
    std::this_thread::sleep_for(1500ms);
    StationSimulator second(config);
    fs::create_symlink(second.SlavePath(), link);
    EXPECT_TRUE(Eventually([&] { return second.ProgrammedBlocks().size() == 1; }, 30000)) << run->Err();
    run->Signal(SIGINT);
    EXPECT_EQ(run->Wait(15000), ExitCode::Done) << run->Err();

    EXPECT_EQ(second.ProgrammedBlocks()[0].Data, kWorkedBlock);
    std::ifstream csv(dir / "bench.csv");
    const std::string record((std::istreambuf_iterator<char>(csv)), std::istreambuf_iterator<char>());
    EXPECT_NE(record.find("порт пропал"), std::string::npos) << record;
    EXPECT_NE(record.find("порт вернулся"), std::string::npos) << record;
    EXPECT_NE(record.find("запрограммировано 2"), std::string::npos) << record;
    EXPECT_NE(record.find("порт пропадал 1 раз"), std::string::npos) << record;
}

}  // namespace vostrel

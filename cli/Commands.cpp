#include "Commands.h"

#include "CliPort.h"
#include "CommLink.h"
#include "Copies.h"
#include "Packets.h"
#include "ParamBlock.h"
#include "ParamFile.h"
#include "ParamFileLoad.h"
#include "PortError.h"
#include "Progress.h"

#include <QDateTime>
#include <QSaveFile>
#include <QString>

#include <algorithm>
#include <cctype>
#include <memory>
#include <mutex>
#include <string_view>
#include <system_error>
#include <thread>

namespace vostrel {

namespace {

const char* const kProgramsWithoutCopy = " Станция программируется и без копии.";
const char* const kAgain = " Переведите станцию в режим программирования ещё раз (кнопки «Ф» и «СК»).";

std::string ToUtf8(const QString& s)
{
    return s.toUtf8().toStdString();
}

std::string Now()
{
    return ToUtf8(QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
}

std::string HexLine(const TByteArray& bytes, std::size_t from, std::size_t count)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (std::size_t k = from; k < from + count && k < bytes.size(); ++k) {
        if (!out.empty())
            out += ' ';
        out += kHex[bytes[k] >> 4];
        out += kHex[bytes[k] & 0x0F];
    }
    return out;
}

// Output nobody can read any more: a pipe whose reader has gone, a full disk.
bool OutputLost(const TCliContext& context)
{
    return std::ferror(context.Out) != 0 || std::ferror(context.Err) != 0;
}

void PrintLine(std::FILE* out, const std::string& line)
{
    const std::lock_guard<std::mutex> hold(OutputLock());
    std::fprintf(out, "%s\n", line.c_str());
    std::fflush(out);
}

// Reads and checks a parameter file; a failure is told on err after the
// file's name.
bool LoadParamFile(const std::string& path, TParamFile& file, std::FILE* err)
{
    const TParamFileLoad load = LoadParamFileAt(path, file);
    if (!load.Loaded())
        PrintLine(err, path + ": " + load.Text);
    return load.Loaded();
}

// "Name: before → after unit" for each field the window would show otherwise.
std::vector<std::string> ChangedFields(const TParameterSet& before, const TParameterSet& after)
{
    const std::vector<TFieldText> a = DescribeSet(before);
    const std::vector<TFieldText> b = DescribeSet(after);
    std::vector<std::string> out;
    for (std::size_t k = 0; k < a.size() && k < b.size(); ++k) {
        if (a[k].Value == b[k].Value && a[k].Unit == b[k].Unit)
            continue;
        std::string line = a[k].Name + ": " + a[k].Value;
        if (a[k].Unit != b[k].Unit && !a[k].Unit.empty())
            line += " " + a[k].Unit;
        line += " → " + b[k].Value;
        if (!b[k].Unit.empty())
            line += " " + b[k].Unit;
        out.push_back(line);
    }
    return out;
}

std::string Joined(const std::vector<std::string>& parts, const std::string& separator)
{
    std::string out;
    for (const std::string& p : parts)
        out += (out.empty() ? "" : separator) + p;
    return out;
}

// "k: AA → BB" for each byte from..to-1 that differs.
std::string ByteChanges(const TByteArray& a, const TByteArray& b, std::size_t from, std::size_t to)
{
    std::vector<std::string> bytes;
    for (std::size_t k = from; k < to && k < a.size() && k < b.size(); ++k) {
        if (a[k] != b[k])
            bytes.push_back(std::to_string(k) + ": " + HexLine(a, k, 1) + " → " + HexLine(b, k, 1));
    }
    return Joined(bytes, ", ");
}

// What a station read back holds otherwise than it was sent: the fields of
// bytes 0–17 as they decode (the bytes themselves where no field shows it),
// and the calibration bytes on their own.
std::vector<std::string> ReadBackDifferences(const TByteArray& sent, const TByteArray& back)
{
    TParameterSet a, b;
    DecodeBlock(sent, TParameterSet{}, a);
    DecodeBlock(back, TParameterSet{}, b);
    std::vector<std::string> out = ChangedFields(a, b);
    const std::string user = ByteChanges(sent, back, 0, kBlockUserBytes);
    if (out.empty() && !user.empty())
        out.push_back("байты 0–17: " + user);
    const std::string calibration = ByteChanges(sent, back, kBlockUserBytes, kBlockSize);
    if (!calibration.empty())
        out.push_back("калибровочные байты " + calibration);
    return out;
}

// read on several ports: a file for each, the port's name before the
// extension ("bench.txt" on COM2 → "bench-COM2.txt", on /dev/ttyUSB0 →
// "bench-ttyUSB0.txt").
std::string OutputForPort(const std::string& output, const std::string& port, bool several)
{
    if (!several)
        return output;
    std::string tag = port.substr(port.find_last_of("/\\") + 1);
    for (char& c : tag) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_' && c != '.')
            c = '_';
    }
    const std::size_t slash = output.find_last_of("/\\");
    const std::size_t dot = output.find_last_of('.');
    const bool extension = dot != std::string::npos && dot > 0 && (slash == std::string::npos || dot > slash + 1);
    return extension ? output.substr(0, dot) + "-" + tag + output.substr(dot) : output + "-" + tag;
}

std::string ShowText(const TParamFile& file)
{
    std::vector<std::pair<std::string, std::string>> rows;
    if (file.Kind == "read")
        rows.emplace_back("Копия", "прочитано из станции");
    else if (file.Kind == "sent")
        rows.emplace_back("Копия", "отправлено в станцию");
    if (!file.When.empty())
        rows.emplace_back("Время", file.When);
    if (!file.Port.empty())
        rows.emplace_back("Порт", file.Port);
    if (!file.Note.empty())
        rows.emplace_back("Примечание", file.Note);
    for (const TFieldText& f : DescribeSet(file.Set))
        rows.emplace_back(f.Name, f.Value + (f.Unit.empty() ? "" : " " + f.Unit));
    if (file.Raw) {
        rows.emplace_back("Байты 0–17", HexLine(*file.Raw, 0, kBlockUserBytes));
        rows.emplace_back("Байты 18–33", HexLine(*file.Raw, kBlockUserBytes, kBlockSize - kBlockUserBytes));
    }
    std::size_t width = 0;
    for (const auto& [name, value] : rows)
        width = std::max(width, Utf8Length(name));
    std::string out;
    for (const auto& [name, value] : rows)
        out += name + ":" + std::string(width - Utf8Length(name) + 2, ' ') + value + "\n";
    return out;
}

// The exchange log, when asked for, between the progress lines.
class TCliHost : public ILinkHost {
public:
    TCliHost(TProgress& progress, bool verbose) : m_progress(progress), m_verbose(verbose) {}
    void AppendLog(const std::string& line) override
    {
        if (m_verbose)
            m_progress.Note(line);
    }
    void ProcessMessages() override { m_progress.Tick(); }
    std::uint32_t GetTickCount() override { return TickCount(); }
    void Sleep(std::uint32_t ms) override { SleepMs(ms); }
    // Wakes for a byte, a failed line, an interrupt or the next second the
    // terminal shows; nothing else while the line is silent.
    void WaitForInput() override
    {
        const int fd = m_line != nullptr ? m_line->InputWaitDescriptor() : -1;
        if (!WaitReadableOrInterrupt(fd, m_progress.MsUntilTick()))
            Sleep(20);
    }
    // Sleeps until the next byte instead of looking for it again at once;
    // where it cannot sleep on the line (Windows), 1 ms, under a byte's time
    // at 4800 bit/s, so no more than one byte waits.
    void IdleInCollection(std::uint32_t msLeft) override
    {
        const int fd = m_line != nullptr ? m_line->InputWaitDescriptor() : -1;
        if (!WaitReadableOrInterrupt(fd, static_cast<int>(msLeft)))
            Sleep(1);
    }
    void SetLine(TComm& line) { m_line = &line; }

private:
    TProgress& m_progress;
    bool m_verbose;
    TComm* m_line = nullptr;
};

// One port and the stations met on it: waiting, reading, the copies and
// programming, and the goodbye when the run ends.
class TStationSession {
public:
    // several: other ports share the streams, so every progress line names
    // this one.
    TStationSession(const TCliContext& context, const std::string& portName, bool verbose, bool several)
        : m_context(context), m_progress(context.Err, context.Terminal, several ? "[" + portName + "] " : ""),
          m_host(m_progress, verbose), m_bytes(m_port.Comm()),
          m_driver(
              m_bytes, m_host, [this] { return StopWaiting(); }, context.Timings),
          m_portName(portName)
    {
        m_driver.OnStep = [this](TStationDriver::TStep step) {
            switch (step) {
            case TStationDriver::TStep::Waiting:
                m_progress.Status("Ожидание сообщения от станции на порту " + m_port.Name() + " ...", true);
                break;
            case TStationDriver::TStep::Greeted:
                m_progress.Status("Станция на связи: чтение параметров ...");
                break;
            case TStationDriver::TStep::Programming:
                m_progress.Status("Программирование ...");
                break;
            }
        };
        m_host.SetLine(m_port.Comm());
    }

    ~TStationSession() { m_progress.Clear(); }

    // False leaves Failure() to be told.
    bool Open()
    {
        if (!m_port.Open(m_portName, m_context.LockDir))
            return false;
        // As the window after a pick: three short pauses before the timer.
        m_host.Sleep(30);
        return true;
    }

    // Waits until a station's parameters are read, going back to waiting
    // after anything unusable; false when stopped first.
    bool NextStation(TByteArray& block)
    {
        for (;;) {
            m_driver.ArmDelay();
            if (m_context.Stop())
                return false;
            const TStationDriver::TRead read = m_driver.WaitAndRead(m_port.Path(), block);
            if (read == TStationDriver::TRead::Read) {
                m_progress.Clear();
                return true;
            }
            if (read == TStationDriver::TRead::Interrupted)
                return false;
            ++m_refused;
            if (read == TStationDriver::TRead::BadGreeting)
                m_progress.Note(std::string("Вместо приветствия станции пришёл неправильный пакет.") + kAgain);
            else if (read == TStationDriver::TRead::Missing)
                m_progress.Note(std::string("Станция не прислала свои параметры.") + kAgain);
            else
                m_progress.Note(kDamagedAnswerText);
        }
    }

    // What the window's editors hold once they show block, kept as a copy of
    // the given kind ("read" or "sent"); a copy that cannot be written is
    // reported, with goingOn after the reason, and never stops the run.
    TParameterSet ShowAndKeep(const std::string& kind, const TByteArray& block, const std::string& goingOn = "")
    {
        const TParameterSet previous = m_editors;
        m_editors = ShownSet(block, previous);
        const TCopySaved saved = SaveCopy(QString::fromUtf8(m_context.CopiesFolder),
                                          CopyOfBlock(kind, QString::fromStdString(PortText()), block, previous));
        if (!saved.Ok)
            m_progress.Note(ToUtf8(saved.Reason) + goingOn);
        else if (kind == "read")
            m_progress.Note("Копия параметров станции: " + ToUtf8(saved.Path));
        return m_editors;
    }

    // Programs block; afterwards the editors hold what was sent, and its copy
    // is kept. False when a stop came first: nothing sent, still connected.
    bool Program(const TByteArray& block, TParameterSet& programmed)
    {
        const bool sent = m_driver.Program(block);
        m_progress.Clear();
        if (sent)
            programmed = ShowAndKeep("sent", block);
        return sent;
    }

    void ThankYouPause() { m_driver.ThankYouPause(); }

    enum class TVerified { Same, Differs, Stopped };

    // After programming: the window's thank-you pause and the next wait on
    // this port, for the same station put into programming mode again; what
    // it holds is kept as a copy, compared with sent, and the station gets
    // its goodbye. The port stays open for the next station.
    TVerified Verify(const TByteArray& sent, std::vector<std::string>& differences)
    {
        m_driver.ThankYouPause();
        if (m_context.Stop())
            return TVerified::Stopped;
        m_progress.Note("Для проверки переведите станцию на порту " + m_port.Name() +
                        " в режим программирования ещё раз (кнопки «Ф» и «СК»).");
        TByteArray back;
        if (!NextStation(back))
            return TVerified::Stopped;
        ShowAndKeep("read", back);
        differences = ReadBackDifferences(sent, back);
        m_driver.Goodbye();
        return differences.empty() ? TVerified::Same : TVerified::Differs;
    }

    // The goodbye (packet 00 only while connected) and the port closed.
    void Finish()
    {
        m_progress.Clear();
        try {
            m_driver.Goodbye();
        } catch (const std::exception&) {
            // The port is being given up anyway.
        }
        m_port.Close();
    }

    // A failure of the port in the middle of an exchange.
    int PortFailure(const std::exception& e)
    {
        m_progress.Clear();
        const auto* comm = dynamic_cast<const ECommError*>(&e);
        PrintLine(m_context.Err,
                  ToUtf8(PortFailureText(QString::fromStdString(m_port.Name()), comm != nullptr ? comm->ErrorCode : 0,
                                         QString::fromLocal8Bit(e.what()))));
        Finish();
        return ExitCode::PortFailed;
    }

    // Lost output ends a wait, never an exchange begun: the station then
    // gets its packet or its goodbye as ever.
    bool StopWaiting() const { return m_context.Stop() || (OutputLost(m_context) && !m_driver.Connected()); }

    std::string PortText() const
    {
        return m_port.Path() == m_port.Name() ? m_port.Name() : m_port.Name() + " (" + m_port.Path() + ")";
    }

    const std::string& PortName() const { return m_port.Name(); }
    // The device the name reached, also when it did not open.
    const std::string& DevicePath() const { return m_port.Path(); }
    const std::string& Failure() const { return m_port.Failure(); }
    TCliHost& Host() { return m_host; }
    // Greetings and answers refused on this port; the station was asked again.
    int Refused() const { return m_refused; }

private:
    const TCliContext& m_context;
    TProgress m_progress;
    TCliHost m_host;
    TCliPort m_port;
    TCommBytePort m_bytes;
    TStationDriver m_driver;
    std::string m_portName;
    TParameterSet m_editors;  // the window's start-up values
    int m_refused = 0;
};

// What one port did, for the summary and the exit code.
struct TPortRun {
    std::string Port;
    int Code = ExitCode::Done;
    bool StoppedWaiting = false;  // stopped while waiting for a new station
    int Programmed = 0;
    int Verified = 0;
    int NotVerified = 0;
    int Refused = 0;
    std::string Trouble;  // why the port gave up, short
    std::string File;     // read: where the parameters went
};

// Opens the ports one after another on this thread (a COMn name looks at the
// system's ports), then runs work on each port that opened, on a thread of its
// own when there are several: a station never waits for another port.
std::vector<TPortRun> OnEachPort(const TCommandLine& line, const TCliContext& context,
                                 const std::function<void(TStationSession&, TPortRun&)>& work)
{
    const bool several = line.Ports.size() > 1;
    std::vector<TPortRun> runs(line.Ports.size());
    std::vector<std::unique_ptr<TStationSession>> sessions;
    for (std::size_t k = 0; k < line.Ports.size(); ++k) {
        runs[k].Port = line.Ports[k];
        sessions.push_back(std::make_unique<TStationSession>(context, line.Ports[k], line.Verbose, several));
        if (!sessions[k]->Open()) {
            // Two names of one device: the second finds it held, by this very command.
            const auto twin = std::find_if(sessions.begin(), sessions.end() - 1, [&](const auto& open) {
                return open && SameDevice(open->DevicePath(), sessions[k]->DevicePath());
            });
            const std::string twinName = twin != sessions.end() - 1 ? (*twin)->PortName() : "";
            PrintLine(context.Err, twinName.empty() ? sessions[k]->Failure()
                                                    : "Порт " + runs[k].Port + " — то же устройство, что и порт " +
                                                          twinName + ": станция на нём одна, работа идёт там.");
            runs[k].Code = ExitCode::PortFailed;
            runs[k].Trouble = twinName.empty() ? "порт не открылся" : "то же устройство, что " + twinName;
            sessions[k].reset();
        }
    }
    const auto run = [&](std::size_t k) {
        try {
            work(*sessions[k], runs[k]);
        } catch (...) {
            // work reports the port's own failures; anything else ends only this port.
            runs[k].Code = ExitCode::PortFailed;
            runs[k].Trouble = "внутренняя ошибка";
            sessions[k]->Finish();
        }
        runs[k].Refused = sessions[k]->Refused();
    };
    std::vector<std::thread> threads;
    for (std::size_t k = 0; k < sessions.size(); ++k) {
        if (!sessions[k])
            continue;
        if (!several) {
            run(k);
            continue;
        }
        try {
            threads.emplace_back(run, k);
        } catch (const std::system_error&) {
            run(k);  // no thread to be had: this port goes on here
        }
    }
    for (std::thread& t : threads)
        t.join();
    return runs;
}

// The worst that happened on any port: a failure before a stop, a stop before
// success. A series stopped while waiting ends well once any station was
// programmed.
int CombinedCode(const std::vector<TPortRun>& runs, bool each)
{
    int programmed = 0;
    for (const TPortRun& r : runs)
        programmed += r.Programmed;
    std::vector<int> codes;
    for (const TPortRun& r : runs)
        codes.push_back(each && r.StoppedWaiting && r.Code == ExitCode::Interrupted && programmed > 0 ? ExitCode::Done
                                                                                                      : r.Code);
    for (const int worst : {ExitCode::PortFailed, ExitCode::NotVerified, ExitCode::NotWritten, ExitCode::Interrupted}) {
        if (std::find(codes.begin(), codes.end(), worst) != codes.end())
            return worst;
    }
    const auto other = std::find_if(codes.begin(), codes.end(), [](int c) { return c != ExitCode::Done; });
    return other != codes.end() ? *other : ExitCode::Done;
}

void PrintSummary(const std::vector<TPortRun>& runs, const TCommandLine& line, const TCliContext& context)
{
    PrintLine(context.Out, "Итог:");
    for (const TPortRun& r : runs) {
        std::string text = "  " + r.Port + "  ";
        if (line.Command == TCommand::Read) {
            text += !r.File.empty()                   ? "прочитано в " + r.File
                    : r.Code == ExitCode::Interrupted ? "не прочитано: прервано"
                                                      : "не прочитано";
        } else {
            const int failed = r.NotVerified + (r.Trouble.empty() ? 0 : 1);
            text += "запрограммировано " + std::to_string(r.Programmed);
            if (line.Verify)
                text += ", проверено " + std::to_string(r.Verified);
            text += ", отклонено " + std::to_string(r.Refused) + ", сбоев " + std::to_string(failed);
        }
        if (!r.Trouble.empty())
            text += " (" + r.Trouble + ")";
        PrintLine(context.Out, text);
    }
}

// Reads the station back and says whether it holds what it was sent; false
// when a stop came before it was read.
bool VerifyStation(TStationSession& session, const TByteArray& sent, const std::string& what, TPortRun& run,
                   const TCliContext& context)
{
    std::vector<std::string> differences;
    const TStationSession::TVerified verified = session.Verify(sent, differences);
    std::string result;
    if (verified == TStationSession::TVerified::Stopped) {
        result = "не проверена: прервано";
    } else if (verified == TStationSession::TVerified::Same) {
        ++run.Verified;
        result = "проверено";
    } else {
        ++run.NotVerified;
        result = "проверка не пройдена: " + Joined(differences, "; ");
    }
    PrintLine(context.Out, Now() + "  " + session.PortName() + "  " + what + ": " + result);
    return verified != TStationSession::TVerified::Stopped;
}

void ReadOn(TStationSession& session, TPortRun& run, const std::string& output, const TCliContext& context)
{
    TParamFile file;
    try {
        TByteArray block;
        if (!session.NextStation(block)) {
            session.Finish();
            run.Code = ExitCode::Interrupted;
            return;
        }
        file.Set = session.ShowAndKeep("read", block);
        file.Note = "прочитано из станции на порту " + session.PortText() + " " + Now();
        session.Finish();
    } catch (const std::exception& e) {
        run.Code = session.PortFailure(e);
        run.Trouble = "отказ порта";
        return;
    }

    QSaveFile out(QString::fromUtf8(output));
    const std::string text = FormatParamFile(file);
    if (!out.open(QIODevice::WriteOnly) || out.write(text.data(), static_cast<qint64>(text.size())) < 0 ||
        !out.commit()) {
        PrintLine(context.Err, "Не удалось записать файл " + output + ": " + ToUtf8(out.errorString()));
        run.Code = ExitCode::NotWritten;
        run.Trouble = "файл не записан";
        return;
    }
    // Also after a late Ctrl+C: the station was read and has had its goodbye.
    PrintLine(context.Err, "Параметры станции записаны в файл " + output);
    run.File = output;
}

int RunRead(const TCommandLine& line, const TCliContext& context)
{
    const bool several = line.Ports.size() > 1;
    const std::vector<TPortRun> runs = OnEachPort(line, context, [&](TStationSession& session, TPortRun& run) {
        ReadOn(session, run, OutputForPort(line.Output, run.Port, several), context);
    });
    if (several)
        PrintSummary(runs, line, context);
    return CombinedCode(runs, false);
}

void ProgramOn(TStationSession& session, TPortRun& run, const TParamFile& plan, const TCommandLine& line,
               const TCliContext& context)
{
    run.Code = ExitCode::Interrupted;
    try {
        for (;;) {
            TByteArray block;
            if (!session.NextStation(block)) {
                run.StoppedWaiting = true;
                break;
            }
            const TParameterSet shown = session.ShowAndKeep("read", block, kProgramsWithoutCopy);
            if (context.Stop())
                break;
            const TByteArray sent = ProgrammingBlock(plan.Set, session.Host());
            TParameterSet programmed;
            if (!session.Program(sent, programmed))
                break;
            ++run.Programmed;
            const std::string station = "станция " + std::to_string(run.Programmed);
            const std::vector<std::string> changes = ChangedFields(shown, programmed);
            PrintLine(context.Out, Now() + "  " + session.PortName() + "  " + station + ": " +
                                       (changes.empty() ? "без изменений" : Joined(changes, "; ")));
            if (line.Verify && !VerifyStation(session, sent, station, run, context))
                break;
            if (!line.Each) {
                run.Code = ExitCode::Done;
                break;
            }
            if (!line.Verify)
                session.ThankYouPause();
        }
        session.Finish();
    } catch (const std::exception& e) {
        run.Code = session.PortFailure(e);
        run.Trouble = "отказ порта";
        return;
    }
    if (run.NotVerified > 0)
        run.Code = ExitCode::NotVerified;
}

int RunProgram(const TCommandLine& line, const TCliContext& context)
{
    TParamFile file;
    if (!LoadParamFile(line.Files[0], file, context.Err))
        return ExitCode::BadFile;
    TParamFileError limits;
    if (!CheckEditorLimits(file.Set, limits)) {
        PrintLine(context.Err, line.Files[0] + ": " + DescribeParamFileError(limits));
        return ExitCode::BadFile;
    }
    const std::vector<TPortRun> runs = OnEachPort(
        line, context, [&](TStationSession& session, TPortRun& run) { ProgramOn(session, run, file, line, context); });
    if (line.Ports.size() > 1)
        PrintSummary(runs, line, context);
    return CombinedCode(runs, line.Each);
}

bool IsYes(std::string answer)
{
    answer.erase(0, answer.find_first_not_of(" \t"));
    answer.erase(answer.find_last_not_of(" \t") + 1);
    for (const char* yes : {"y", "Y", "yes", "Yes", "YES", "д", "Д", "да", "Да", "ДА"}) {
        if (answer == yes)
            return true;
    }
    return false;
}

int RunRestore(const TCommandLine& line, const TCliContext& context)
{
    TParamFile copy;
    if (!LoadParamFile(line.Files[0], copy, context.Err))
        return ExitCode::BadFile;
    if (!copy.Raw || copy.Raw->size() != static_cast<std::size_t>(kBlockSize)) {
        PrintLine(context.Err, line.Files[0] +
                                   ": в файле нет байтов копии (строки «Блок»); восстановить можно только копию, "
                                   "для своих файлов служит команда program");
        return ExitCode::BadFile;
    }

    TStationSession session(context, line.Ports[0], line.Verbose, false);
    if (!session.Open()) {
        PrintLine(context.Err, session.Failure());
        return ExitCode::PortFailed;
    }
    TPortRun run;
    try {
        TByteArray block;
        if (!session.NextStation(block)) {
            session.Finish();
            return ExitCode::Interrupted;
        }
        session.ShowAndKeep("read", block, kProgramsWithoutCopy);

        // The values exactly as both blocks hold them, not as the editors would.
        TParameterSet now, then;
        DecodeBlock(block, TParameterSet{}, now);
        DecodeBlock(*copy.Raw, TParameterSet{}, then);
        const std::vector<std::string> changes = ChangedFields(now, then);
        PrintLine(context.Out, "Станция на порту " + session.PortName() + " → копия " + line.Files[0] + ":");
        for (const std::string& c : changes)
            PrintLine(context.Out, "  " + c);
        if (changes.empty())
            PrintLine(context.Out, "  значения параметров совпадают");
        PrintLine(context.Out, "  байты 0–17 станции: " + HexLine(block, 0, kBlockUserBytes));
        PrintLine(context.Out, "  байты 0–17 копии:   " + HexLine(*copy.Raw, 0, kBlockUserBytes));

        if (!line.Yes) {
            {
                const std::lock_guard<std::mutex> hold(OutputLock());
                std::fputs("Записать копию в станцию? [д/н] ", context.Err);
                std::fflush(context.Err);
            }
            const std::optional<std::string> answer = context.AskLine();
            if (!answer)
                PrintLine(context.Err, "");
            if (!answer || !IsYes(*answer)) {
                const bool stopped = context.Stop();
                if (!stopped)
                    PrintLine(context.Err, "Станция не изменена.");
                session.Finish();
                return stopped ? ExitCode::Interrupted : ExitCode::NotProgrammed;
            }
        }
        if (context.Stop()) {
            session.Finish();
            return ExitCode::Interrupted;
        }
        const TByteArray sent = WithCalibration(*copy.Raw, session.Host());
        TParameterSet programmed;
        if (!session.Program(sent, programmed)) {
            session.Finish();
            return ExitCode::Interrupted;
        }
        PrintLine(context.Out, Now() + "  " + session.PortName() + "  копия записана в станцию");
        if (line.Verify && !VerifyStation(session, sent, "копия", run, context)) {
            session.Finish();
            return ExitCode::Interrupted;
        }
        session.Finish();
    } catch (const std::exception& e) {
        return session.PortFailure(e);
    }
    return run.NotVerified > 0 ? ExitCode::NotVerified : ExitCode::Done;
}

int RunShow(const TCommandLine& line, const TCliContext& context)
{
    TParamFile file;
    if (!LoadParamFile(line.Files[0], file, context.Err))
        return ExitCode::BadFile;
    std::fputs(ShowText(file).c_str(), context.Out);
    std::fflush(context.Out);
    return ExitCode::Done;
}

int RunDiff(const TCommandLine& line, const TCliContext& context)
{
    TParamFile a, b;
    if (!LoadParamFile(line.Files[0], a, context.Err) || !LoadParamFile(line.Files[1], b, context.Err))
        return ExitCode::BadFile;
    std::vector<std::string> changes = ChangedFields(a.Set, b.Set);
    if (a.Raw && b.Raw && *a.Raw != *b.Raw)
        changes.push_back("Блок: байты " + ByteChanges(*a.Raw, *b.Raw, 0, a.Raw->size()));
    for (const std::string& c : changes)
        PrintLine(context.Out, c);
    return changes.empty() ? ExitCode::Done : ExitCode::Differ;
}

}  // namespace

TCommandLine ParseCommandLine(const std::vector<std::string>& args)
{
    TCommandLine out;
    std::vector<std::string> positional;
    bool optionsEnded = false;
    bool haveOutput = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (optionsEnded || a.size() < 2 || a[0] != '-') {
            positional.push_back(a);
        } else if (a == "--") {
            optionsEnded = true;
        } else if (a == "-h" || a == "--help") {
            out.Command = TCommand::Help;
            return out;
        } else if (a == "--each") {
            out.Each = true;
        } else if (a == "-y" || a == "--yes") {
            out.Yes = true;
        } else if (a == "--verify") {
            out.Verify = true;
        } else if (a == "-v" || a == "--verbose") {
            out.Verbose = true;
        } else if (a == "-o" || a == "--output") {
            if (i + 1 >= args.size()) {
                out.Error = "после " + a + " нужно имя файла";
                return out;
            }
            out.Output = args[++i];
            haveOutput = true;
        } else if (a.rfind("--output=", 0) == 0) {
            out.Output = a.substr(9);
            haveOutput = true;
        } else if (a.rfind("-o", 0) == 0) {
            out.Output = a.substr(2);
            haveOutput = true;
        } else {
            out.Error = "неизвестный параметр " + a;
            return out;
        }
    }
    if (positional.empty()) {
        out.Error = "не указана команда";
        return out;
    }

    struct TShape {
        const char* Name;
        TCommand Command;
        std::size_t Operands;  // after the command
        bool Port;             // the first operand is a port
        const char* Usage;
    };
    static const TShape kShapes[] = {
        {"read", TCommand::Read, 1, true, "read ПОРТ[,ПОРТ...] -o ФАЙЛ"},
        {"program", TCommand::Program, 2, true, "program ПОРТ[,ПОРТ...] ФАЙЛ [--each] [--verify]"},
        {"restore", TCommand::Restore, 2, true, "restore ПОРТ КОПИЯ [--yes] [--verify]"},
        {"show", TCommand::Show, 1, false, "show ФАЙЛ"},
        {"diff", TCommand::Diff, 2, false, "diff A B"},
        {"help", TCommand::Help, 0, false, "help"},
    };
    const auto shape =
        std::find_if(std::begin(kShapes), std::end(kShapes), [&](const TShape& s) { return positional[0] == s.Name; });
    if (shape == std::end(kShapes)) {
        out.Error = "неизвестная команда " + positional[0];
        return out;
    }
    const std::string usage = std::string("использование: vostrel-cli ") + shape->Usage;
    if (positional.size() - 1 != shape->Operands) {
        out.Error = usage;
        return out;
    }
    std::vector<std::string> operands(positional.begin() + 1, positional.end());
    if (shape->Port) {
        const std::string list = operands.front();
        operands.erase(operands.begin());
        for (std::size_t from = 0;;) {
            const std::size_t comma = list.find(',', from);
            std::string port = list.substr(from, comma - from);
            port.erase(0, port.find_first_not_of(' '));
            port.erase(port.find_last_not_of(' ') + 1);
            port = NormalisedPortName(port);
            if (port.empty()) {
                out.Error = (list.empty() ? "не указан порт; " : "пустое имя порта в списке «" + list + "»; ") + usage;
                return out;
            }
            if (std::find(out.Ports.begin(), out.Ports.end(), port) != out.Ports.end()) {
                out.Error = "порт " + port + " указан дважды";
                return out;
            }
            out.Ports.push_back(port);
            if (comma == std::string::npos)
                break;
            from = comma + 1;
        }
        if (out.Ports.size() > 1 && shape->Command == TCommand::Restore) {
            out.Error = "копия восстанавливается в одну станцию: укажите один порт";
            return out;
        }
    }
    if (std::any_of(operands.begin(), operands.end(), [](const std::string& f) { return f.empty(); })) {
        out.Error = "пустое имя файла; " + usage;
        return out;
    }
    const bool read = shape->Command == TCommand::Read;
    if (read != haveOutput || (read && out.Output.empty())) {
        out.Error = read ? "не указан файл (-o ФАЙЛ); " + usage : "-o только для команды read";
        return out;
    }
    if (out.Each && shape->Command != TCommand::Program) {
        out.Error = "--each только для команды program";
        return out;
    }
    if (out.Yes && shape->Command != TCommand::Restore) {
        out.Error = "--yes только для команды restore";
        return out;
    }
    if (out.Verify && shape->Command != TCommand::Program && shape->Command != TCommand::Restore) {
        out.Error = "--verify только для команд program и restore";
        return out;
    }
    // Two ports whose files would have the same name would write over each other.
    for (std::size_t k = 0; read && k < out.Ports.size(); ++k) {
        for (std::size_t j = 0; j < k; ++j) {
            if (OutputForPort(out.Output, out.Ports[j], true) == OutputForPort(out.Output, out.Ports[k], true)) {
                out.Error = "у портов " + out.Ports[j] + " и " + out.Ports[k] + " вышло бы одно имя файла";
                return out;
            }
        }
    }
    out.Command = shape->Command;
    out.Files = std::move(operands);
    return out;
}

std::string HelpText(const std::string& copiesFolder)
{
    return "vostrel-cli — программатор радиостанций Vostrel без окна.\n"
           "\n"
           "Использование:\n"
           "  vostrel-cli read ПОРТ[,ПОРТ...] -o ФАЙЛ\n"
           "      дождаться станции, прочитать её параметры в ФАЙЛ, попрощаться с ней\n"
           "  vostrel-cli program ПОРТ[,ПОРТ...] ФАЙЛ [--each] [--verify]\n"
           "      дождаться станции и записать в неё значения из ФАЙЛА так, как их записало\n"
           "      бы окно (частоты по сетке, калибровочные байты); с --each — станцию за\n"
           "      станцией, по строке на каждую, пока не нажато Ctrl+C\n"
           "  vostrel-cli restore ПОРТ КОПИЯ [--yes] [--verify]\n"
           "      записать в станцию байты 0–17 копии в точности такими, какими они были\n"
           "      прочитаны, с вычисленными по ним калибровочными байтами; прежде показать,\n"
           "      что изменится, и спросить (без вопроса с --yes)\n"
           "  vostrel-cli show ФАЙЛ\n"
           "      показать файл параметров так, как его показало бы окно\n"
           "  vostrel-cli diff A B\n"
           "      перечислить параметры, которыми различаются два файла\n"
           "\n"
           "ПОРТ: COM1 … COM6 — как в списке портов окна (/dev/COMn, если он есть, иначе\n"
           "n-й имеющийся последовательный порт), или путь к устройству (/dev/ttyUSB0).\n"
           "Несколько портов через запятую (COM1,COM2,COM4) работают одновременно, каждый\n"
           "со своей станцией; строки о ходе работы начинаются с [ПОРТ], в конце — итог по\n"
           "портам. read пишет по файлу на порт: ФАЙЛ-ПОРТ (станции.txt → станции-COM1.txt).\n"
           "Отказ одного порта не останавливает другие.\n"
           "\n"
           "Параметры:\n"
           "  -o, --output ФАЙЛ  куда записать прочитанные параметры (read)\n"
           "  --each             программировать станции одну за другой (program)\n"
           "  -y, --yes          не спрашивать подтверждения (restore)\n"
           "  --verify           после программирования прочитать станцию ещё раз (её нужно\n"
           "                     снова перевести в режим программирования) и сравнить с\n"
           "                     отправленным: «проверено» или каждое отличие (program, restore)\n"
           "  -v, --verbose      печатать журнал обмена со станцией\n"
           "  -h, --help         эта справка\n"
           "\n"
           "Перед программированием каждой станции её параметры сохраняются копией, после\n"
           "него — отправленные байты; папка копий:\n"
           "  " +
           copiesFolder +
           "\n"
           "Если копию записать нельзя, об этом сказано, а программирование продолжается.\n"
           "\n"
           "Ctrl+C во время ожидания закрывает порт; станции, которая на связи, сначала\n"
           "посылается пакет завершения, как при закрытии окна (на каждом порту).\n"
           "\n"
           "Коды завершения:\n"
           "  0    выполнено (и серия program --each, завершённая Ctrl+C во время ожидания,\n"
           "       если запрограммирована хотя бы одна станция)\n"
           "  1    ошибка в командной строке\n"
           "  2    файл не прочитан или содержит ошибку (названы строка и поле)\n"
           "  3    порт не открылся или отказал во время обмена\n"
           "  4    станция не запрограммирована: восстановление отклонено\n"
           "  5    read: файл не записан\n"
           "  6    diff: файлы различаются\n"
           "  7    вывод не дошёл (канал вывода закрыт); начатый обмен со станцией завершён\n"
           "  8    --verify: станция прочитана не такой, какой её запрограммировали\n"
           "  130  прервано (Ctrl+C, сигнал завершения)\n"
           "С несколькими портами код — худший из портов: 3, затем 8, 5, 130.\n";
}

// A run whose output was lost says so, unless it has worse to say.
int Told(int code, const TCliContext& context)
{
    const bool ended = code == ExitCode::Done || (code == ExitCode::Interrupted && !context.Stop());
    return ended && OutputLost(context) ? ExitCode::OutputLost : code;
}

int RunCommand(const TCommandLine& line, const TCliContext& context)
{
    switch (line.Command) {
    case TCommand::Help:
        std::fputs(HelpText(context.CopiesFolder).c_str(), context.Out);
        return ExitCode::Done;
    case TCommand::Read:
        return Told(RunRead(line, context), context);
    case TCommand::Program:
        return Told(RunProgram(line, context), context);
    case TCommand::Restore:
        return Told(RunRestore(line, context), context);
    case TCommand::Show:
        return RunShow(line, context);
    case TCommand::Diff:
        return RunDiff(line, context);
    case TCommand::None:
        break;
    }
    PrintLine(context.Err, "vostrel-cli: " + (line.Error.empty() ? std::string("не указана команда") : line.Error) +
                               "\nСправка: vostrel-cli --help");
    return ExitCode::Usage;
}

}  // namespace vostrel

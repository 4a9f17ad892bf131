#include "Commands.h"

#include "CliPort.h"
#include "CommLink.h"
#include "Copies.h"
#include "Packets.h"
#include "ParamBlock.h"
#include "ParamFile.h"
#include "PortError.h"
#include "Progress.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QString>

#include <algorithm>
#include <string_view>

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
    std::fprintf(out, "%s\n", line.c_str());
    std::fflush(out);
}

bool LoadParamFile(const std::string& path, TParamFile& file, std::string& error)
{
    QFile f(QString::fromUtf8(path));
    if (!f.open(QIODevice::ReadOnly)) {
        const QFileInfo info(f.fileName());
        const std::string why = !info.exists()       ? "файла нет"
                                : info.isDir()       ? "это папка"
                                : !info.isReadable() ? "нет прав на чтение"
                                                     : ToUtf8(f.errorString());
        error = "Не удалось прочитать файл " + path + ": " + why;
        return false;
    }
    const QByteArray data = f.read(static_cast<qint64>(kMaxParamFileBytes) + 1);
    if (static_cast<std::size_t>(data.size()) > kMaxParamFileBytes) {
        error = "Файл " + path + " слишком велик для файла параметров";
        return false;
    }
    TParamFileError parseError;
    if (!ParseParamFile(std::string_view(data.constData(), static_cast<std::size_t>(data.size())), file, parseError)) {
        error = path + ": " + DescribeParamFileError(parseError);
        return false;
    }
    return true;
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
    TStationSession(const TCliContext& context, const TCommandLine& line)
        : m_context(context), m_progress(context.Err, context.Terminal), m_host(m_progress, line.Verbose),
          m_bytes(m_port.Comm()), m_driver(
                                      m_bytes, m_host, [this] { return StopWaiting(); }, context.Timings)
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
        m_portName = line.Port;
        m_host.SetLine(m_port.Comm());
    }

    ~TStationSession() { m_progress.Clear(); }

    bool Open()
    {
        if (!m_port.Open(m_portName, m_context.LockDir)) {
            PrintLine(m_context.Err, m_port.Failure());
            return false;
        }
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
            switch (m_driver.WaitAndRead(m_port.Path(), block)) {
            case TStationDriver::TRead::Read:
                m_progress.Clear();
                return true;
            case TStationDriver::TRead::Interrupted:
                return false;
            case TStationDriver::TRead::BadGreeting:
                m_progress.Note(std::string("Вместо приветствия станции пришёл неправильный пакет.") + kAgain);
                break;
            case TStationDriver::TRead::Missing:
                m_progress.Note(std::string("Станция не прислала свои параметры.") + kAgain);
                break;
            case TStationDriver::TRead::Damaged:
                m_progress.Note(kDamagedAnswerText);
                break;
            }
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
    TCliHost& Host() { return m_host; }

private:
    const TCliContext& m_context;
    TProgress m_progress;
    TCliHost m_host;
    TCliPort m_port;
    TCommBytePort m_bytes;
    TStationDriver m_driver;
    std::string m_portName;
    TParameterSet m_editors;  // the window's start-up values
};

int RunRead(const TCommandLine& line, const TCliContext& context)
{
    TStationSession session(context, line);
    if (!session.Open())
        return ExitCode::PortFailed;
    TParamFile file;
    try {
        TByteArray block;
        if (!session.NextStation(block)) {
            session.Finish();
            return ExitCode::Interrupted;
        }
        file.Set = session.ShowAndKeep("read", block);
        file.Note = "прочитано из станции на порту " + session.PortText() + " " + Now();
        session.Finish();
    } catch (const std::exception& e) {
        return session.PortFailure(e);
    }

    QSaveFile out(QString::fromUtf8(line.Output));
    const std::string text = FormatParamFile(file);
    if (!out.open(QIODevice::WriteOnly) || out.write(text.data(), static_cast<qint64>(text.size())) < 0 ||
        !out.commit()) {
        PrintLine(context.Err, "Не удалось записать файл " + line.Output + ": " + ToUtf8(out.errorString()));
        return ExitCode::NotWritten;
    }
    // Also after a late Ctrl+C: the station was read and has had its goodbye.
    PrintLine(context.Err, "Параметры станции записаны в файл " + line.Output);
    return ExitCode::Done;
}

int RunProgram(const TCommandLine& line, const TCliContext& context)
{
    TParamFile file;
    std::string error;
    if (!LoadParamFile(line.Files[0], file, error)) {
        PrintLine(context.Err, error);
        return ExitCode::BadFile;
    }
    TParamFileError limits;
    if (!CheckEditorLimits(file.Set, limits)) {
        PrintLine(context.Err, line.Files[0] + ": " + DescribeParamFileError(limits));
        return ExitCode::BadFile;
    }

    TStationSession session(context, line);
    if (!session.Open())
        return ExitCode::PortFailed;
    int stations = 0;
    try {
        for (;;) {
            TByteArray block;
            if (!session.NextStation(block)) {
                session.Finish();
                // A series ends with Ctrl+C while waiting: no station was left half-way.
                return line.Each && stations > 0 ? ExitCode::Done : ExitCode::Interrupted;
            }
            const TParameterSet shown = session.ShowAndKeep("read", block, kProgramsWithoutCopy);
            if (context.Stop()) {
                session.Finish();
                return ExitCode::Interrupted;
            }
            const TByteArray sent = ProgrammingBlock(file.Set, session.Host());
            TParameterSet programmed;
            if (!session.Program(sent, programmed)) {
                session.Finish();
                return ExitCode::Interrupted;
            }
            ++stations;
            const std::vector<std::string> changes = ChangedFields(shown, programmed);
            PrintLine(context.Out, Now() + "  " + session.PortName() + "  станция " + std::to_string(stations) + ": " +
                                       (changes.empty() ? "без изменений" : Joined(changes, "; ")));
            if (!line.Each)
                break;
            session.ThankYouPause();
        }
        session.Finish();
    } catch (const std::exception& e) {
        return session.PortFailure(e);
    }
    return ExitCode::Done;
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
    std::string error;
    if (!LoadParamFile(line.Files[0], copy, error)) {
        PrintLine(context.Err, error);
        return ExitCode::BadFile;
    }
    if (!copy.Raw || copy.Raw->size() != static_cast<std::size_t>(kBlockSize)) {
        PrintLine(context.Err, line.Files[0] +
                                   ": в файле нет байтов копии (строки «Блок»); восстановить можно только копию, "
                                   "для своих файлов служит команда program");
        return ExitCode::BadFile;
    }

    TStationSession session(context, line);
    if (!session.Open())
        return ExitCode::PortFailed;
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
            std::fputs("Записать копию в станцию? [д/н] ", context.Err);
            std::fflush(context.Err);
            const std::optional<std::string> answer = context.AskLine();
            if (!answer)
                std::fputs("\n", context.Err);
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
        session.Finish();
    } catch (const std::exception& e) {
        return session.PortFailure(e);
    }
    return ExitCode::Done;
}

int RunShow(const TCommandLine& line, const TCliContext& context)
{
    TParamFile file;
    std::string error;
    if (!LoadParamFile(line.Files[0], file, error)) {
        PrintLine(context.Err, error);
        return ExitCode::BadFile;
    }
    std::fputs(ShowText(file).c_str(), context.Out);
    std::fflush(context.Out);
    return ExitCode::Done;
}

int RunDiff(const TCommandLine& line, const TCliContext& context)
{
    TParamFile a, b;
    std::string error;
    if (!LoadParamFile(line.Files[0], a, error) || !LoadParamFile(line.Files[1], b, error)) {
        PrintLine(context.Err, error);
        return ExitCode::BadFile;
    }
    std::vector<std::string> changes = ChangedFields(a.Set, b.Set);
    if (a.Raw && b.Raw && *a.Raw != *b.Raw) {
        std::vector<std::string> bytes;
        for (std::size_t k = 0; k < a.Raw->size() && k < b.Raw->size(); ++k) {
            if ((*a.Raw)[k] != (*b.Raw)[k])
                bytes.push_back(std::to_string(k) + ": " + HexLine(*a.Raw, k, 1) + " → " + HexLine(*b.Raw, k, 1));
        }
        changes.push_back("Блок: байты " + Joined(bytes, ", "));
    }
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
        {"read", TCommand::Read, 1, true, "read ПОРТ -o ФАЙЛ"},
        {"program", TCommand::Program, 2, true, "program ПОРТ ФАЙЛ [--each]"},
        {"restore", TCommand::Restore, 2, true, "restore ПОРТ КОПИЯ [--yes]"},
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
        out.Port = operands.front();
        operands.erase(operands.begin());
        if (out.Port.empty()) {
            out.Error = "не указан порт; " + usage;
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
    out.Command = shape->Command;
    out.Files = std::move(operands);
    return out;
}

std::string HelpText(const std::string& copiesFolder)
{
    return "vostrel-cli — программатор радиостанций Vostrel без окна.\n"
           "\n"
           "Использование:\n"
           "  vostrel-cli read ПОРТ -o ФАЙЛ\n"
           "      дождаться станции, прочитать её параметры в ФАЙЛ, попрощаться с ней\n"
           "  vostrel-cli program ПОРТ ФАЙЛ [--each]\n"
           "      дождаться станции и записать в неё значения из ФАЙЛА так, как их записало\n"
           "      бы окно (частоты по сетке, калибровочные байты); с --each — станцию за\n"
           "      станцией, по строке на каждую, пока не нажато Ctrl+C\n"
           "  vostrel-cli restore ПОРТ КОПИЯ [--yes]\n"
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
           "\n"
           "Параметры:\n"
           "  -o, --output ФАЙЛ  куда записать прочитанные параметры (read)\n"
           "  --each             программировать станции одну за другой (program)\n"
           "  -y, --yes          не спрашивать подтверждения (restore)\n"
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
           "посылается пакет завершения, как при закрытии окна.\n"
           "\n"
           "Коды завершения:\n"
           "  0    выполнено (и серия program --each, завершённая Ctrl+C во время ожидания)\n"
           "  1    ошибка в командной строке\n"
           "  2    файл не прочитан или содержит ошибку (названы строка и поле)\n"
           "  3    порт не открылся или отказал во время обмена\n"
           "  4    станция не запрограммирована: восстановление отклонено\n"
           "  5    read: файл не записан\n"
           "  6    diff: файлы различаются\n"
           "  7    вывод не дошёл (канал вывода закрыт); начатый обмен со станцией завершён\n"
           "  130  прервано (Ctrl+C, сигнал завершения)\n";
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

#include "StationCommands.h"

#include "BlockTexts.h"
#include "CliView.h"
#include "FileCommands.h"
#include "Output.h"
#include "ParamFile.h"
#include "PortRuns.h"
#include "Record.h"
#include "Series.h"
#include "StationPort.h"
#include "StationSession.h"

#include <QFileInfo>
#include <QSaveFile>
#include <QString>

#include <algorithm>

namespace vostrel {

namespace {

const char* const kProgramsWithoutCopy = " Станция программируется и без копии.";

// The context with the record --log asks for; false, said, when it cannot be
// opened: before any port is.
bool WithRecord(const TCommandLine& line, TRecord& record, TCliContext& context)
{
    if (line.Log.empty())
        return true;
    if (!record.Open(line.Log)) {
        PrintLine(context.Err, "Не удалось открыть журнал " + line.Log + ": " + record.Failure());
        return false;
    }
    context.Record = &record;
    return true;
}

void ReadOn(TStationSession& session, TPortRun& run, const std::string& output)
{
    TParamFile file;
    try {
        TByteArray block;
        if (!session.NextStation(block)) {
            session.Finish();
            run.Code = ExitCode::Interrupted;
            run.StoppedWaiting = true;
            RecordStop(session, run, false);
            return;
        }
        run.Met = true;
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
        session.View().Error("Не удалось записать файл " + output + ": " + ToUtf8(out.errorString()));
        run.Code = ExitCode::NotWritten;
        run.Trouble = "файл не записан";
        session.Record(RecordEvent::Read, "файл " + output + " не записан: " + ToUtf8(out.errorString()), file.Note);
        return;
    }
    // Also after a late Ctrl+C: the station was read and has had its goodbye.
    session.View().Error("Параметры станции записаны в файл " + output);
    run.File = output;
    session.Record(RecordEvent::Read, "в файл " + output, file.Note);
}

// Why a read could not end in path, told before the station is met: a folder
// there, or no folder to write in; "" when nothing says so yet.
std::string UnwritableOutput(const std::string& path)
{
    const QFileInfo file(QString::fromUtf8(path));
    if (file.isDir())
        return "это папка";
    // The new file takes the old one's place, which it may not do here.
    if (file.exists() && !file.isWritable())
        return "файл только для чтения";
    const QFileInfo folder(file.absolutePath());
    if (!folder.exists())
        return "нет папки " + ToUtf8(folder.filePath());
    if (!folder.isDir())
        return "на месте папки файл " + ToUtf8(folder.filePath());
    if (!folder.isWritable())
        return "нет права записи в папку " + ToUtf8(folder.filePath());
    return {};
}

// One device named twice is refused before any port opens, whatever names
// reach it: the second open would find it held by this very command.
bool PortsApart(const TCommandLine& line, const TCliContext& context)
{
    const std::string twice = line.Ports.size() > 1 ? OneDeviceTwice(line.Ports) : std::string();
    if (!twice.empty())
        PrintLine(context.Err, "vostrel-cli: " + twice + "\nСправка: vostrel-cli --help");
    return twice.empty();
}

TRunPlan PlanOf(const TCommandLine& line)
{
    return {line.Ports, line.Command == TCommand::Read, line.Each, line.Verify};
}

// kept: the record holds the summary too, so that losing it alone (a reader
// killed with the program by Ctrl+C) fails nothing.
void PrintSummary(const std::vector<TPortRun>& runs, const TCommandLine& line, const TCliContext& context, bool kept)
{
    const TText kind = kept ? TText::Kept : TText::Lasting;
    PrintLine(context.Out, "Итог:", kind);
    for (const TPortRun& r : runs)
        PrintLine(context.Out, "  " + r.Port + "  " + SummaryOf(r, PlanOf(line)), kind);
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

}  // namespace

int RunRead(const TCommandLine& line, const TCliContext& given)
{
    TCliContext context = given;
    UseCliViews(context, line.Verbose);
    if (!PortsApart(line, context))
        return ExitCode::Usage;
    const bool several = line.Ports.size() > 1;
    for (const std::string& port : line.Ports) {
        const std::string output = OutputForPort(line.Output, port, several);
        const std::string why = UnwritableOutput(output);
        if (!why.empty()) {
            PrintLine(context.Err, "Файл " + output + " не записать: " + why + ". Станция не читалась.");
            return ExitCode::NotWritten;
        }
    }
    TRecord record([&](const std::string& text) { PrintLine(context.Err, text); });
    if (!WithRecord(line, record, context))
        return ExitCode::NotWritten;
    const std::vector<TPortRun> runs = OnEachPort(PlanOf(line), context, [&](TStationSession& session, TPortRun& run) {
        ReadOn(session, run, OutputForPort(line.Output, run.Port, several));
        run.CopiesLost = session.CopiesLost();
    });
    const bool kept = RecordSummary(runs, PlanOf(line), context);
    if (several)
        PrintSummary(runs, line, context, kept);
    return CombinedCode(runs, false, context);
}

int RunProgram(const TCommandLine& line, const TCliContext& given)
{
    TCliContext context = given;
    UseCliViews(context, line.Verbose);
    TParamFile file;
    if (!LoadParamFile(line.Files[0], file, context.Err))
        return ExitCode::BadFile;
    TParamFileError limits;
    if (!CheckEditorLimits(file.Set, limits)) {
        PrintLine(context.Err, line.Files[0] + ": " + DescribeParamFileError(limits));
        return ExitCode::BadFile;
    }
    if (!PortsApart(line, context))
        return ExitCode::Usage;
    TRecord record([&](const std::string& text) { PrintLine(context.Err, text); });
    if (!WithRecord(line, record, context))
        return ExitCode::NotWritten;
    for (const std::string& s : SentOtherwise(file.Set))
        PrintLine(context.Err, line.Files[0] + ": " + s);
    const std::vector<TPortRun> runs = OnEachPort(PlanOf(line), context, [&](TStationSession& session, TPortRun& run) {
        ProgramOn(session, run, file, PlanOf(line));
        run.CopiesLost = session.CopiesLost();
    });
    // A series on one port ends with its summary too: what a shift did.
    const bool kept = RecordSummary(runs, PlanOf(line), context);
    if (line.Ports.size() > 1 || line.Each)
        PrintSummary(runs, line, context, kept);
    return CombinedCode(runs, line.Each, context);
}

namespace {

// The copy written into the station on session's port once the operator
// agrees; the exit code.
int RestoreOn(TStationSession& session, TPortRun& run, const TParamFile& copy, const TCommandLine& line,
              const TCliContext& context)
{
    try {
        TByteArray block;
        if (!session.NextStation(block)) {
            session.Finish();
            run.StoppedWaiting = true;
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
        if (block.size() >= kBlockUserBytes &&
            std::equal(block.begin(), block.begin() + kBlockUserBytes, copy.Raw->begin())) {
            PrintLine(context.Out, "  станция уже хранит байты 0–17 копии: записывать нечего, ничего не отправлено");
            session.Finish();
            return session.CopiesLost() > 0 ? ExitCode::NotWritten : ExitCode::Done;
        }

        if (!line.Yes) {
            // The question is on the screen before the answer is read.
            Emit(context.Err, "Записать копию в станцию? [д/н] ");
            FlushOutput();
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
        TByteArray sent;
        TParameterSet programmed;
        if (!session.Program([&] { return WithCalibration(*copy.Raw, session.Host()); }, sent, programmed)) {
            session.Finish();
            return ExitCode::Interrupted;
        }
        PrintLine(context.Out, Now() + "  " + session.PortName() + "  копия записана в станцию");
        ++run.Programmed;
        session.Record(RecordEvent::Programmed,
                       "из копии " + line.Files[0] + ": " +
                           (changes.empty() ? "значения параметров совпадают" : Joined(changes, "; ")),
                       copy.Note);
        if (line.Verify && !VerifyStation(session, sent, "копия", run)) {
            session.Finish();
            return ExitCode::Interrupted;
        }
        session.Finish();
    } catch (const std::exception& e) {
        run.Trouble = "отказ порта";
        return session.PortFailure(e);
    }
    return run.NotVerified > 0        ? ExitCode::NotVerified
           : session.CopiesLost() > 0 ? ExitCode::NotWritten
                                      : ExitCode::Done;
}

}  // namespace

int RunRestore(const TCommandLine& line, const TCliContext& given)
{
    TCliContext context = given;
    UseCliViews(context, line.Verbose);
    TParamFile copy;
    if (!LoadParamFile(line.Files[0], copy, context.Err))
        return ExitCode::BadFile;
    if (!copy.Raw || copy.Raw->size() != static_cast<std::size_t>(kBlockSize)) {
        PrintLine(context.Err, line.Files[0] +
                                   ": в файле нет байтов копии (строки «Блок»); восстановить можно только копию, "
                                   "для своих файлов служит команда program");
        return ExitCode::BadFile;
    }
    // Found out before the station is met: it would wait for nothing.
    if (!line.Yes && !context.CanAsk()) {
        PrintLine(context.Err, "vostrel-cli: стандартный ввод пуст или закрыт — спросить, записывать ли копию, нельзя; "
                               "чтобы записать её без вопроса, добавьте --yes. Станция не читалась.");
        return ExitCode::Usage;
    }
    TRecord record([&](const std::string& text) { PrintLine(context.Err, text); });
    if (!WithRecord(line, record, context))
        return ExitCode::NotWritten;
    const std::vector<TPortRun> runs = OnEachPort(PlanOf(line), context, [&](TStationSession& session, TPortRun& run) {
        run.Code = RestoreOn(session, run, copy, line, context);
        run.CopiesLost = session.CopiesLost();
        if (run.Code == ExitCode::Interrupted)
            RecordStop(session, run, line.Verify);
        else if (run.Code == ExitCode::NotProgrammed)
            session.Record(RecordEvent::Stopped, "копия не записана: оператор отказался");
    });
    RecordSummary(runs, PlanOf(line), context);
    return CombinedCode(runs, false, context);
}

}  // namespace vostrel

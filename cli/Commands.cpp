#include "Commands.h"

#include "FileCommands.h"
#include "Output.h"
#include "StationCommands.h"

#include <cstdio>
#include <exception>
#include <string>

namespace vostrel {

namespace {

// A run whose output was lost says so, unless it has worse to say; where one
// of the two streams still has a reader, in words too. A reader that left
// after the operator's stop (Ctrl+C kills "| tee" too) with no more than
// what the record holds fails nothing.
int Told(int code, const TCliContext& context)
{
    FlushOutput();
    const bool ended = code == ExitCode::Done || (code == ExitCode::Interrupted && !context.Stop());
    if (!OutputLost())
        return code;
    const TLostLines lost = LostLines();
    const bool nothingMissing = context.Stop() && lost.Counted == 0;
    const std::string text =
        !nothingMissing ? "vostrel-cli: вывод не дошёл до читателя (канал закрыт); начатый обмен со станцией "
                          "завершён, но строки о нём потеряны."
        : lost.Kept > 0 ? "vostrel-cli: итог не дошёл до читателя (канал закрыт); он записан в журнал."
                        : "";
    for (std::FILE* stream : {context.Err, context.Out}) {
        if (!text.empty() && !StreamLost(stream)) {
            PrintLine(stream, text);
            FlushOutput();
            break;
        }
    }
    return ended && !nothingMissing ? ExitCode::OutputLost : code;
}

int Run(const TCommandLine& line, const TCliContext& context)
{
    switch (line.Command) {
    case TCommand::Help:
        Emit(context.Out, HelpText(context.CopiesFolder));
        return ExitCode::Done;
    case TCommand::Version:
        Emit(context.Out, std::string("vostrel-cli ") + VOSTREL_VERSION + "\n");
        return ExitCode::Done;
    case TCommand::Read:
        return RunRead(line, context);
    case TCommand::Program:
        return RunProgram(line, context);
    case TCommand::Restore:
        return RunRestore(line, context);
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

}  // namespace

int RunCommand(const TCommandLine& line, const TCliContext& context)
{
    int code = ExitCode::PortFailed;
    try {
        code = Run(line, context);
    } catch (const std::exception& e) {
        // Every port's session has closed its port on the way out.
        PrintLine(context.Err, std::string("vostrel-cli: внутренняя ошибка: ") + e.what());
    }
    // Only an exchange with a station has lines worth saying were lost.
    if (line.Command == TCommand::Read || line.Command == TCommand::Program || line.Command == TCommand::Restore)
        return Told(code, context);
    FlushOutput();
    return code;
}

}  // namespace vostrel

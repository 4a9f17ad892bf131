#include "Commands.h"

#include "FileCommands.h"
#include "Output.h"
#include "StationCommands.h"

#include <cstdio>

namespace vostrel {

namespace {

// A run whose output was lost says so, unless it has worse to say.
int Told(int code, const TCliContext& context)
{
    const bool ended = code == ExitCode::Done || (code == ExitCode::Interrupted && !context.Stop());
    return ended && OutputLost(context) ? ExitCode::OutputLost : code;
}

}  // namespace

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

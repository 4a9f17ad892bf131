#include "FileCommands.h"

#include "BlockTexts.h"
#include "Output.h"

#include "ParamFileLoad.h"

namespace vostrel {

bool LoadParamFile(const std::string& path, TParamFile& file, std::FILE* err)
{
    const TParamFileLoad load = LoadParamFileAt(path, file);
    if (!load.Loaded())
        PrintLine(err, path + ": " + load.Text);
    return load.Loaded();
}

int RunShow(const TCommandLine& line, const TCliContext& context)
{
    TParamFile file;
    if (!LoadParamFile(line.Files[0], file, context.Err))
        return ExitCode::BadFile;
    Emit(context.Out, ShowText(file));
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
    // Said even of files alike: either would be programmed otherwise than it reads.
    for (const auto* file : {&a, &b}) {
        const std::string& name = line.Files[file == &a ? 0 : 1];
        for (const std::string& s : file->Raw ? std::vector<std::string>() : SentOtherwise(file->Set))
            PrintLine(context.Out, name + ": " + s);
    }
    return changes.empty() ? ExitCode::Done : ExitCode::Differ;
}

}  // namespace vostrel

#include "FileCommands.h"

#include "BlockTexts.h"
#include "Output.h"

#include <QFile>
#include <QFileInfo>

#include <string_view>

namespace vostrel {

// Reads and checks a parameter file; a failure is told on err, naming the
// file and, for a refused one, its line and field.
bool LoadParamFile(const std::string& path, TParamFile& file, std::FILE* err)
{
    const auto refuse = [&](const std::string& why) {
        PrintLine(err, why);
        return false;
    };
    QFile f(QString::fromUtf8(path));
    if (!f.open(QIODevice::ReadOnly)) {
        const QFileInfo info(f.fileName());
        const std::string why = !info.exists()       ? "файла нет"
                                : info.isDir()       ? "это папка"
                                : !info.isReadable() ? "нет прав на чтение"
                                                     : ToUtf8(f.errorString());
        return refuse("Не удалось прочитать файл " + path + ": " + why);
    }
    const QByteArray data = f.read(static_cast<qint64>(kMaxParamFileBytes) + 1);
    if (static_cast<std::size_t>(data.size()) > kMaxParamFileBytes)
        return refuse("Файл " + path + " слишком велик для файла параметров");
    TParamFileError parseError;
    if (!ParseParamFile(std::string_view(data.constData(), static_cast<std::size_t>(data.size())), file, parseError))
        return refuse(path + ": " + DescribeParamFileError(parseError));
    return true;
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
    return changes.empty() ? ExitCode::Done : ExitCode::Differ;
}

}  // namespace vostrel

#include "Output.h"

#include "Progress.h"

#include <QDateTime>

#include <mutex>

namespace vostrel {

std::string ToUtf8(const QString& s)
{
    return s.toUtf8().toStdString();
}

std::string Now()
{
    return ToUtf8(QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
}

void PrintLine(std::FILE* out, const std::string& line)
{
    const std::lock_guard<std::mutex> hold(OutputLock());
    std::fprintf(out, "%s\n", line.c_str());
    std::fflush(out);
}

bool OutputLost(const TCliContext& context)
{
    return std::ferror(context.Out) != 0 || std::ferror(context.Err) != 0;
}

}  // namespace vostrel

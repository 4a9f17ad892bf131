#include "ExchangeLog.h"

namespace vostrel {

TExchangeLog::TExchangeLog(QWidget* parent) : QPlainTextEdit(parent)
{
    setReadOnly(true);
    // Also drops the undo history, which would otherwise keep every line.
    setMaximumBlockCount(kExchangeLogLines);
    hide();
}

void TExchangeLog::AppendLine(const QString& line)
{
    appendPlainText(line);
}

QStringList TExchangeLog::Lines() const
{
    if (document()->isEmpty())
        return {};
    return toPlainText().split(QLatin1Char('\n'));
}

}  // namespace vostrel

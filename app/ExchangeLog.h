// The hidden exchange log: progress and byte lines of the exchange, never
// shown to the operator.
#pragma once

#include <QPlainTextEdit>
#include <QStringList>

namespace vostrel {

// Only the newest lines are kept: a utility left running through station
// after station must not grow by some 40 kB per programming.
constexpr int kExchangeLogLines = 5000;

class TExchangeLog : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit TExchangeLog(QWidget* parent = nullptr);
    void AppendLine(const QString& line);
    // The kept lines, oldest first; empty when nothing was logged.
    QStringList Lines() const;
};

}  // namespace vostrel

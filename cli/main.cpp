// vostrel-cli: reads, programs and restores stations without a window.
#include "Commands.h"
#include "Console.h"
#include "Copies.h"
#include "FineTimer.h"
#include "Output.h"

#include <QCoreApplication>
#include <QStringList>

#include <string>
#include <vector>

int main(int argc, char* argv[])
{
    // Before anything opens a file that would take a closed stream's number.
    vostrel::OpenClosedStandardStreams();
    const vostrel::TFineTimer fineTimer;
    QCoreApplication app(argc, argv);
    vostrel::SetApplicationNames();
    vostrel::PrepareConsole();
    vostrel::InstallInterruptHandlers();
    vostrel::WatchStandardStreams();

    std::vector<std::string> args;
    const QStringList arguments = QCoreApplication::arguments();
    for (qsizetype i = 1; i < arguments.size(); ++i)
        args.push_back(arguments[i].toUtf8().toStdString());

    vostrel::TCliContext context;
    context.Terminal = vostrel::IsTerminal(stderr);
    context.CopiesFolder = vostrel::CopiesFolder().toUtf8().toStdString();
    const int code = vostrel::RunCommand(vostrel::ParseCommandLine(args), context);
    vostrel::MarkFinished();
    return code;
}

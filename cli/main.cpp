// vostrel-cli: reads, programs and restores stations without a window.
#include "Commands.h"
#include "Console.h"
#include "Copies.h"

#include <QCoreApplication>
#include <QStringList>

#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
// After <windows.h>, which it needs.
#include <mmsystem.h>

namespace {

// Sleep lasts a whole timer tick (about 15.6 ms) unless this process itself
// asks for 1 ms: the pauses between a packet's bytes and the polls would
// stretch many times over. Given back at exit.
struct TFineTimer {
    TFineTimer() { ::timeBeginPeriod(1); }
    ~TFineTimer() { ::timeEndPeriod(1); }
    TFineTimer(const TFineTimer&) = delete;
    TFineTimer& operator=(const TFineTimer&) = delete;
};

}  // namespace
#endif

int main(int argc, char* argv[])
{
#ifdef _WIN32
    const TFineTimer fineTimer;
#endif
    QCoreApplication app(argc, argv);
    vostrel::SetApplicationNames();
    vostrel::PrepareConsole();
    vostrel::InstallInterruptHandlers();

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

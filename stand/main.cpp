// vostrel-stand: the bench window. --help and --version are answered without
// a window.
#include "Application.h"
#include "Copies.h"
#include "SessionEnd.h"
#include "StandOptions.h"
#include "StandWindow.h"

#include <QApplication>

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char* argv[])
{
    std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    const vostrel::TStandOptions options = vostrel::ParseStandOptions(args);
    if (options.Help && options.Error.empty()) {
        std::fputs(vostrel::StandHelp().c_str(), stdout);
        return 0;
    }
    if (options.Version && options.Error.empty()) {
        std::fputs("vostrel-stand " VOSTREL_VERSION "\n", stdout);
        return 0;
    }
#ifdef _WIN32
    // Built with MinGW, Qt keeps the stack of its compiled regular
    // expressions in a thread_local whose destructor, at the thread's end,
    // reads freed storage: a port's thread that got one crashed the program
    // as it ended at «Стоп». Without the compiler there is no such stack, and
    // the program's few patterns need no speed.
    qputenv("QT_ENABLE_REGEXP_JIT", "0");
#endif
    const auto app = vostrel::MakeApplication(argc, argv);
    // Before the copies folder is asked for: the window's and the CLI's.
    vostrel::SetApplicationNames();
    vostrel::TStandWindow window(options, vostrel::DefaultStandSetup());
    // A log-off or shutdown ends the shift as «Стоп» does: the stations on
    // the line get their goodbye before the program ends (on Windows,
    // stand/windows/SessionEnd.cpp).
    vostrel::CloseOnSessionEnd(window);
    window.show();
    return QApplication::exec();
}

// Program entry: the one window and the toolkit's message loop.
#include "Main.h"
#include "Application.h"

#include <QApplication>
#include <QSocketNotifier>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int g_signalPipe[2] = {-1, -1};

void OnTerminate(int)
{
    const char b = 1;
    [[maybe_unused]] const auto n = ::write(g_signalPipe[1], &b, 1);
}

}  // namespace

int main(int argc, char* argv[])
{
    const auto app = vostrel::MakeApplication(argc, argv);
    TfmMain fmMain;

    // A session ending (SIGTERM, Ctrl+C) closes the window like its close
    // box, so a connected station still gets its goodbye.
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) == 0) {
        auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, app.get());
        QObject::connect(notifier, &QSocketNotifier::activated, &fmMain, [&fmMain] {
            char b;
            [[maybe_unused]] const auto n = ::read(g_signalPipe[0], &b, 1);
            fmMain.close();
        });
        struct sigaction sa {};
        sa.sa_handler = OnTerminate;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = SA_RESTART;
        sigaction(SIGTERM, &sa, nullptr);
        sigaction(SIGINT, &sa, nullptr);
    }

    fmMain.show();
    return QApplication::exec();
}

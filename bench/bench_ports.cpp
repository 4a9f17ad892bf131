// What each port name reaches on this machine and how long finding that
// takes: one resolution on its own, the port list opening in the window with
// the longest time the window's thread went without handling messages, and
// the lookup of a device's holders, plain and with a process holding 20 000
// descriptors, alone and inside a pick. Prints numbers; judges nothing.
#include "Application.h"
#include "Main.h"
#include "PortFinder.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace vostrel;

namespace {

void PrintRange(const char* what, std::vector<double> ms)
{
    std::sort(ms.begin(), ms.end());
    std::printf("%s: min %.1f  median %.1f  max %.1f ms (n=%zu)\n", what, ms.front(), ms[ms.size() / 2], ms.back(),
                ms.size());
}

std::vector<double> TimeHolders(const std::string& device, int runs)
{
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer t;
        t.start();
        const auto holders = PortHolders(device);
        ms.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
    }
    return ms;
}

// A child holding `count` descriptors, as a busy server may; 0 when it
// could not start. The caller kills it.
pid_t HoldDescriptors(int count)
{
    int ready[2];
    if (::pipe(ready) != 0)
        return 0;
    const pid_t pid = ::fork();
    if (pid == 0) {
        rlimit lim{};
        ::getrlimit(RLIMIT_NOFILE, &lim);
        lim.rlim_cur = std::min<rlim_t>(lim.rlim_max, static_cast<rlim_t>(count) + 64);
        ::setrlimit(RLIMIT_NOFILE, &lim);
        int opened = 0;
        while (opened < count && ::open("/dev/null", O_RDONLY) >= 0)
            ++opened;
        [[maybe_unused]] const auto n = ::write(ready[1], &opened, sizeof opened);
        ::pause();
        ::_exit(0);
    }
    int opened = 0;
    [[maybe_unused]] const auto n = ::read(ready[0], &opened, sizeof opened);
    ::close(ready[0]);
    ::close(ready[1]);
    std::printf("a process holds %d descriptors\n", opened);
    return pid;
}

}  // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const auto app = MakeApplication(argc, argv);

    std::vector<double> resolve;
    std::vector<TPortChoice> choices;
    for (int i = 0; i < 20; ++i) {
        QElapsedTimer t;
        t.start();
        choices = FindComPorts();
        resolve.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
    }
    for (const TPortChoice& c : choices)
        std::printf("%s -> %s\n", c.Name.c_str(), qPrintable(PortToolTip(c)));
    PrintRange("one resolution", resolve);

    // The window with no port to open; its list then shows COM1 to COM6.
    TWindowOptions options;
    options.DevicePath = [](const QString&) { return std::string("/nonexistent"); };
    options.PortNames = [] { return ComPortNames(); };
    TfmMain w(options);
    auto* list = w.findChild<QComboBox*>(QStringLiteral("cbPort"));
    // Message boxes of the failed opens are closed at once.
    QTimer boxes;
    QObject::connect(&boxes, &QTimer::timeout, [] {
        if (QWidget* m = QApplication::activeModalWidget())
            m->close();
    });
    boxes.start(10);
    w.show();
    QTest::qWait(500);

    QElapsedTimer beat;
    double longest = 0;
    QTimer heart;
    QObject::connect(&heart, &QTimer::timeout, [&] {
        longest = std::max(longest, static_cast<double>(beat.nsecsElapsed()) / 1e6);
        beat.restart();
    });
    std::vector<double> open;
    for (int i = 0; i < 10; ++i) {
        longest = 0;
        beat.start();
        heart.start(0);
        QElapsedTimer t;
        t.start();
        list->showPopup();
        open.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
        heart.stop();
        list->hidePopup();
        std::printf("list opened in %.1f ms; longest stretch without handling messages %.1f ms\n", open.back(),
                    longest);
        QTest::qWait(50);
    }
    w.close();

    // Holders of a device nobody holds, so every descriptor is looked at;
    // the busy process holds another one.
    const std::string device = "/dev/zero";
    PrintRange("holder lookup", TimeHolders(device, 10));
    const pid_t busy = HoldDescriptors(20000);
    if (busy > 0)
        PrintRange("holder lookup beside it", TimeHolders(device, 5));

    // A pick of such a device: the lookup runs aside, the window goes on.
    TWindowOptions pickOptions;
    pickOptions.PortNames = [&device] { return QStringList{QString::fromStdString(device)}; };
    TfmMain p(pickOptions);
    p.show();
    QTest::qWait(500);
    auto* pickList = p.findChild<QComboBox*>(QStringLiteral("cbPort"));
    for (int i = 0; i < 5; ++i) {
        longest = 0;
        beat.start();
        heart.start(0);
        QElapsedTimer t;
        t.start();
        emit pickList->activated(0);
        const double took = static_cast<double>(t.nsecsElapsed()) / 1e6;
        heart.stop();
        std::printf("pick of %s in %.1f ms; longest stretch without handling messages %.1f ms\n", device.c_str(), took,
                    longest);
    }
    p.close();
    if (busy > 0) {
        ::kill(busy, SIGKILL);
        ::waitpid(busy, nullptr, 0);
    }
    return 0;
}

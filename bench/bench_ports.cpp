// What each port name reaches on this machine and how long finding that
// takes: one resolution on its own, and the port list opening in the window
// with the longest time the window's thread went without handling messages.
// Prints numbers; judges nothing.
#include "Application.h"
#include "Main.h"
#include "PortFinder.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace vostrel;

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
    std::sort(resolve.begin(), resolve.end());
    std::printf("one resolution: min %.1f  median %.1f  max %.1f ms (n=%zu)\n", resolve.front(),
                resolve[resolve.size() / 2], resolve.back(), resolve.size());

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
    return 0;
}

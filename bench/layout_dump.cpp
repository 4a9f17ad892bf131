// Prints the window's controls as laid out on this platform, one line each:
//   objectName x y width height visible
// with x and y in the window's own coordinates, sorted. The window opens no
// port. Run on two platforms, the outputs are compared line for line (the
// Windows build is checked so under Wine against the Linux one).
//   vostrel-layout [settle-ms]   (default 300)
#include "Application.h"
#include "Main.h"

#include <QElapsedTimer>
#include <QWidget>
#include <QWindow>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace vostrel;

int main(int argc, char* argv[])
{
    const int settleMs = argc > 1 ? std::atoi(argv[1]) : 300;
    const auto app = MakeApplication(argc, argv);
    TWindowOptions options;
    options.PortNames = [] { return QStringList{}; };
    TfmMain window(options);
    window.show();

    // Shown, then whatever the start-up moves has moved.
    QElapsedTimer clock;
    clock.start();
    while (!window.windowHandle() || !window.windowHandle()->isExposed()) {
        if (clock.elapsed() > 30000) {
            std::fprintf(stderr, "vostrel-layout: the window was not shown within 30 s\n");
            return 1;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    clock.restart();
    while (clock.elapsed() < settleMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);

    std::vector<std::string> lines;
    lines.push_back(QStringLiteral("window 0 0 %1 %2 1").arg(window.width()).arg(window.height()).toStdString());
    for (const QWidget* c : window.findChildren<QWidget*>()) {
        if (c->objectName().isEmpty() || c->objectName().startsWith(QLatin1String("qt_")))
            continue;
        const QPoint at = c->mapTo(&window, QPoint(0, 0));
        lines.push_back(QStringLiteral("%1 %2 %3 %4 %5 %6")
                            .arg(c->objectName())
                            .arg(at.x())
                            .arg(at.y())
                            .arg(c->width())
                            .arg(c->height())
                            .arg(c->isVisible() ? 1 : 0)
                            .toStdString());
    }
    std::sort(lines.begin(), lines.end());
    for (const std::string& line : lines)
        std::printf("%s\n", line.c_str());
    return 0;
}

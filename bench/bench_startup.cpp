// Start-up figures of the window beside a minimal Qt Widgets window built
// the same way: time from process start to the first paint, and resident
// memory once idle. Prints numbers, asserts nothing.
//   vostrel-bench-startup [runs]
#include "Application.h"
#include "Main.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

using namespace vostrel;

namespace {

long ResidentKb()
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    }
    return -1;
}

// Reports the first paint of a top-level window on stdout.
class TFirstPaint : public QObject {
public:
    bool eventFilter(QObject* o, QEvent* e) override
    {
        if (e->type() == QEvent::Paint && !m_done && o->isWidgetType() && static_cast<QWidget*>(o)->isWindow()) {
            m_done = true;
            std::printf("painted\n");
            std::fflush(stdout);
            QTimer::singleShot(1000, [] {
                std::printf("rss %ld\n", ResidentKb());
                std::fflush(stdout);
                // Closing ends a wait for the station that may be running.
                QApplication::closeAllWindows();
                QCoreApplication::exit(0);
            });
        }
        return false;
    }

private:
    bool m_done = false;
};

int Child(int argc, char* argv[], bool full)
{
    const auto app = MakeApplication(argc, argv);
    TFirstPaint probe;
    app->installEventFilter(&probe);
    std::unique_ptr<QWidget> w;
    if (full) {
        w = std::make_unique<TfmMain>();
    } else {
        w = std::make_unique<QWidget>();
        w->setFixedSize(736, 456);
        new QLabel(QStringLiteral("Vostrel"), w.get());
    }
    w->show();
    // A message box about the port must not keep the idle window from ending.
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [] {
        if (QWidget* m = QApplication::activeModalWidget())
            m->close();
    });
    closer.start(50);
    return QApplication::exec();
}

struct TRun {
    double ms;
    long kb;
};

bool RunOnce(const QString& self, const QString& mode, TRun& out)
{
    QProcess p;
    QElapsedTimer clock;
    clock.start();
    p.start(self, {mode});
    if (!p.waitForStarted(10000))
        return false;
    QByteArray seen;
    out = {-1, -1};
    while (p.state() != QProcess::NotRunning || p.bytesAvailable() > 0) {
        p.waitForReadyRead(100);
        seen += p.readAllStandardOutput();
        if (out.ms < 0 && seen.contains("painted\n"))
            out.ms = static_cast<double>(clock.nsecsElapsed()) / 1e6;
        const qsizetype at = seen.indexOf("rss ");
        if (at >= 0 && seen.indexOf('\n', at) > at) {
            out.kb = seen.mid(at + 4, seen.indexOf('\n', at) - at - 4).toLong();
            break;
        }
        if (clock.elapsed() > 30000)
            break;
    }
    p.waitForFinished(5000);
    return out.ms >= 0 && out.kb >= 0;
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

}  // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (argc > 1 && (qstrcmp(argv[1], "window") == 0 || qstrcmp(argv[1], "minimal") == 0))
        return Child(argc, argv, qstrcmp(argv[1], "window") == 0);

    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 7;
    QCoreApplication app(argc, argv);
    const QString self = QCoreApplication::applicationFilePath();
    std::printf("platform %s, %d runs each, medians\n", qgetenv("QT_QPA_PLATFORM").constData(), runs);
    double figures[2][2] = {};
    const char* modes[] = {"minimal", "window"};
    // The two kinds alternate, so that a busy moment of the machine falls on
    // both alike.
    std::vector<double> ms[2], kb[2];
    for (int i = 0; i < runs; ++i) {
        for (int m = 0; m < 2; ++m) {
            TRun r{};
            if (RunOnce(self, QString::fromLatin1(modes[m]), r)) {
                ms[m].push_back(r.ms);
                kb[m].push_back(static_cast<double>(r.kb));
            }
        }
    }
    for (int m = 0; m < 2; ++m) {
        figures[m][0] = Median(ms[m]);
        figures[m][1] = Median(kb[m]);
        std::printf("%-8s first paint %7.1f ms   idle RSS %7.0f kB   (%zu good runs)\n", modes[m], figures[m][0],
                    figures[m][1], ms[m].size());
    }
    if (figures[0][0] > 0 && figures[0][1] > 0)
        std::printf("ratio    first paint %7.2f      idle RSS %7.2f\n", figures[1][0] / figures[0][0],
                    figures[1][1] / figures[0][1]);
    return 0;
}

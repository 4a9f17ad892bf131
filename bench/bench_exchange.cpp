// Exchange figures of the real window driven offscreen against a simulated
// station on a pty. Prints numbers, asserts nothing.
//   vostrel-bench-exchange [exchanges=10] [thank-you ms=500]
#include "Application.h"
#include "Main.h"

#include "Packets.h"
#include "StationSimulator.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

using namespace vostrel;

namespace {

using namespace std::chrono_literals;

double Ms(SimClock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

// A "Vm...:" line of /proc/self/status in kB, -1 when missing.
long StatusKb(const char* key)
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith(key))
            return line.mid(qstrlen(key)).trimmed().split(' ').first().toLong();
    return -1;
}

// Lets the peak resident size start again from the current one.
bool ResetPeakRss()
{
    QFile f(QStringLiteral("/proc/self/clear_refs"));
    return f.open(QIODevice::WriteOnly) && f.write("5") == 1;
}

double CpuMs(int who)
{
    rusage ru{};
    getrusage(who, &ru);
    auto ms = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_usec) / 1e3;
    };
    return ms(ru.ru_utime) + ms(ru.ru_stime);
}

// Handles events until pred holds; false after timeoutMs. Whatever handler a
// timer starts (a whole wait, for one) runs to its end inside this loop.
bool Until(const std::function<bool()>& pred, int timeoutMs)
{
    QElapsedTimer t;
    t.start();
    while (!pred()) {
        if (t.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

void PrintStats(const char* what, std::vector<double> v)
{
    if (v.empty()) {
        std::printf("%-46s no samples\n", what);
        return;
    }
    std::sort(v.begin(), v.end());
    std::printf("%-46s median %7.2f  min %7.2f  max %7.2f ms  (n=%zu)\n", what, v[v.size() / 2], v.front(), v.back(),
                v.size());
}

}  // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const auto app = MakeApplication(argc, argv);
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    const auto thankYouMs = static_cast<std::uint32_t>(argc > 2 ? std::max(0, std::atoi(argv[2])) : 500);

    StationSimulator station;
    station.SetGreetOnWait(true);
    TWindowOptions options;
    const QString port = QString::fromStdString(station.SlavePath());
    options.PortNames = [port] { return QStringList{port}; };
    options.ThankYouMs = thankYouMs;
    // Its copies are kept for the run only.
    const QTemporaryDir copies;
    options.CopiesDir = copies.filePath(QStringLiteral("copies"));
    TfmMain w(options);

    // A message box would stop everything; close it and say what it said.
    QTimer boxes;
    QObject::connect(&boxes, &QTimer::timeout, [] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            std::printf("message box: %s\n", box->text().toLocal8Bit().constData());
            box->done(QMessageBox::Ok);
        }
    });
    boxes.start(50);

    std::printf("platform %s, %d exchanges, thank-you page %u ms (the program uses 5000)\n",
                qgetenv("QT_QPA_PLATFORM").constData(), rounds, thankYouMs);
    w.show();
    if (!Until([&] { return w.ComPort.IsOpen(); }, 10000)) {
        std::printf("the window did not open %s\n", station.SlavePath().c_str());
        return 1;
    }
    const long rssIdle = StatusKb("VmRSS:");
    const bool peakReset = ResetPeakRss();

    std::vector<double> confirmDelay, clickToEnd, packetSpan;
    std::size_t lineBytes = 0, packetBytes = 0;
    long hwmFirst = -1;
    for (int i = 0; i < rounds; ++i) {
        const std::size_t traceFrom = station.Trace().size();
        if (!Until([] { return ConnectedFlag; }, 15000)) {
            std::printf("exchange %d: no parameters shown\n", i + 1);
            break;
        }
        // Greeting's ETX (the station's last byte) to the first byte of packet 08.
        const auto trace = station.Trace();
        for (std::size_t k = std::max<std::size_t>(traceFrom, 1); k < trace.size(); ++k) {
            if (trace[k].FromStation)
                continue;
            if (trace[k - 1].FromStation && trace[k - 1].Byte == kEtx && trace[k].Byte == kDle)
                confirmDelay.push_back(Ms(trace[k].Time - trace[k - 1].Time));
            break;
        }

        // Silent station for the wait after the last programming.
        if (i + 1 == rounds)
            station.SetGreetOnWait(false);
        const std::size_t sentBefore = station.Received().size();
        const std::size_t programmedBefore = station.ProgrammedBlocks().size();
        const auto clicked = SimClock::now();
        w.findChild<QPushButton*>(QStringLiteral("butProgr"))->click();  // returns after the thank-you page
        if (!station.WaitFor([&] { return station.ProgrammedBlocks().size() > programmedBefore; }, 5000ms)) {
            std::printf("exchange %d: no packet 09 seen\n", i + 1);
            break;
        }
        const ReceivedPacket p = station.ProgrammedBlocks().back();
        const auto sent = station.Received();
        lineBytes = p.Line.size();
        packetBytes = p.Data.size() + 6;  // DLE, number, data, CRC, DLE, ETX
        clickToEnd.push_back(Ms(p.End - clicked));
        if (sent.size() >= sentBefore + lineBytes)
            packetSpan.push_back(Ms(sent[sentBefore + lineBytes - 1].Time - sent[sentBefore].Time));
        if (i == 0)
            hwmFirst = StatusKb("VmHWM:");
    }

    // The window now waits for a station that says nothing. That wait runs
    // nested in event handling and never returns by itself, so the probes are
    // timers armed before it begins.
    double cpuProcess = -1, cpuThread = -1, wall = -1;
    bool waiting = false;
    QTimer::singleShot(1500, Qt::PreciseTimer, &w, [&] {
        const QStringList log = w.findChild<TExchangeLog*>(QStringLiteral("Memo1"))->Lines();
        waiting = !ConnectedFlag && !log.isEmpty() && log.last().startsWith(QStringLiteral("Начинаем ждать"));
        const double p0 = CpuMs(RUSAGE_SELF), t0 = CpuMs(RUSAGE_THREAD);
        QElapsedTimer clock;
        clock.start();
        QTimer::singleShot(10000, Qt::PreciseTimer, &w, [&, p0, t0, clock] {
            cpuProcess = CpuMs(RUSAGE_SELF) - p0;
            cpuThread = CpuMs(RUSAGE_THREAD) - t0;
            wall = static_cast<double>(clock.nsecsElapsed()) / 1e6;
            StopWaitingFlag = true;  // ends the nested wait
        });
    });
    Until([&] { return wall > 0; }, 20000);
    const long hwmAll = StatusKb("VmHWM:");
    w.close();

    std::printf("\n");
    PrintStats("greeting ETX -> first byte of packet 08", confirmDelay);
    PrintStats("click on butProgr -> last byte of packet 09", clickToEnd);
    PrintStats("packet 09 first -> last byte, at the station", packetSpan);
    const double lineMs = 60.0 + static_cast<double>(lineBytes) * 10.0 * 1000.0 / 4800.0;
    std::printf("line minimum at 4800 bit/s: 60 ms pauses + %zu bytes x 10 bits = %.1f ms "
                "(%zu bytes before DLE doubling: %.1f ms)\n",
                lineBytes, lineMs, packetBytes, 60.0 + static_cast<double>(packetBytes) * 10.0 * 1000.0 / 4800.0);
    std::printf("  (the pty does not pace at 4800 bit/s: the packet itself took the time above, not %.1f ms)\n",
                lineMs - 60.0);
    if (wall > 0)
        std::printf("CPU while waiting for a silent station (%s, %.0f ms): process %.1f%%, window thread %.1f%% "
                    "of one core\n",
                    waiting ? "wait running" : "wait NOT confirmed", wall, 100.0 * cpuProcess / wall,
                    100.0 * cpuThread / wall);
    else
        std::printf("CPU while waiting: not measured\n");
    std::printf("resident memory: %ld kB idle after start-up; peak (VmHWM) %ld kB over the first exchange%s, "
                "%ld kB over all exchanges and the wait\n",
                rssIdle, hwmFirst, peakReset ? "" : " (peak reset refused: peak since start)", hwmAll);
    return 0;
}

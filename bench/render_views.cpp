// Renders the window's three views to PNG files offscreen, driving the real
// window against a simulated station that stands in for its COM1:
//   vostrel-render [directory] [scale]   (defaults: the current directory, 1)
// instruction.png (waiting for the station), parameters.png (a station's
// parameters shown) and thankyou.png (after programming).
#include "Application.h"
#include "Main.h"
#include "StationSimulator.h"

#include <QDir>
#include <QPixmap>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

using namespace vostrel;

namespace {

bool Save(QWidget& w, const QDir& dir, const QString& file)
{
    const QString path = dir.filePath(file);
    const bool ok = w.grab().save(path, "PNG");
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", qPrintable(path));
    return ok;
}

// A realistic set: ZPCH1 simplex at 10 W, ZPCH2 duplex at 25 W.
TByteArray PictureBlock()
{
    TParameterSet set{
        .StepCode = 0,
        .RxFreq = {146025.0L, 151500.0L},
        .TxFreq = {146025.0L, 156750.0L},
        .Simplex = {true, false},
        .PowerCode = {2, 1},
        .BaudCode = 1,
        .FlowCode = 1,
        .XoffAfter = 200,
        .RxPause = 25.0L,
        .AirSpeedCode = 0,
        .KodCode = 1,
        .KodPaketSize = 64,
    };
    TNullLog log;
    return EncodeBlock(set, log);
}

}  // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (argc > 2)
        qputenv("QT_SCALE_FACTOR", argv[2]);
    const auto app = MakeApplication(argc, argv);
    const QDir dir(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::currentPath());
    if (!dir.exists() && !QDir().mkpath(dir.path()))
        return 2;

    // The station greets a while after the window begins to wait, so the
    // waiting view can be pictured from inside that wait.
    StationConfig config;
    config.Block = PictureBlock();
    config.GreetOnWait = true;
    config.GreetDelay = std::chrono::milliseconds(1500);
    StationSimulator station(config);

    // The thank-you pause is the one sleep of this length: the page is
    // pictured instead of waited out.
    constexpr std::uint32_t kThankYouMs = 4321;
    TfmMain* window = nullptr;
    bool ok = true;
    TWindowOptions options;
    options.ThankYouMs = kThankYouMs;
    // Its copies are kept for the run only.
    const QTemporaryDir copies;
    options.CopiesDir = copies.filePath(QStringLiteral("copies"));
    options.DevicePath = [&station](const QString& entry) {
        return entry == QStringLiteral("COM1") ? station.SlavePath()
                                               : std::string("/nonexistent/") + entry.toStdString();
    };
    options.Sleep = [&](std::uint32_t ms) {
        if (ms == kThankYouMs)
            ok &= Save(*window, dir, QStringLiteral("thankyou.png"));
        else
            SleepMs(ms);
    };

    TfmMain w(options);
    window = &w;
    QTimer::singleShot(1000, &w, [&] { ok &= Save(w, dir, QStringLiteral("instruction.png")); });
    w.show();
    if (!QTest::qWaitFor([] { return ConnectedFlag; }, 10000)) {
        std::printf("FAILED: the simulated station's parameters were not shown\n");
        return 1;
    }
    QTest::qWait(100);
    ok &= Save(w, dir, QStringLiteral("parameters.png"));

    auto* program = w.findChild<QPushButton*>(QStringLiteral("butProgr"));
    if (program == nullptr)
        return 1;
    program->click();
    w.close();
    return ok ? 0 : 1;
}

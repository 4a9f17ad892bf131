// Renders what the operator sees to PNG files offscreen, driving the real
// window against a simulated station that stands in for its COM1:
//   vostrel-render [directory] [scale]   (defaults: the current directory, 1)
// in this order start.png (the start page with the port list open),
// port-failed.png (the box of a port that did not open, COM3 here, over the
// window), instruction.png (waiting for the station), damaged.png (the
// damaged-answer box over the window), parameters.png (a station's
// parameters shown) and thankyou.png (after programming). The reason in the
// port's box is the C library's text: Russian only where a ru_RU.UTF-8
// locale exists (LOCPATH may name a folder with one made by localedef).
#include "Application.h"
#include "Main.h"
#include "RenderShots.h"
#include "StationSimulator.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMessageBox>
#include <QPushButton>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

using namespace vostrel;

namespace {

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

// One screen large enough for the window and its open port list at any
// scale, so the list drops below its box as on a desktop instead of being
// pushed aside by a small screen's edge. Empty when the file cannot be made.
QString ScreenConfig(const QTemporaryDir& dir, double scale)
{
    const QString path = dir.filePath(QStringLiteral("screen.json"));
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return {};
    const int w = static_cast<int>(1600 * scale), h = static_cast<int>(1200 * scale);
    f.write(QStringLiteral("{\"screens\": [{\"name\": \"render\", \"x\": 0, \"y\": 0, \"width\": %1, \"height\": %2, "
                           "\"logicalDpi\": 96, \"logicalBaseDpi\": 96, \"dpr\": 1}]}")
                .arg(w)
                .arg(h)
                .toUtf8());
    return path;
}

QString PageShown(const QWidget& w)
{
    const auto* screens = w.findChild<QStackedWidget*>(QStringLiteral("Screens"));
    return screens != nullptr && screens->currentWidget() != nullptr ? screens->currentWidget()->objectName()
                                                                     : QString();
}

// The modal box on top whose object name is given, if any.
QMessageBox* ModalBox(const char* name)
{
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    return box != nullptr && box->objectName() == QLatin1String(name) ? box : nullptr;
}

}  // namespace

int main(int argc, char* argv[])
{
    const QTemporaryDir scratch;
    const double scale = argc > 2 ? std::atof(argv[2]) : 1.0;
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if (platform.isEmpty() || platform == "offscreen") {
        const QString screen = ScreenConfig(scratch, scale > 0 ? scale : 1.0);
        qputenv("QT_QPA_PLATFORM", screen.isEmpty() ? QByteArray("offscreen")
                                                    : QByteArray("offscreen:configfile=") + screen.toLocal8Bit());
    }
    if (argc > 2)
        qputenv("QT_SCALE_FACTOR", argv[2]);
    const auto app = MakeApplication(argc, argv);
    const QDir dir(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::currentPath());
    if (!dir.exists() && !QDir().mkpath(dir.path()))
        return 2;

    // Once COM1 is picked back after the failed COM3, the station greets a
    // while after the window begins to wait, so the waiting view can be
    // pictured from inside that wait; its first answer arrives damaged, the
    // next one whole.
    StationConfig config;
    config.Block = PictureBlock();
    config.GreetDelay = std::chrono::milliseconds(1500);
    StationSimulator station(config);
    station.SetFault(StationFault::Corrupt, 1);

    TWindowOptions options;
    options.ThankYouMs = 2500;
    // Its copies and locks are kept for the run only.
    options.CopiesDir = scratch.filePath(QStringLiteral("copies"));
    options.LockDir = scratch.path().toStdString();
    // COM1 is the station; every other entry reaches nothing, as a port
    // without its adapter.
    options.DevicePath = [&station](const QString& entry) {
        return entry == QStringLiteral("COM1") ? station.SlavePath()
                                               : std::string("/nonexistent/") + entry.toStdString();
    };
    TfmMain w(options);
    auto* list = w.findChild<QComboBox*>(QStringLiteral("cbPort"));
    auto* program = w.findChild<QPushButton*>(QStringLiteral("butProgr"));
    if (list == nullptr || program == nullptr)
        return 1;

    const auto save = [&dir](const QPixmap& picture, const char* file) {
        return SavePicture(picture, dir, QString::fromLatin1(file));
    };
    // Picks an entry as the operator does, with the keyboard; posted, since
    // the pick waits inside.
    const auto pick = [list](const QString& entry) {
        const int index = list->findText(entry);
        list->setCurrentIndex(index == 0 ? 1 : index - 1);
        QTimer::singleShot(0, list, [list, index] { QTest::keyClick(list, index == 0 ? Qt::Key_Up : Qt::Key_Down); });
    };
    int purgesBefore = 0;
    QElapsedTimer waiting, connected;
    std::vector<TShotStep> steps{
        {QStringLiteral("start.png"), [&] { return list->count() == 6 && w.ComPort.IsOpen(); },
         [&] {
             list->showPopup();
             QWidget* popup = list->view()->window();
             const bool ok = popup != &w && popup->isVisible() && save(WindowWith(w, *popup, false), "start.png");
             list->hidePopup();
             return ok;
         }},
        {QStringLiteral("the pick of COM3"), [&] { return !list->view()->isVisible(); },
         [&] {
             pick(QStringLiteral("COM3"));
             return true;
         }},
        {QStringLiteral("port-failed.png"), [] { return ModalBox("PortFailureBox") != nullptr; },
         [&] {
             QMessageBox* box = ModalBox("PortFailureBox");
             const bool ok = save(WindowWith(w, *box, true), "port-failed.png");
             box->done(QMessageBox::Ok);
             return ok;
         }},
        {QStringLiteral("the pick of COM1"),
         [&] { return QApplication::activeModalWidget() == nullptr && !w.ComPort.IsOpen(); },
         [&] {
             // From now on the station greets each wait.
             purgesBefore = station.PurgeCount();
             station.SetGreetOnWait(true);
             pick(QStringLiteral("COM1"));
             return true;
         }},
        {QStringLiteral("instruction.png"),
         [&] {
             // A moment into the wait; the greeting is still far off.
             if (station.PurgeCount() <= purgesBefore)
                 return false;
             if (!waiting.isValid())
                 waiting.start();
             return waiting.elapsed() >= 300;
         },
         [&] { return save(w.grab(), "instruction.png"); }},
        {QStringLiteral("damaged.png"),
         [&] {
             const auto* box = w.findChild<QMessageBox*>(QStringLiteral("DamagedAnswerBox"));
             return box != nullptr && box->isVisible();
         },
         [&] {
             auto* box = w.findChild<QMessageBox*>(QStringLiteral("DamagedAnswerBox"));
             const bool ok = save(WindowWith(w, *box, true), "damaged.png");
             box->done(QMessageBox::Ok);
             return ok;
         }},
        {QStringLiteral("parameters.png"),
         [&] {
             // Shown a moment, so everything the set changes is painted.
             if (!ConnectedFlag)
                 return false;
             if (!connected.isValid())
                 connected.start();
             return connected.elapsed() >= 100;
         },
         [&] {
             const bool ok = save(w.grab(), "parameters.png");
             QTimer::singleShot(0, program, &QPushButton::click);
             return ok;
         }},
        {QStringLiteral("thankyou.png"), [&] { return PageShown(w) == QStringLiteral("Reklama"); },
         [&] { return save(w.grab(), "thankyou.png"); }},
    };
    TShotSteps shots(std::move(steps));

    w.move(0, 0);
    w.show();
    const bool done = QTest::qWaitFor([&] { return shots.Done(); }, 30000);
    if (!done)
        std::printf("FAILED: still waiting for %s\n", qPrintable(shots.Waiting()));
    w.close();
    return done && shots.Ok() ? 0 : 1;
}

// Renders the window's three views to PNG files offscreen:
//   vostrel-render [directory]   (default: the current directory)
// instruction.png, parameters.png (active look with a realistic set) and
// thankyou.png. The window's start-up and port are not touched.
#include "Main.h"

#include <QApplication>
#include <QDir>
#include <QLocale>
#include <QPixmap>

#include <cstdio>

using namespace vostrel;

namespace {

bool Save(TfmMain& w, const QDir& dir, const QString& file)
{
    QCoreApplication::processEvents();
    const QString path = dir.filePath(file);
    const bool ok = w.grab().save(path, "PNG");
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", qPrintable(path));
    return ok;
}

}  // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_ENABLE_HIGHDPI_SCALING", "0");
    QApplication app(argc, argv);
    QApplication::setStyle(QStringLiteral("Fusion"));
    // Rendered as the operator sees it: Russian number formats.
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
    const QDir dir(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::currentPath());
    if (!dir.exists() && !QDir().mkpath(dir.path()))
        return 2;

    TfmMain w;
    w.ensurePolished();
    bool ok = true;

    // Start-up without the port: the cover with the instruction page.
    w.panZastavka->setVisible(true);
    w.Screens->setCurrentWidget(w.pageDefault);
    w.panZastavka->move(16, w.panZastavka->y());
    w.ClearControls();
    w.butWaiting->move(w.butWaiting->x(), w.butProgr->y());
    w.cbPort->clear();
    for (int i = 1; i <= 6; ++i)
        w.cbPort->addItem(QStringLiteral("COM%1").arg(i));
    ok &= Save(w, dir, QStringLiteral("instruction.png"));

    // A station's parameters shown: port list and status button gone.
    w.cbPort->hide();
    w.butWaiting->hide();
    w.ActiveControls();
    TParameterSet set;
    set.StepCode = 0;
    set.RxFreq = {146025.0L, 151500.0L};
    set.TxFreq = {146025.0L, 156750.0L};
    set.Simplex = {true, false};
    set.PowerCode = {2, 1};
    set.BaudCode = 1;
    set.FlowCode = 1;
    set.XoffAfter = 200;
    set.RxPause = 25.0L;
    set.AirSpeedCode = 0;
    set.KodCode = 1;
    set.KodPaketSize = 64;
    w.ShowParameters(set);
    w.panZastavka->hide();
    ok &= Save(w, dir, QStringLiteral("parameters.png"));

    // After programming: the thank-you page.
    w.butProgr->setEnabled(false);
    w.butProgr->setText(QStringLiteral("Ok"));
    w.panZastavka->show();
    w.Screens->setCurrentWidget(w.pageReklama);
    ok &= Save(w, dir, QStringLiteral("thankyou.png"));
    return ok ? 0 : 1;
}

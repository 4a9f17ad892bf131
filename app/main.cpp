// Program entry: the one window and the toolkit's message loop.
#include "Main.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    // Positions and sizes are pixels; the window is never scaled.
    qputenv("QT_ENABLE_HIGHDPI_SCALING", "0");
    QApplication app(argc, argv);
    QApplication::setStyle(QStringLiteral("Fusion"));
    TfmMain fmMain;
    fmMain.show();
    return QApplication::exec();
}

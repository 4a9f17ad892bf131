#include "Application.h"

namespace vostrel {

std::unique_ptr<QApplication> MakeApplication(int& argc, char** argv)
{
    // Positions and sizes are pixels; the window is never scaled.
    qputenv("QT_ENABLE_HIGHDPI_SCALING", "0");
    auto app = std::make_unique<QApplication>(argc, argv);
    QApplication::setStyle(QStringLiteral("Fusion"));
    QGuiApplication::setDesktopFileName(QStringLiteral("org.example.Vostrel"));
    return app;
}

}  // namespace vostrel

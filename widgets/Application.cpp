#include "Application.h"

#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace vostrel {

std::unique_ptr<QApplication> MakeApplication(int& argc, char** argv)
{
    // Sizes are logical pixels: on a scaled desktop the window keeps its
    // physical size, as every other window there does.
    auto app = std::make_unique<QApplication>(argc, argv);
    QApplication::setStyle(QStringLiteral("Fusion"));
    QGuiApplication::setDesktopFileName(QStringLiteral("org.example.Vostrel"));

    // The window is Russian whatever the system's language, and so are the
    // toolkit's own texts in it (context menus, message-box buttons), where
    // the toolkit's translations are installed.
    auto* qtTexts = new QTranslator(app.get());
    if (qtTexts->load(QLocale(QLocale::Russian, QLocale::Russia), QStringLiteral("qtbase"), QStringLiteral("_"),
                      QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(qtTexts);
    return app;
}

}  // namespace vostrel

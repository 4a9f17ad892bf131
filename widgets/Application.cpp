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
    // A program installed with its own copy (on Windows) keeps them beside it.
    auto* qtTexts = new QTranslator(app.get());
    const QLocale russian(QLocale::Russian, QLocale::Russia);
    for (const QString& dir : {QLibraryInfo::path(QLibraryInfo::TranslationsPath),
                               QCoreApplication::applicationDirPath() + QStringLiteral("/translations")}) {
        if (qtTexts->load(russian, QStringLiteral("qtbase"), QStringLiteral("_"), dir)) {
            QCoreApplication::installTranslator(qtTexts);
            break;
        }
    }
    return app;
}

}  // namespace vostrel

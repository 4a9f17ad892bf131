// The smallest window that shows the cached Windows Qt works: Fusion, a
// Russian label, a button whose text comes from Qt's Russian translation.
// Prints one line that tools/windows-qt-smoke checks:
//   style=<name> translation=<loaded|missing> button=<text>
#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QStyleFactory>
#include <QTranslator>
#include <QVBoxLayout>
#include <QWidget>

#include <cstdio>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));

    // Beside the program, where the installer puts it too.
    QTranslator qtbase;
    const bool loaded =
        qtbase.load(QStringLiteral("qtbase_ru"), QApplication::applicationDirPath() + QStringLiteral("/translations"));
    if (loaded) {
        QApplication::installTranslator(&qtbase);
    }

    QWidget window;
    window.setWindowTitle(QStringLiteral("Vostrel"));
    auto* layout = new QVBoxLayout(&window);
    layout->addWidget(new QLabel(QStringLiteral("Программирование")));
    // A string of Qt's own, so the button shows whether the translation works.
    auto* button = new QPushButton(QApplication::translate("QPlatformTheme", "Cancel"));
    layout->addWidget(button);
    window.show();

    std::printf("style=%s translation=%s button=%s\n", qPrintable(QApplication::style()->name()),
                loaded ? "loaded" : "missing", button->text().toUtf8().constData());
    std::fflush(stdout);
    return QApplication::exec();
}

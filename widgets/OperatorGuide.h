// The operator's guide, a web page installed beside the programs, and the
// F1 action that opens it in the system's browser.
#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>

class QAction;
class QWidget;

namespace vostrel {

// How the programs are installed: Windows keeps the guide in a folder beside
// the .exe; elsewhere it is the package's documentation next to bin/.
enum class TGuideLayout { Windows, Posix };
#ifdef _WIN32
inline constexpr TGuideLayout kGuideLayout = TGuideLayout::Windows;
#else
inline constexpr TGuideLayout kGuideLayout = TGuideLayout::Posix;
#endif

// Where the guide's page may be, in the order looked: on Windows
// exeDir/guide/guide-ru.html; elsewhere exeDir/../share/doc/vostrel/guide/
// guide-ru.html, then buildTreeGuide unless empty.
QStringList OperatorGuidePlaces(const QString& exeDir, const QString& buildTreeGuide,
                                TGuideLayout layout = kGuideLayout);
// The running program's places: its own folder, and its build tree when it
// runs from there.
QStringList OperatorGuidePlaces();

// The first of places that is a file; "" when none is.
QString FindOperatorGuide(const QStringList& places);

// Adds to window the action «Руководство оператора» on F1, live wherever the
// focus is inside the window. It opens the first guide found among places()
// with openUrl; when none is found or openUrl fails, a message box says
// where the guide was looked for. The action belongs to window.
QAction* AddOperatorGuideAction(QWidget* window, std::function<QStringList()> places,
                                std::function<bool(const QUrl&)> openUrl);

}  // namespace vostrel

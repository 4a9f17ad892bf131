// Helpers shared by the window tests.
#pragma once

#include "Main.h"
#include "NumEdit.h"
#include "Panels.h"
#include "Selector.h"
#include "WidgetTestSupport.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <cstdint>

namespace vostrel {

// The window's colours as decimal numbers, red in the low byte: white, the
// value colour (63, 63, 63) and the duplex colour.
constexpr std::uint32_t kWhite = 16777215;
constexpr std::uint32_t kValueColour = 4144959;
constexpr std::uint32_t kDuplexColour = 12218994;

inline QColor Bgr(std::uint32_t c)
{
    return QColor(static_cast<int>(c & 0xFF), static_cast<int>((c >> 8) & 0xFF), static_cast<int>((c >> 16) & 0xFF));
}

// A control of the window found by its object name; a missing one fails the
// test where it is asked for.
template <class T = QWidget>
T* Ctl(const QObject& w, const char* name)
{
    auto* c = w.findChild<T*>(QString::fromLatin1(name));
    if (c == nullptr)
        ADD_FAILURE() << "no control " << name;
    return c;
}

inline QComboBox* PortList(const QObject& w)
{
    return Ctl<QComboBox>(w, "cbPort");
}

inline QTimer* StartTimerOf(const QObject& w)
{
    return Ctl<QTimer>(w, "StartTimer");
}

inline QStringList LogLines(const QObject& w)
{
    auto* log = Ctl<TExchangeLog>(w, "Memo1");
    return log ? log->Lines() : QStringList();
}

// True once the window's start-up has filled the port list with count entries
// (the list is built with eight before that) and tried the first port.
inline bool WaitStarted(const TfmMain& w, int count, int ms = 10000)
{
    return QTest::qWaitFor([&w, count] { return PortList(w)->count() == count; }, ms);
}

// A lock folder of the tests' own, so no test marks the machine's ports.
inline std::string TestLockDir()
{
    static const QTemporaryDir dir;
    return dir.path().toStdString();
}

// A copies folder of the tests' own, so no test writes into the user's data.
inline QString TestCopiesDir()
{
    static const QTemporaryDir dir;
    return dir.filePath(QStringLiteral("copies"));
}

// Options for a window whose port list holds the given paths; it keeps its
// copies aside and never asks for a file nor opens a file manager.
inline TWindowOptions PortsOptions(const QStringList& ports, std::uint32_t thankYouMs = 5000)
{
    TWindowOptions o;
    o.LockDir = TestLockDir();
    o.CopiesDir = TestCopiesDir();
    o.ChooseParamFile = [](QWidget*, TFileChoice, const QString&) { return QString(); };
    o.OpenUrl = [](const QUrl&) { return false; };
    o.PortNames = [ports] { return ports; };
    o.ThankYouMs = thankYouMs;
    return o;
}

// A window whose start-up opens no port, for the editor tests.
inline TWindowOptions NoPortOptions()
{
    return PortsOptions({});
}

// Clicks an arrow of a selector, e.g. Arrow(w, "spbKod_left").
inline void ClickArrow(const QObject& w, const char* arrow)
{
    auto* b = Ctl<QToolButton>(w, arrow);
    if (b != nullptr)
        QTest::mouseClick(b, Qt::LeftButton);
}

}  // namespace vostrel

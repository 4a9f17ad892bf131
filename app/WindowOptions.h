// What the window takes from its surroundings: the clock it waits by, its
// timings, where its port names come from and where its files go. The
// defaults are the program's; tests and tools pass their own.
#pragma once

#include "CommInt.h"
#include "CommLink.h"
#include "Copies.h"
#include "OperatorGuide.h"
#include "PortFinder.h"
#include "StationExchange.h"

#include <QDesktopServices>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class QWidget;

namespace vostrel {

// The caption of the programming button, blanks included.
inline const QString kProgrCaption = QStringLiteral("    Программирование   ");

// "COM1" to "COM6", and on Windows the other ports present after them.
QStringList ComPortNames();

// A parameter file the operator is asked for.
enum class TFileChoice { Save, Load };

// The file dialog, in Russian, for parameter files (*.txt) starting in
// folder: the path chosen, or "" when the operator cancelled.
QString ChooseParamFileDialog(QWidget* parent, TFileChoice what, const QString& folder);

struct TWindowOptions {
    // Millisecond counter and sleep behind every wait of the exchange.
    std::function<std::uint32_t()> TickCount = vostrel::TickCount;
    std::function<void(std::uint32_t)> Sleep = SleepMs;
    // From a port's opening to the start of the wait.
    int StartTimerMs = static_cast<int>(kStartTimerMs);
    // How long the thank-you page blocks the window after programming.
    std::uint32_t ThankYouMs = kThankYouMs;
    // The entries of the port list, read when the window is shown.
    std::function<QStringList()> PortNames = ComPortNames;
    // The device an entry of the list opens; empty: the entry as it stands.
    std::function<std::string(const QString&)> DevicePath;
    // Opens the window's port, aside from the window's thread: an outgoing
    // Bluetooth port keeps the system's open call for seconds.
    std::function<void(TComm&)> OpenPort = [](TComm& port) { port.OpenPort(); };
    // Other programs holding a serial device open, by name; looked up aside
    // from the window's thread, and only for a device that is there.
    std::function<std::vector<std::string>(const std::string&)> PortHolders = vostrel::PortHolders;
    // Where programs mark the serial ports they use (UUCP lock files).
    std::string LockDir = "/run/lock";
    // Where the copy of every block read and sent is kept.
    QString CopiesDir = CopiesFolder();
    // Asks the operator for a parameter file to save to or to load.
    std::function<QString(QWidget*, TFileChoice, const QString&)> ChooseParamFile = ChooseParamFileDialog;
    // Shows a folder in the system's file manager, the guide in its browser.
    std::function<bool(const QUrl&)> OpenUrl = QDesktopServices::openUrl;
    // Where F1 looks for the operator's guide, first found opens.
    std::function<QStringList()> GuidePlaces = [] { return OperatorGuidePlaces(); };
};

}  // namespace vostrel

// What the window takes from its surroundings: the clock it waits by, its
// timings and where its port names come from. The defaults are the program's;
// tests and tools pass their own.
#pragma once

#include "CommLink.h"
#include "PortFinder.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace vostrel {

// The caption of the programming button, blanks included.
inline const QString kProgrCaption = QStringLiteral("    Программирование   ");

// "COM1" to "COM6", and on Windows the other ports present after them.
QStringList ComPortNames();

struct TWindowOptions {
    // Millisecond counter and sleep behind every wait of the exchange.
    std::function<std::uint32_t()> TickCount = vostrel::TickCount;
    std::function<void(std::uint32_t)> Sleep = SleepMs;
    // From a port's opening to the start of the wait.
    int StartTimerMs = 555;
    // How long the thank-you page blocks the window after programming.
    std::uint32_t ThankYouMs = 5000;
    // The entries of the port list, read when the window is shown.
    std::function<QStringList()> PortNames = ComPortNames;
    // The device an entry of the list opens; empty: the entry as it stands.
    std::function<std::string(const QString&)> DevicePath;
    // Other programs holding a serial device open, by name; looked up aside
    // from the window's thread, and only for a device that is there.
    std::function<std::vector<std::string>(const std::string&)> PortHolders = vostrel::PortHolders;
    // Where programs mark the serial ports they use (UUCP lock files).
    std::string LockDir = "/run/lock";
};

}  // namespace vostrel

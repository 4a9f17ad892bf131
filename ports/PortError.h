// What the system's own error code of a failed port open means to the
// operator: its text, and whether it says the port is someone else's. The
// window and the command-line programmer word a failure alike.
#pragma once

#include <QString>

namespace vostrel {

enum class TPortErrorKind { Other, NoRights, Busy };

// The system's text for code (errno on Linux, GetLastError on Windows); on
// Linux the C library's Russian text where a ru_RU.UTF-8 locale and the
// library's translations are installed, its English one otherwise.
QString SystemErrorText(int code);
TPortErrorKind PortErrorKind(int code);

// A port that failed in the middle of an exchange, as the window and the
// command-line programmer report it: the system's text for the code the
// serial component kept, its own message only where it kept no code. A port
// that did not open is told by TPortOpening (PortOpening.h).
QString PortFailureText(const QString& name, int code, const QString& message);

}  // namespace vostrel

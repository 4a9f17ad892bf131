// The end of a session (the desktop logging out, a terminal's Ctrl+C, a
// service manager's stop) closes the window like its close box, so that a
// connected station still gets its goodbye before the program ends. On
// Windows a close that has to wait (a packet going out, the thank-you page,
// the bench's ports saying goodbye) refuses the log-off or shutdown for now,
// with a reason Windows shows, and the window closes as soon as it may.
#pragma once

class QWidget;

namespace vostrel {

// Call once, after the application object exists and before its loop runs.
void CloseOnSessionEnd(QWidget& window);

}  // namespace vostrel

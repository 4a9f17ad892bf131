// The end of a session (the desktop logging out, a terminal's Ctrl+C, a
// service manager's stop) closes the window like its close box, so that a
// connected station still gets its goodbye before the program ends. On
// Windows (the main window's own, in app/) the window closes only once the
// log-off or shutdown is certain; asked while a close would have to wait (a
// packet going out, the thank-you page), it refuses, with a reason Windows
// shows.
#pragma once

class QWidget;

namespace vostrel {

// Call once, after the application object exists and before its loop runs.
void CloseOnSessionEnd(QWidget& window);

}  // namespace vostrel

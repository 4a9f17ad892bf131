// Windows asks every program before a logout or shutdown; the toolkit hands
// that on as a request to save, which here closes the window while the
// session still waits for us. Once the session has ended (WM_ENDSESSION)
// Windows may end the process at any moment, so the goodbye must be sent
// before the answer to that request.
#include "SessionEnd.h"

#include <QGuiApplication>
#include <QSessionManager>
#include <QWidget>

#include <windows.h>

namespace vostrel {

namespace {

// What Windows shows the operator for the program while it holds the end.
constexpr wchar_t kHoldReason[] = L"Vostrel завершает обмен со станцией";

}  // namespace

void CloseOnSessionEnd(QWidget& window)
{
    QObject::connect(qGuiApp, &QGuiApplication::commitDataRequest, &window, [&window](QSessionManager& manager) {
        const auto hwnd = reinterpret_cast<HWND>(window.winId());
        // Shown while the goodbye goes out, should it take longer than
        // Windows waits for an answer.
        ::ShutdownBlockReasonCreate(hwnd, kHoldReason);
        if (window.close()) {
            ::ShutdownBlockReasonDestroy(hwnd);
            return;
        }
        // The close waits for a packet going out or the thank-you page: the
        // session is refused for now, with the reason, and the window
        // closes when they are over; Windows then goes on by itself. An
        // end that cannot be refused (a critical one) ends the program
        // regardless.
        if (manager.allowsInteraction())
            manager.cancel();
    });
}

}  // namespace vostrel

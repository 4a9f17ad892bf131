// The bench window at a log-off or shutdown on Windows. The question before
// it (WM_QUERYENDSESSION) is only answered: another program may still refuse
// the end, and the shift goes on. Once the end is certain (WM_ENDSESSION with
// TRUE) Windows may end the process as soon as the message is answered, so
// the shift is stopped as «Стоп» stops it and the message is held until every
// port has ended: the record gets its rows and summary, a connected station
// its goodbye.
#include "SessionEnd.h"

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QWidget>

#include <windows.h>

namespace vostrel {

namespace {

// What Windows shows the operator for the program while it holds the end.
constexpr wchar_t kHoldReason[] = L"Стенд Vostrel завершает обмен со станциями";
// Longer than any exchange a stop still finishes; past it the end goes on.
constexpr int kHoldMs = 30000;

class TStandSessionEnd : public QAbstractNativeEventFilter {
public:
    explicit TStandSessionEnd(QWidget& window) : m_window(window) {}

    bool nativeEventFilter(const QByteArray& type, void* message, qintptr* result) override
    {
        if (type != "windows_generic_MSG")
            return false;
        const MSG& msg = *static_cast<const MSG*>(message);
        if (msg.message == WM_QUERYENDSESSION) {
            *result = TRUE;
            return true;
        }
        // Sent to each top-level window of the program: the first one acts.
        if (msg.message == WM_ENDSESSION && msg.wParam && !m_ended) {
            m_ended = true;
            const HWND handle = reinterpret_cast<HWND>(m_window.winId());
            ::ShutdownBlockReasonCreate(handle, kHoldReason);
            // The window stays while its ports end, then closes itself.
            m_window.close();
            const QDeadlineTimer deadline(kHoldMs);
            while (m_window.isVisible() && !deadline.hasExpired())
                QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
            ::ShutdownBlockReasonDestroy(handle);
        }
        return false;
    }

private:
    QWidget& m_window;
    bool m_ended = false;
};

}  // namespace

void CloseOnSessionEnd(QWidget& window)
{
    // Lives as long as the program.
    QCoreApplication::instance()->installNativeEventFilter(new TStandSessionEnd(window));
}

}  // namespace vostrel

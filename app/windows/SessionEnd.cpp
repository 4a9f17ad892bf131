// Windows asks every program before a log-off or shutdown
// (WM_QUERYENDSESSION), and another program may still refuse it: the window
// only answers then, refusing while a close would have to wait. Once the end
// is certain (WM_ENDSESSION with TRUE) Windows may end the process as soon as
// the message is answered, so the window closes, with its goodbye, before
// that.
#include "SessionEnd.h"
#include "Main.h"

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QTimer>
#include <QWidget>

#include <windows.h>

namespace vostrel {

namespace {

// What Windows shows the operator for the program while it holds the end.
constexpr wchar_t kHoldReason[] = L"Vostrel завершает обмен со станцией";

class TSessionEndFilter : public QAbstractNativeEventFilter {
public:
    explicit TSessionEndFilter(TfmMain& window) : m_window(window)
    {
        // A refusal's reason goes once the close need no longer wait.
        m_refusalOver.setInterval(100);
        QObject::connect(&m_refusalOver, &QTimer::timeout, &m_window, [this] {
            if (m_window.CloseMustWait())
                return;
            m_refusalOver.stop();
            ::ShutdownBlockReasonDestroy(Handle());
        });
    }

    bool nativeEventFilter(const QByteArray& type, void* message, qintptr* result) override
    {
        if (type != "windows_generic_MSG")
            return false;
        const MSG& msg = *static_cast<const MSG*>(message);
        if (msg.message == WM_QUERYENDSESSION) {
            // Answered here, so that nothing closes on a mere question. A
            // critical end cannot be refused.
            const bool refuse = m_window.CloseMustWait() && !(msg.lParam & ENDSESSION_CRITICAL);
            if (refuse) {
                ::ShutdownBlockReasonCreate(Handle(), kHoldReason);
                m_refusalOver.start();
            }
            *result = refuse ? FALSE : TRUE;
            return true;
        }
        // Sent to each top-level window of the program: the first one acts.
        if (msg.message == WM_ENDSESSION && msg.wParam && !m_ended) {
            m_ended = true;
            m_refusalOver.stop();
            // Shown should the goodbye take longer than Windows waits.
            ::ShutdownBlockReasonCreate(Handle(), kHoldReason);
            // A close that has to wait now (a critical end while a packet
            // goes out) cannot be held: the station gets no goodbye.
            m_window.close();
            ::ShutdownBlockReasonDestroy(Handle());
        }
        return false;
    }

private:
    HWND Handle() const { return reinterpret_cast<HWND>(m_window.winId()); }

    TfmMain& m_window;
    QTimer m_refusalOver;
    bool m_ended = false;
};

}  // namespace

void CloseOnSessionEnd(QWidget& window)
{
    auto* main = qobject_cast<TfmMain*>(&window);
    if (!main)
        return;
    // Lives as long as the program.
    QCoreApplication::instance()->installNativeEventFilter(new TSessionEndFilter(*main));
}

}  // namespace vostrel

// Windows asks every program before a logout or shutdown; the toolkit hands
// that on as a request to save, which here closes the window while the
// session still waits for us.
#include "SessionEnd.h"

#include <QGuiApplication>
#include <QSessionManager>
#include <QWidget>

namespace vostrel {

void CloseOnSessionEnd(QWidget& window)
{
    QObject::connect(qGuiApp, &QGuiApplication::commitDataRequest, &window,
                     [&window](QSessionManager&) { window.close(); });
}

}  // namespace vostrel

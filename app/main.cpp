// Program entry: the one window and the toolkit's message loop.
#include "Main.h"
#include "Application.h"
#include "Copies.h"
#include "SessionEnd.h"

#include <QApplication>

#ifdef _WIN32
#include <windows.h>
// After <windows.h>, which it needs.
#include <mmsystem.h>

namespace {

// Sleep lasts a whole timer tick (about 15.6 ms) unless this process itself
// asks for 1 ms: the pauses between a packet's bytes and the polls would
// stretch many times over. Given back at exit.
struct TFineTimer {
    TFineTimer() { ::timeBeginPeriod(1); }
    ~TFineTimer() { ::timeEndPeriod(1); }
    TFineTimer(const TFineTimer&) = delete;
    TFineTimer& operator=(const TFineTimer&) = delete;
};

}  // namespace
#endif

int main(int argc, char* argv[])
{
#ifdef _WIN32
    const TFineTimer fineTimer;
#endif
    const auto app = vostrel::MakeApplication(argc, argv);
    // Before the window asks for its copies folder.
    vostrel::SetApplicationNames();
    TfmMain fmMain;
    vostrel::CloseOnSessionEnd(fmMain);
    fmMain.show();
    return QApplication::exec();
}

// Program entry: the one window and the toolkit's message loop.
#include "Main.h"
#include "Application.h"
#include "Copies.h"
#include "FineTimer.h"
#include "SessionEnd.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    const vostrel::TFineTimer fineTimer;
    const auto app = vostrel::MakeApplication(argc, argv);
    // Before the window asks for its copies folder.
    vostrel::SetApplicationNames();
    TfmMain fmMain;
    vostrel::CloseOnSessionEnd(fmMain);
    fmMain.show();
    return QApplication::exec();
}

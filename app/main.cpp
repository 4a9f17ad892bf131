// Program entry: the one window and the toolkit's message loop.
#include "Application.h"
#include "Main.h"
#include "SessionEnd.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    const auto app = vostrel::MakeApplication(argc, argv);
    TfmMain fmMain;
    vostrel::CloseOnSessionEnd(fmMain);
    fmMain.show();
    return QApplication::exec();
}

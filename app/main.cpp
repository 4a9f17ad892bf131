// Program entry: the one window and the toolkit's message loop.
#include "Main.h"
#include "Application.h"
#include "Copies.h"
#include "FineTimer.h"
#include "SessionEnd.h"

#include <QApplication>

#include <cstdio>
#include <cstring>

namespace {

// --version anywhere; every other argument is left to the toolkit as before.
bool AsksVersion(int argc, char* argv[])
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0)
            return true;
    }
    return false;
}

}  // namespace

int main(int argc, char* argv[])
{
    // Before the toolkit starts: the answer needs no display and opens no window.
    if (AsksVersion(argc, argv)) {
        std::fputs("vostrel " VOSTREL_VERSION "\n", stdout);
        std::fflush(stdout);
        return 0;
    }
    const vostrel::TFineTimer fineTimer;
    const auto app = vostrel::MakeApplication(argc, argv);
    // Before the window asks for its copies folder.
    vostrel::SetApplicationNames();
    TfmMain fmMain;
    vostrel::CloseOnSessionEnd(fmMain);
    fmMain.show();
    return QApplication::exec();
}

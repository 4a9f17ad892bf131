// The program's one-time set-up of the toolkit, shared by the program, its
// tests and the tools that picture or measure it, so none of them drifts.
#pragma once

#include <QApplication>

#include <memory>

namespace vostrel {

// Creates the application object with the program's look: set what must be
// known before it exists, then style and desktop identity.
std::unique_ptr<QApplication> MakeApplication(int& argc, char** argv);

}  // namespace vostrel

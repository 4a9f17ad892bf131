// The copies the program keeps of every station's parameters: one small
// parameter file for each block read and each block sent, in the user's data
// folder, written whole or not at all and never over an earlier one.
#pragma once

#include "ParamFile.h"

#include <QString>

namespace vostrel {

// The application name both programs set before anything asks for a folder,
// so the window and the command-line programmer share one data folder.
void SetApplicationNames();

// QStandardPaths::AppDataLocation + "/copies"; an uninstall leaves it alone.
QString CopiesFolder();

// Ok with the file's path, or a Russian reason that names the path and the
// system's error.
struct TCopySaved {
    bool Ok = false;
    QString Path;
    QString Reason;
};

// Writes file (Kind "read" or "sent") into folder, creating the folder. The
// name sorts by date, time and port: "2026-12-07_21-03-55_COM1_read.txt",
// taken from file.When (the present local time when it is empty) and the
// first word of file.Port; a name where anything stands (a dangling link
// too) gets "-2", "-3" ... , even when another program takes it in the same
// moment. Written and flushed to the disk under a hidden temporary name in
// the folder, then linked to its name, so a failure or a crash leaves no half
// file there; temporaries a crash left are removed at the folder's first copy
// in a run, once some minutes old.
TCopySaved SaveCopy(const QString& folder, const TParamFile& file);

// A copy of a block as it is at this moment: When is the present local time,
// Set the block's reading as the window shows it after `previous`.
TParamFile CopyOfBlock(const std::string& kind, const QString& port, const TByteArray& block,
                       const TParameterSet& previous = {});

}  // namespace vostrel

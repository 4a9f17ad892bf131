// Reading an operator's parameter file or a copy from disk, with one text
// for each way it can fail; the window shows the text under its headline,
// vostrel-cli prints it after the file's name.
#pragma once

#include "ParamFile.h"

#include <string>

namespace vostrel {

struct TParamFileLoad {
    enum class TStatus {
        Loaded,
        Missing,     // nothing at the path
        Folder,      // a folder stands there
        NoRights,    // the file is there, we may not read it
        Unreadable,  // any other failure to open or read it
        TooLarge,    // over kMaxParamFileBytes: picked by mistake
        Refused,     // read, but not a valid parameter file
    };
    TStatus Status = TStatus::Loaded;
    // Russian, without the file's name; "" when loaded. For Refused it names
    // the line and the field (DescribeParamFileError).
    std::string Text;

    bool Loaded() const { return Status == TStatus::Loaded; }
};

// Reads the file at path (UTF-8) and checks it with ParseParamFile; out is
// left untouched on failure. No more than kMaxParamFileBytes and one byte are
// read, so a large file picked by mistake costs nothing.
TParamFileLoad LoadParamFileAt(const std::string& path, TParamFile& out);

}  // namespace vostrel

// vostrel-stand's command line: what it fills the window in with. Parsed by
// hand so that every mistake is told in the window in the operator's words.
#pragma once

#include <string>
#include <vector>

namespace vostrel {

struct TStandOptions {
    std::vector<std::string> Ports;  // --ports P1,P2,... (names or device paths)
    std::string File;                // --file: the parameter file
    std::string Log;                 // --log: the record; "" keeps the day's file
    bool Verify = false;             // --verify: each station read back
    bool Start = false;              // --start: begin once the file and the ports are given
    bool Help = false;               // --help / -h
    bool Version = false;            // --version
    // Why the line was not understood, Russian; "" when it was. What was
    // understood before the mistake is kept.
    std::string Error;
};

// args without the program's name. "--name value" and "--name=value" alike;
// --ports may repeat, its lists add up; empty names in a list are refused.
TStandOptions ParseStandOptions(const std::vector<std::string>& args);

// What --help prints.
std::string StandHelp();

}  // namespace vostrel

// What the command line asks for, read from one table of commands that also
// gives the help its usage lines.
#pragma once

#include <string>
#include <vector>

namespace vostrel {

enum class TCommand { None, Help, Version, Read, Program, Restore, Show, Diff };

struct TCommandLine {
    TCommand Command = TCommand::None;
    std::vector<std::string> Ports;  // read, program: one or more; restore: one
    std::vector<std::string> Files;  // program: FILE; restore: COPY; show: FILE; diff: A B
    std::string Output;              // read: -o FILE
    std::string Log;                 // read, program, restore: --log FILE, the record
    bool Each = false;               // program --each
    bool Yes = false;                // restore --yes
    bool Verify = false;             // program, restore --verify: read each station back
    bool Verbose = false;            // the exchange log on the error stream
    std::string Error;               // Russian; not empty: a usage error
};

// args without the program's own name, UTF-8. Options may stand anywhere
// after the command; "--" ends them.
TCommandLine ParseCommandLine(const std::vector<std::string>& args);

// The Russian help text, exit codes and the copies folder included.
std::string HelpText(const std::string& copiesFolder);

// read on several ports: a file for each, the port's name before the
// extension ("bench.txt" on COM2 → "bench-COM2.txt", on /dev/ttyUSB0 →
// "bench-ttyUSB0.txt").
std::string OutputForPort(const std::string& output, const std::string& port, bool several);

}  // namespace vostrel

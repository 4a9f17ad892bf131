// A shell command's standard output, read whole, and how it ended.
#pragma once

#include <cstdio>
#include <string>

namespace vostrel {

// status: pclose's, -1 when the command could not be started.
inline std::string CommandOutput(const std::string& command, int& status)
{
    std::string text;
    std::FILE* out = popen(command.c_str(), "r");
    if (out == nullptr) {
        status = -1;
        return text;
    }
    char buffer[256];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, out)) > 0;)
        text.append(buffer, n);
    status = pclose(out);
    return text;
}

}  // namespace vostrel

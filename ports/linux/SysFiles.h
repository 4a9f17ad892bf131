// Small readers of the kernel's files (/sys, /proc, /dev) for finding ports.
// Each returns nothing rather than failing: a file that cannot be read is a
// port or process that is not ours to see.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vostrel {

bool StartsWith(std::string_view s, std::string_view prefix);
bool IsDigit(char c);
// The file's text without trailing blanks; nothing when it cannot be read.
std::optional<std::string> ReadSmallFile(const std::string& path);
// The path with every link resolved; "" when it cannot be.
std::string RealPath(const std::string& path);
// Names in dir, without "." and ".."; empty when it cannot be read.
std::vector<std::string> DirectoryEntries(const std::string& dir);
// A process number from a /proc entry name.
std::optional<int> ParsePid(std::string_view s);
// Where a link points; "" when it is none or cannot be read.
std::string ReadLink(const std::string& path);

}  // namespace vostrel

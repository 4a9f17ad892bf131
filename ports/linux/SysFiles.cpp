#include "SysFiles.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include <dirent.h>
#include <unistd.h>

namespace vostrel {

bool StartsWith(std::string_view s, std::string_view prefix)
{
    return s.substr(0, prefix.size()) == prefix;
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

std::optional<std::string> ReadSmallFile(const std::string& path)
{
    std::ifstream in(path);
    if (!in)
        return std::nullopt;
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad())
        return std::nullopt;
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.pop_back();
    return text;
}

std::string RealPath(const std::string& path)
{
    char buf[PATH_MAX];
    if (::realpath(path.c_str(), buf) == nullptr)
        return {};
    return buf;
}

std::vector<std::string> DirectoryEntries(const std::string& dir)
{
    std::vector<std::string> names;
    DIR* d = ::opendir(dir.c_str());
    if (d == nullptr)
        return names;
    while (const dirent* e = ::readdir(d)) {
        const std::string_view name = e->d_name;
        if (name != "." && name != "..")
            names.emplace_back(name);
    }
    ::closedir(d);
    return names;
}

std::optional<int> ParsePid(std::string_view s)
{
    if (s.empty() || s.size() > 9 || !std::all_of(s.begin(), s.end(), IsDigit))
        return std::nullopt;
    int pid = 0;
    for (const char c : s)
        pid = pid * 10 + (c - '0');
    return pid;
}

std::string ReadLink(const std::string& path)
{
    char buf[PATH_MAX];
    const ssize_t n = ::readlink(path.c_str(), buf, sizeof buf);
    if (n <= 0 || static_cast<std::size_t>(n) >= sizeof buf)
        return {};
    return std::string(buf, static_cast<std::size_t>(n));
}

}  // namespace vostrel

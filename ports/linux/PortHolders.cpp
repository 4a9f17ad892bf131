// Which other programs hold a serial device open: a terminal program left
// running on the port would otherwise share the station's bytes with us.
#include "PortFinder.h"
#include "SysFiles.h"

#include <algorithm>
#include <utility>

#include <sys/stat.h>
#include <unistd.h>

namespace vostrel {

std::vector<std::string> PortHolders(const std::string& devicePath)
{
    std::string real = RealPath(devicePath);
    if (real.empty())
        real = devicePath;
    struct stat device {};
    const bool isDevice = ::stat(devicePath.c_str(), &device) == 0 && S_ISCHR(device.st_mode);

    std::vector<std::pair<int, std::string>> holders;
    const int self = static_cast<int>(::getpid());
    for (const auto& entry : DirectoryEntries("/proc")) {
        const std::optional<int> pid = ParsePid(entry);
        if (!pid || *pid == self)
            continue;
        const std::string fdDir = "/proc/" + entry + "/fd";
        bool holds = false;
        // Unreadable for other users' processes: those are simply not named.
        for (const auto& fd : DirectoryEntries(fdDir)) {
            const std::string fdPath = fdDir + "/" + fd;
            const std::string target = ReadLink(fdPath);
            if (target == real) {
                holds = true;
                break;
            }
            // The same device under another name, e.g. bound onto a node in
            // another mount namespace.
            struct stat st {};
            if (isDevice && StartsWith(target, "/dev/") && ::stat(fdPath.c_str(), &st) == 0 && S_ISCHR(st.st_mode) &&
                st.st_rdev == device.st_rdev) {
                holds = true;
                break;
            }
        }
        if (!holds)
            continue;
        const std::string comm = ReadSmallFile("/proc/" + entry + "/comm").value_or(std::string());
        const std::string pidText = "PID " + std::to_string(*pid);
        holders.emplace_back(*pid, comm.empty() ? pidText : comm + " (" + pidText + ")");
    }
    std::sort(holders.begin(), holders.end());
    std::vector<std::string> names;
    names.reserve(holders.size());
    for (auto& holder : holders)
        names.push_back(std::move(holder.second));
    return names;
}

bool SameDevice(const std::string& a, const std::string& b)
{
    struct stat sa {};
    struct stat sb {};
    if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0)
        return false;
    // A device node's own inode differs between /dev and a container's copy.
    if (S_ISCHR(sa.st_mode) && S_ISCHR(sb.st_mode))
        return sa.st_rdev == sb.st_rdev;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

}  // namespace vostrel

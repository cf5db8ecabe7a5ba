#include "port_posix.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>

namespace portboot {

namespace {

constexpr char kDevicePrefix[] = "/dev/";

// A /proc entry or fd entry that is a number, as a number; -1 otherwise.
long Number(const char* text) {
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    return end != text && *end == '\0' && value >= 0 ? value : -1;
}

bool HoldsDevice(const std::string& fdDir, dev_t device) {
    DIR* fds = opendir(fdDir.c_str());
    if (fds == nullptr) {
        return false;  // gone, or another user's
    }
    bool holds = false;
    while (const dirent* entry = readdir(fds)) {
        if (Number(entry->d_name) < 0) {
            continue;
        }
        // Only a device node can be the port; the link's text says so without the cost of a
        // stat (most descriptors are pipes, sockets and files).
        const std::string fdPath = fdDir + "/" + entry->d_name;
        char target[sizeof kDevicePrefix];
        const ssize_t length = readlink(fdPath.c_str(), target, sizeof target);
        if (length < static_cast<ssize_t>(sizeof kDevicePrefix - 1) ||
            std::memcmp(target, kDevicePrefix, sizeof kDevicePrefix - 1) != 0) {
            continue;
        }
        struct stat info;
        if (stat(fdPath.c_str(), &info) == 0 && S_ISCHR(info.st_mode) && info.st_rdev == device) {
            holds = true;
            break;
        }
    }
    closedir(fds);
    return holds;
}

}  // namespace

bool DevicePath(const PortName& port, std::string& path) {
    if (!port.path.empty()) {
        path = port.path;
        return true;
    }
    if (port.digit < '1' || port.digit > '9') {
        return false;
    }
    path = "/dev/ttyS" + std::to_string(port.digit - '1');
    return true;
}

std::vector<PortHolder> FindHolders(dev_t device) {
    std::vector<PortHolder> holders;
    DIR* proc = opendir("/proc");
    if (proc == nullptr) {
        return holders;
    }
    const long self = static_cast<long>(getpid());
    while (const dirent* entry = readdir(proc)) {
        const long pid = Number(entry->d_name);
        if (pid < 0 || pid == self) {
            continue;
        }
        const std::string dir = std::string("/proc/") + entry->d_name;
        if (!HoldsDevice(dir + "/fd", device)) {
            continue;
        }
        PortHolder holder{static_cast<pid_t>(pid), ""};
        std::ifstream comm(dir + "/comm");
        std::getline(comm, holder.command);
        holders.push_back(holder);
    }
    closedir(proc);
    return holders;
}

}  // namespace portboot

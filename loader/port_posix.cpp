#include "port_posix.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstdio>
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

std::string CommandOf(long pid) {
    std::string command;
    std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
    std::getline(comm, command);
    return command;
}

// Where serial programs put their locks; on most systems one is a link to the other.
constexpr const char* kLockDirs[] = {"/var/lock", "/run/lock"};
// A PID in ASCII with its blanks and line feed fits in this, as does the binary form.
constexpr std::size_t kLongestLockBytes = 64;
constexpr std::size_t kBinaryPidBytes = 4;

// The names other programs give the lock of this device: LCK.. and the node's name (ttyUSB0),
// for the path as named and as resolved, and with the path under /dev/ and its '/' made '_'
// (pts_3), as lockdev writes it for a node in a subdirectory.
std::vector<std::string> LockNames(const std::string& devicePath) {
    std::vector<std::string> names;
    auto add = [&names](const std::string& name) {
        if (!name.empty() && name.find('/') == std::string::npos) {
            for (const std::string& known : names) {
                if (known == "LCK.." + name) {
                    return;
                }
            }
            names.push_back("LCK.." + name);
        }
    };
    std::vector<std::string> paths = {devicePath};
    if (char* resolved = realpath(devicePath.c_str(), nullptr)) {
        paths.push_back(resolved);
        std::free(resolved);
    }
    for (const std::string& path : paths) {
        add(path.substr(path.rfind('/') + 1));
        if (path.compare(0, 5, "/dev/") == 0) {
            std::string underDev = path.substr(5);
            for (char& c : underDev) {
                c = c == '/' ? '_' : c;
            }
            add(underDev);
        }
    }
    return names;
}

// The PID a lock file holds, or 0 when it holds none.
long LockPid(const std::string& file) {
    const int fd = open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return 0;
    }
    char bytes[kLongestLockBytes + 1] = {};
    ssize_t length;
    do {
        length = read(fd, bytes, kLongestLockBytes);
    } while (length < 0 && errno == EINTR);
    close(fd);
    if (length <= 0) {
        return 0;
    }
    // The binary form is 4 bytes of a PID in host order, so one holds a zero byte (a PID is far
    // below 2^24); text never does.
    if (length == static_cast<ssize_t>(kBinaryPidBytes) && std::memchr(bytes, 0, 4) != nullptr) {
        std::int32_t pid = 0;
        std::memcpy(&pid, bytes, sizeof pid);
        return pid > 0 ? pid : 0;
    }
    // ASCII: blanks, the digits, then a blank, a line feed or the end (some programs add their
    // name after the PID).
    const char* p = bytes;
    while (*p == ' ' || *p == '\t') {
        ++p;
    }
    char* end = nullptr;
    const long pid = std::strtol(p, &end, 10);
    const bool ended = *end == '\0' || *end == ' ' || *end == '\t' || *end == '\n';
    return end != p && *p != '-' && *p != '+' && ended && pid > 0 && pid <= INT_MAX ? pid : 0;
}

bool IsAlive(long pid) {
    return kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
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
        holders.push_back(PortHolder{static_cast<pid_t>(pid), CommandOf(pid)});
    }
    closedir(proc);
    return holders;
}

std::vector<PortHolder> FindFlockHolders(dev_t filesystem, ino_t node) {
    std::vector<PortHolder> holders;
    std::ifstream locks("/proc/locks");
    // "1: FLOCK  ADVISORY  WRITE 4242 00:19:3 0 EOF"; a waiter's line has "->" after the number.
    for (std::string line; std::getline(locks, line);) {
        char kind[16] = {};
        long pid = 0;
        unsigned major = 0;
        unsigned minor = 0;
        unsigned long inode = 0;
        if (std::sscanf(line.c_str(), "%*d: %15s %*s %*s %ld %x:%x:%lu", kind, &pid, &major, &minor,
                        &inode) == 5 &&
            std::strcmp(kind, "FLOCK") == 0 && major == major(filesystem) &&
            minor == minor(filesystem) && inode == node && pid > 0 && pid != getpid()) {
            holders.push_back(PortHolder{static_cast<pid_t>(pid), CommandOf(pid)});
        }
    }
    return holders;
}

bool ProcessRuns(const char* command) {
    DIR* proc = opendir("/proc");
    if (proc == nullptr) {
        return false;
    }
    bool runs = false;
    while (const dirent* entry = readdir(proc)) {
        if (Number(entry->d_name) > 0 && CommandOf(Number(entry->d_name)) == command) {
            runs = true;
            break;
        }
    }
    closedir(proc);
    return runs;
}

bool FindLockHolder(const std::string& devicePath, LockHolder& holder) {
    for (const std::string& name : LockNames(devicePath)) {
        for (const char* dir : kLockDirs) {
            const std::string file = std::string(dir) + "/" + name;
            const long pid = LockPid(file);
            if (pid > 0 && pid != static_cast<long>(getpid()) && IsAlive(pid)) {
                holder.process = PortHolder{static_cast<pid_t>(pid), CommandOf(pid)};
                holder.file = file;
                return true;
            }
        }
    }
    return false;
}

}  // namespace portboot

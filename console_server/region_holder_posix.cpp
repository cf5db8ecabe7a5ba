// Whether another process holds the region: how the server tells the client that started it
// from a shell that merely ran it (startup.h, FollowStartingClient).
#include <dirent.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cstdio>
#include <string>

#include "rendezvous.h"

namespace conproxy {

bool NamedRegion::HeldBy(long parentPid) const {
    struct stat own {};
    if (native_ < 0 || fstat(static_cast<int>(native_), &own) != 0 || parentPid <= 1) {
        return false;
    }
    const std::string process = "/proc/" + std::to_string(parentPid);
    // Open through a descriptor (the client library keeps one) ...
    if (DIR* descriptors = opendir((process + "/fd").c_str())) {
        bool held = false;
        while (const dirent* entry = readdir(descriptors)) {
            struct stat theirs {};
            if (entry->d_name[0] != '.' &&
                stat((process + "/fd/" + entry->d_name).c_str(), &theirs) == 0 &&
                theirs.st_dev == own.st_dev && theirs.st_ino == own.st_ino) {
                held = true;
                break;
            }
        }
        closedir(descriptors);
        if (held) {
            return true;
        }
    }
    // ... or only mapped, its descriptor closed: "start-end perms offset major:minor inode".
    FILE* maps = std::fopen((process + "/maps").c_str(), "r");
    if (maps == nullptr) {
        return false;
    }
    bool held = false;
    char line[512];
    while (!held && std::fgets(line, sizeof line, maps) != nullptr) {
        unsigned major = 0;
        unsigned minor = 0;
        unsigned long inode = 0;
        held = std::sscanf(line, "%*s %*s %*s %x:%x %lu", &major, &minor, &inode) == 3 &&
               inode == own.st_ino && makedev(major, minor) == own.st_dev;
    }
    std::fclose(maps);
    return held;
}

}  // namespace conproxy

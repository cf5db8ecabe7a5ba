// What the POSIX port files share beyond ComPort: the device a port name stands for, who else has
// that device open (a scan of /proc/*/fd, as far as this user may look), and which live process
// a serial lock file names for it (as minicom, picocom and the UUCP tools write them).
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "loader_settings.h"

namespace portboot {

// The digits 1 to 9 are /dev/ttyS0..8; a path is itself. False for 0, which names none.
bool DevicePath(const PortName& port, std::string& path);

struct PortHolder {
    pid_t pid;
    std::string command;  // as /proc/<pid>/comm says, without its line feed
};

// The processes other than this one that hold a descriptor on the character device `device`.
// Processes of other users stay hidden unless this one runs as root.
std::vector<PortHolder> FindHolders(dev_t device);

// The processes that hold an flock on this node (as /proc/locks says, which every user may
// read): a holder stays nameable even where its /proc/<pid>/fd is closed to this user.
std::vector<PortHolder> FindFlockHolders(dev_t filesystem, ino_t node);

// True when a process of that command name runs (one this user may see).
bool ProcessRuns(const char* command);

struct LockHolder {
    PortHolder process;
    std::string file;  // the lock file's path
};

// True, with the holder, when a lock file in /var/lock or /run/lock names the device (LCK..
// and its node's name) and holds the PID of a live process: in ASCII, as the UUCP tools write
// it, or as 4 binary bytes, as older programs do. A lock whose process is gone, or that holds
// no PID, is stale and passed over.
bool FindLockHolder(const std::string& devicePath, LockHolder& holder);

}  // namespace portboot

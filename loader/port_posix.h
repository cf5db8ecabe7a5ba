// What the POSIX port files share beyond ComPort: the device a port name stands for, and who
// else has that device open (a scan of /proc/*/fd, as far as this user may look).
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

}  // namespace portboot

// What the POSIX port files share beyond ComPort: the device a name stands for, who else has
// that device open (a scan of /proc/*/fd, as far as this user may look), and why the last open
// was refused although the system would have allowed it.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace portboot {

// "COM1".."COM9" are /dev/ttyS0..8; any other name is a path. False for COM0, which names none.
bool DevicePath(const char* name, std::string& path);

struct PortHolder {
    pid_t pid;
    std::string command;  // as /proc/<pid>/comm says, without its line feed
};

// The processes other than this one that hold a descriptor on the character device `device`.
// Processes of other users stay hidden unless this one runs as root.
std::vector<PortHolder> FindHolders(dev_t device);

enum class PortRefusal {
    None,
    OwnTerminal,  // the port is the terminal this program runs in
    Held,         // another program has the device open
};

// Set by every ComPort::Open: what refused the port, if it was refused on purpose.
PortRefusal LastPortRefusal();
void SetPortRefusal(PortRefusal refusal);

}  // namespace portboot

// The notes on Linux: the device's path and strerror in the user's locale; for no permission the
// device's group and how to join it; for a missing device the serial devices there are; for a
// port in use, who holds it (or its lock file) as far as this user can see; for a silent device,
// what to check. Every text that is not ours (paths, process names) is shown escaped.
#include <glob.h>
#include <grp.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <vector>

#include "console_texts.h"
#include "port_notes.h"
#include "port_posix.h"
#include "shown_text.h"

namespace portboot {

namespace {

// The service that probes every new USB ACM port for a modem, holding it for seconds.
constexpr char kModemService[] = "ModemManager";

// printf into a string.
template <typename... Args>
std::string Format(const ConsoleTexts& texts, Text format, Args... args) {
    const char* pattern = texts[format];
    const int length = std::snprintf(nullptr, 0, pattern, args...);
    if (length <= 0) {
        return std::string();
    }
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    std::snprintf(&text[0], text.size(), pattern, args...);
    text.resize(static_cast<std::size_t>(length));
    return text;
}

// The port as the user named it, with the device a digit stands for.
std::string Shown(const PortName& port, const std::string& path) {
    const std::string label = port.Label();
    return ShownText(path == label ? path : label + " (" + path + ")");
}

// The device's path, or the port's name where it names none.
std::string PathOf(const PortName& port) {
    std::string path;
    if (!DevicePath(port, path)) {
        path = port.Label();
    }
    return path;
}

// A ttyS node exists for every UART the kernel might have; only those with a chip behind them
// (a type other than 0) are worth naming.
bool HasUart(const std::string& path) {
    const std::string node = path.substr(path.rfind('/') + 1);
    std::ifstream type("/sys/class/tty/" + node + "/type");
    int kind = -1;
    return !(type >> kind) || kind != 0;
}

std::string ExistingPorts() {
    std::string list;
    for (const char* pattern :
         {"/dev/serial/by-id/*", "/dev/ttyUSB*", "/dev/ttyACM*", "/dev/ttyS*"}) {
        glob_t found;
        if (glob(pattern, 0, nullptr, &found) == 0) {
            for (std::size_t i = 0; i < found.gl_pathc; ++i) {
                const std::string path = found.gl_pathv[i];
                if (path.compare(0, 9, "/dev/ttyS") == 0 && !HasUart(path)) {
                    continue;
                }
                list += (list.empty() ? "" : ", ") + ShownText(path);
            }
        }
        globfree(&found);
    }
    return list;
}

std::string HeldNote(const ConsoleTexts& texts, const std::string& shown, const std::string& path,
                     int error) {
    struct stat info;
    std::vector<PortHolder> holders;
    if (stat(path.c_str(), &info) == 0 && S_ISCHR(info.st_mode)) {
        holders = FindHolders(info.st_rdev);
        if (holders.empty()) {
            holders = FindFlockHolders(info.st_dev, info.st_ino);
        }
    }
    if (holders.empty()) {
        return Format(texts, Text::NoteHiddenHolder, shown.c_str(), std::strerror(error));
    }
    std::string list;
    for (const PortHolder& holder : holders) {
        list += (list.empty() ? "" : ", ") + Format(texts, Text::NoteHolder,
                                                    static_cast<long>(holder.pid),
                                                    ShownText(holder.command).c_str());
    }
    return Format(texts, Text::NoteHeld, shown.c_str(), list.c_str());
}

std::string LockedNote(const ConsoleTexts& texts, const std::string& shown, const std::string& path,
                       int error) {
    LockHolder holder;
    if (!FindLockHolder(path, holder)) {
        return HeldNote(texts, shown, path, error);  // the lock went meanwhile
    }
    return Format(texts, Text::NoteLocked, shown.c_str(), static_cast<long>(holder.process.pid),
                  ShownText(holder.process.command).c_str(), ShownText(holder.file).c_str());
}

}  // namespace

std::string PortOpenNote(const ConsoleTexts& texts, const PortName& port, int error,
                         PortRefusal refusal) {
    const std::string path = PathOf(port);
    const std::string shown = Shown(port, path);
    if (refusal == PortRefusal::OwnTerminal) {
        return Format(texts, Text::NoteOwnTerminal, shown.c_str());
    }
    if (refusal == PortRefusal::Locked) {
        return LockedNote(texts, shown, path, error);
    }
    if (refusal == PortRefusal::Held || error == EBUSY || error == EWOULDBLOCK) {
        return HeldNote(texts, shown, path, error);
    }
    if (error == EACCES) {
        struct stat info;
        const struct group* owner =
            stat(path.c_str(), &info) == 0 ? getgrgid(info.st_gid) : nullptr;
        if (owner != nullptr && info.st_gid != 0) {
            const std::string group = ShownText(owner->gr_name);
            return Format(texts, Text::NoteNoAccess, shown.c_str(), std::strerror(error),
                          group.c_str(), group.c_str());
        }
    }
    if (error == ENOENT) {
        const std::string ports = ExistingPorts();
        return ports.empty()
                   ? Format(texts, Text::NoteNoneExist, shown.c_str(), std::strerror(error))
                   : Format(texts, Text::NoteExisting, shown.c_str(), std::strerror(error),
                            ports.c_str());
    }
    return Format(texts, Text::NotePort, shown.c_str(), std::strerror(error));
}

std::string PortTransferNote(const ConsoleTexts& texts, const PortName& port, int error) {
    return Format(texts, Text::NotePort, Shown(port, PathOf(port)).c_str(), std::strerror(error));
}

std::string NoAnswerNote(const ConsoleTexts& texts, const PortName& port, std::uint32_t baudRate) {
    return Format(texts, Text::NoteNoAnswer, Shown(port, PathOf(port)).c_str(),
                  static_cast<unsigned>(baudRate),
                  ProcessRuns(kModemService) ? texts[Text::NoteModemService] : "");
}

TextBytes PortNoteText(Text id) {
    return LinuxText(id);
}

}  // namespace portboot

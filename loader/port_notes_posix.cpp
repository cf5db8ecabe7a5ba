// The notes on Linux: the device's path and strerror in the user's locale; for no permission the
// device's group and how to join it; for a missing device the serial devices there are; for a
// port in use, who holds it as far as this user can see.
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

namespace portboot {

namespace {

constexpr char kNotePort[] =
    // Порт %s: %s
    "\xCF\xEE\xF0\xF2 %s: %s";

constexpr char kNoteNoAccess[] =
    // Порт %s: %s; он открыт группе %s: sudo usermod -aG %s $USER, затем войдите в систему заново
    "\xCF\xEE\xF0\xF2 %s: %s; \xEE\xED \xEE\xF2\xEA\xF0\xFB\xF2 \xE3\xF0\xF3\xEF\xEF\xE5 %s: "
    "sudo usermod -aG %s $USER, \xE7\xE0\xF2\xE5\xEC \xE2\xEE\xE9\xE4\xE8\xF2\xE5 \xE2 \xF1"
    "\xE8\xF1\xF2\xE5\xEC\xF3 \xE7\xE0\xED\xEE\xE2\xEE";

constexpr char kNoteExisting[] =
    // Порт %s: %s; есть порты: %s
    "\xCF\xEE\xF0\xF2 %s: %s; \xE5\xF1\xF2\xFC \xEF\xEE\xF0\xF2\xFB: %s";

constexpr char kNoteNoneExist[] =
    // Порт %s: %s; последовательных портов в системе нет
    "\xCF\xEE\xF0\xF2 %s: %s; \xEF\xEE\xF1\xEB\xE5\xE4\xEE\xE2\xE0\xF2\xE5\xEB\xFC\xED\xFB"
    "\xF5 \xEF\xEE\xF0\xF2\xEE\xE2 \xE2 \xF1\xE8\xF1\xF2\xE5\xEC\xE5 \xED\xE5\xF2";

constexpr char kNoteOwnTerminal[] =
    // Порт %s: это терминал, в котором работает программа, а не линия к устройству
    "\xCF\xEE\xF0\xF2 %s: \xFD\xF2\xEE \xF2\xE5\xF0\xEC\xE8\xED\xE0\xEB, \xE2 \xEA\xEE\xF2"
    "\xEE\xF0\xEE\xEC \xF0\xE0\xE1\xEE\xF2\xE0\xE5\xF2 \xEF\xF0\xEE\xE3\xF0\xE0\xEC\xEC\xE0, "
    "\xE0 \xED\xE5 \xEB\xE8\xED\xE8\xFF \xEA \xF3\xF1\xF2\xF0\xEE\xE9\xF1\xF2\xE2\xF3";

constexpr char kNoteHeld[] =
    // Порт %s занят: %s
    "\xCF\xEE\xF0\xF2 %s \xE7\xE0\xED\xFF\xF2: %s";

constexpr char kNoteHolder[] =
    // процесс %ld (%s)
    "\xEF\xF0\xEE\xF6\xE5\xF1\xF1 %ld (%s)";

constexpr char kNoteHiddenHolder[] =
    // Порт %s: %s; его держит другая программа (процессы других пользователей видит только root)
    "\xCF\xEE\xF0\xF2 %s: %s; \xE5\xE3\xEE \xE4\xE5\xF0\xE6\xE8\xF2 \xE4\xF0\xF3\xE3\xE0\xFF "
    "\xEF\xF0\xEE\xE3\xF0\xE0\xEC\xEC\xE0 (\xEF\xF0\xEE\xF6\xE5\xF1\xF1\xFB \xE4\xF0\xF3\xE3"
    "\xE8\xF5 \xEF\xEE\xEB\xFC\xE7\xEE\xE2\xE0\xF2\xE5\xEB\xE5\xE9 \xE2\xE8\xE4\xE8\xF2 \xF2"
    "\xEE\xEB\xFC\xEA\xEE root)";

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
    return path == label ? path : label + " (" + path + ")";
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
                list += (list.empty() ? "" : ", ") + path;
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
    }
    if (holders.empty()) {
        return Format(texts, Text::NoteHiddenHolder, shown.c_str(), std::strerror(error));
    }
    std::string list;
    for (const PortHolder& holder : holders) {
        list +=
            (list.empty() ? "" : ", ") +
            Format(texts, Text::NoteHolder, static_cast<long>(holder.pid), holder.command.c_str());
    }
    return Format(texts, Text::NoteHeld, shown.c_str(), list.c_str());
}

}  // namespace

std::string PortOpenNote(const ConsoleTexts& texts, const PortName& port, int error,
                         PortRefusal refusal) {
    std::string path;
    if (!DevicePath(port, path)) {
        path = port.Label();
    }
    const std::string shown = Shown(port, path);
    if (refusal == PortRefusal::OwnTerminal) {
        return Format(texts, Text::NoteOwnTerminal, shown.c_str());
    }
    if (refusal == PortRefusal::Held || error == EBUSY || error == EWOULDBLOCK) {
        return HeldNote(texts, shown, path, error);
    }
    if (error == EACCES) {
        struct stat info;
        const struct group* owner =
            stat(path.c_str(), &info) == 0 ? getgrgid(info.st_gid) : nullptr;
        if (owner != nullptr && info.st_gid != 0) {
            return Format(texts, Text::NoteNoAccess, shown.c_str(), std::strerror(error),
                          owner->gr_name, owner->gr_name);
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
    std::string path;
    if (!DevicePath(port, path)) {
        path = port.Label();
    }
    return Format(texts, Text::NotePort, Shown(port, path).c_str(), std::strerror(error));
}

TextBytes PortNoteText(Text id) {
    switch (id) {
        case Text::NotePort:
            return Bytes(kNotePort);
        case Text::NoteNoAccess:
            return Bytes(kNoteNoAccess);
        case Text::NoteExisting:
            return Bytes(kNoteExisting);
        case Text::NoteNoneExist:
            return Bytes(kNoteNoneExist);
        case Text::NoteOwnTerminal:
            return Bytes(kNoteOwnTerminal);
        case Text::NoteHeld:
            return Bytes(kNoteHeld);
        case Text::NoteHolder:
            return Bytes(kNoteHolder);
        case Text::NoteHiddenHolder:
            return Bytes(kNoteHiddenHolder);
        default:
            return TextBytes{"", 0};
    }
}

}  // namespace portboot

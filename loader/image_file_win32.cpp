// Windows has no FIFO that a file name could stand for; a device is found by its attributes
// before the open, as the program always did. A directory goes to the open, which fails on it.
#include <sys/stat.h>

#include <cerrno>

#include "image_file.h"

namespace portboot {

const PathStyle kPathStyle = PathStyle::Windows;

// The run-time library's description of error number 0 is said as it always was.
TextBytes ImageNoteText(Text /*id*/) {
    return TextBytes{"", 0};
}

std::FILE* OpenImageFile(const char* name, bool& notRegular) {
    struct stat info;
    const bool found = stat(name, &info) == 0;
    const bool directory = found && (info.st_mode & S_IFMT) == S_IFDIR;
    notRegular = found && !directory && (info.st_mode & S_IFMT) != S_IFREG;
    if (notRegular) {
        return nullptr;
    }
    std::FILE* file = std::fopen(name, "rb");
    if (file != nullptr && directory) {
        // A run-time library that opened it all the same has still no bytes to give.
        std::fclose(file);
        errno = EACCES;
        return nullptr;
    }
    return file;
}

}  // namespace portboot

// Windows has no FIFO that a file name could stand for; a directory or a device is found by its
// attributes before the open, as the program always did.
#include <sys/stat.h>

#include "image_file.h"

namespace portboot {

std::FILE* OpenImageFile(const char* name, bool& notRegular) {
    struct stat info;
    notRegular = stat(name, &info) == 0 && (info.st_mode & S_IFMT) != S_IFREG;
    return notRegular ? nullptr : std::fopen(name, "rb");
}

}  // namespace portboot

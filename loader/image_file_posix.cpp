#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "image_file.h"

namespace portboot {

std::FILE* OpenImageFile(const char* name, bool& notRegular) {
    notRegular = false;
    // Non-blocking, so a FIFO without a writer, or a name swapped for one, cannot hold the
    // open; a regular file reads the same either way.
    const int fd = open(name, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return nullptr;
    }
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        const int error = errno;
        close(fd);
        notRegular = true;
        errno = error;
        return nullptr;
    }
    std::FILE* file = fdopen(fd, "rb");
    if (file == nullptr) {
        const int error = errno;
        close(fd);
        errno = error;
    }
    return file;
}

}  // namespace portboot

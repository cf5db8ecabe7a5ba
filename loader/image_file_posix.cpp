#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "image_file.h"

namespace portboot {

const PathStyle kPathStyle = PathStyle::Posix;

// The C library words error number 0 "Success", which no person should read under a failure.
TextBytes ImageNoteText(Text id) {
    return LinuxText(id);
}

std::FILE* OpenImageFile(const char* name, bool& notRegular) {
    notRegular = false;
    // Non-blocking, so a FIFO without a writer, or a name swapped for one, cannot hold the
    // open; a regular file reads the same either way.
    const int fd = open(name, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return nullptr;
    }
    struct stat info;
    const bool measured = fstat(fd, &info) == 0;
    if (!measured || !S_ISREG(info.st_mode)) {
        // A directory opens for reading here, but as an image it cannot be opened: it has no
        // bytes to read, as on Windows, where its open fails.
        int error = errno;
        if (measured && S_ISDIR(info.st_mode)) {
            error = EISDIR;
        } else {
            notRegular = true;
        }
        close(fd);
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

#include "write_all.h"

#include <unistd.h>

#include <cerrno>

namespace test_support {

bool WriteAll(int fd, const void* bytes, std::size_t count) {
    const char* next = static_cast<const char*>(bytes);
    while (count > 0) {
        const ssize_t n = ::write(fd, next, count);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        next += n;
        count -= static_cast<std::size_t>(n);
    }
    return true;
}

bool WriteAll(int fd, const std::string& bytes) {
    return WriteAll(fd, bytes.data(), bytes.size());
}

}  // namespace test_support

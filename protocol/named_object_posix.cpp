#include "named_object_posix.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>

#include "conproxy_protocol.h"

namespace conproxy_protocol {

namespace {

constexpr mode_t kOwnerOnlyMode = 0600;

void CloseKeepingErrno(int fd) {
    const int saved = errno;
    close(fd);
    errno = saved;
}

}  // namespace

std::string RefusalReason(const struct stat& st) {
    if (!S_ISREG(st.st_mode)) {
        return "is not a shared-memory object";
    }
    if (st.st_uid != geteuid()) {
        return "belongs to another user (uid " + std::to_string(st.st_uid) + ")";
    }
    if ((st.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
        return std::string("is open to other users (mode ") + mode + ")";
    }
    return std::string();
}

// tmpfs allocates a page at its first touch otherwise. Pages already there are not asked for
// again: each fallocate is a modification the server's resize watch would report, and its next
// measure would allocate again. A file system that cannot reserve (EOPNOTSUPP) is left as it is.
bool ReservePages(int fd, size_t bytes) {
    struct stat st {};
    if (bytes == 0 || (fstat(fd, &st) == 0 && static_cast<uint64_t>(st.st_blocks) * 512 >= bytes)) {
        return true;
    }
    int rc;
    do {
        rc = fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(bytes));
    } while (rc != 0 && errno == EINTR);
    return rc == 0 || errno == EOPNOTSUPP || errno == ENOSYS;
}

void RemoveObjectName(const std::string& path, const CreatedNameHooks& hooks) {
    if (hooks.removed != nullptr) {
        hooks.removed(path);
    }
    shm_unlink(path.c_str());
}

int CreateOrOpenObject(const std::string& name, size_t minBytes, OpenedObject& opened,
                       const CreatedNameHooks& hooks) {
    opened = OpenedObject{};
    if (name.find(kPosixNameForbidden) != std::string::npos) {
        errno = EINVAL;
        return -1;
    }
    if (name.size() > kMaxPosixNameBytes) {
        errno = ENAMETOOLONG;
        return -1;
    }
    opened.path = "/" + name;
    opened.created = true;
    int fd = shm_open(opened.path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW, kOwnerOnlyMode);
    if (fd < 0 && errno == EEXIST) {
        opened.created = false;
        fd = shm_open(opened.path.c_str(), O_RDWR | O_NOFOLLOW, kOwnerOnlyMode);
    }
    if (fd < 0) {
        opened.created = false;
        return -1;
    }
    if (opened.created && hooks.created != nullptr) {
        hooks.created(opened.path);
    }
    struct stat st {};
    bool usable = fstat(fd, &st) == 0;
    if (usable && !opened.created) {
        opened.refusal = RefusalReason(st);
        if (!opened.refusal.empty()) {
            errno = EPERM;
            usable = false;
        }
    }
    usable = usable &&
             (static_cast<uint64_t>(st.st_size) >= minBytes ||
              ftruncate(fd, static_cast<off_t>(minBytes)) == 0) &&
             ReservePages(fd, minBytes);
    if (!usable) {
        CloseKeepingErrno(fd);
        if (opened.created) {
            const int saved = errno;
            RemoveObjectName(opened.path, hooks);
            errno = saved;
            opened.created = false;  // gone again: nobody may unlink a later owner's object
        }
        return -1;
    }
    return fd;
}

}  // namespace conproxy_protocol

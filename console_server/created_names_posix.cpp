#include "created_names_posix.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstring>

#include "conproxy_protocol.h"
#include "rendezvous.h"
#include "startup.h"

namespace conproxy {

namespace {

// A fixed table of C strings: the region and the two events, with room to spare.
constexpr int kMaxCreatedNames = 8;
char createdNames[kMaxCreatedNames][conproxy_protocol::kMaxPosixNameBytes + 2];
volatile sig_atomic_t createdInUse[kMaxCreatedNames];

void Remember(const std::string& path) {
    for (int i = 0; i < kMaxCreatedNames; ++i) {
        if (!createdInUse[i]) {
            std::memcpy(createdNames[i], path.c_str(), path.size() + 1);
            createdInUse[i] = 1;
            return;
        }
    }
}

void Forget(const std::string& path) {
    for (int i = 0; i < kMaxCreatedNames; ++i) {
        if (createdInUse[i] && path == createdNames[i]) {
            createdInUse[i] = 0;
        }
    }
}

const conproxy_protocol::CreatedNameHooks kHooks{Remember, Forget};

// The names we only opened (the client made them), with the object each named then: once the
// client that started us is gone, nobody else is left to remove them.
constexpr char kShmDirectory[] = "/dev/shm";
struct ServedName {
    char path[conproxy_protocol::kMaxPosixNameBytes + 2];
    dev_t device;
    ino_t inode;
};
ServedName servedNames[kMaxCreatedNames];
volatile sig_atomic_t servedInUse[kMaxCreatedNames];

void RememberServed(const std::string& path, int fd) {
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        return;
    }
    for (int i = 0; i < kMaxCreatedNames; ++i) {
        if (!servedInUse[i]) {
            std::memcpy(servedNames[i].path, path.c_str(), path.size() + 1);
            servedNames[i].device = st.st_dev;
            servedNames[i].inode = st.st_ino;
            servedInUse[i] = 1;
            return;
        }
    }
}

void ForgetServed(const std::string& path) {
    for (int i = 0; i < kMaxCreatedNames; ++i) {
        if (servedInUse[i] && path == servedNames[i].path) {
            servedInUse[i] = 0;
        }
    }
}

// Only a name that still names the object we served: one made anew meanwhile is somebody
// else's. From a signal handler: no allocation.
void RemoveLostClientNames() {
    char where[sizeof kShmDirectory + sizeof servedNames[0].path];
    for (int i = 0; i < kMaxCreatedNames; ++i) {
        if (!servedInUse[i]) {
            continue;
        }
        std::memcpy(where, kShmDirectory, sizeof kShmDirectory - 1);
        std::memcpy(where + sizeof kShmDirectory - 1, servedNames[i].path,
                    std::strlen(servedNames[i].path) + 1);
        struct stat st {};
        if (stat(where, &st) == 0 && st.st_dev == servedNames[i].device &&
            st.st_ino == servedNames[i].inode) {
            shm_unlink(servedNames[i].path);
        }
        servedInUse[i] = 0;
    }
}

}  // namespace

const conproxy_protocol::CreatedNameHooks& CreatedNames() {
    return kHooks;
}

int OpenObject(const std::string& name, size_t minBytes, std::string& path, bool& created,
               std::string& refusal) {
    conproxy_protocol::OpenedObject opened;
    const int fd = conproxy_protocol::CreateOrOpenObject(name, minBytes, opened, kHooks);
    path = opened.path;
    created = opened.created;
    refusal = opened.refusal;
    if (fd >= 0 && !created) {
        RememberServed(path, fd);
    }
    return fd;
}

void CloseObject(intptr_t fd, intptr_t watch, const std::string& path, bool created) {
    if (fd >= 0) {
        close(static_cast<int>(fd));
    }
    if (watch >= 0) {
        close(static_cast<int>(watch));
    }
    if (created) {
        conproxy_protocol::RemoveObjectName(path, kHooks);
    } else {
        ForgetServed(path);
    }
}

void RemoveCreatedNames() {
    for (int i = 0; i < kMaxCreatedNames; ++i) {
        if (createdInUse[i]) {
            shm_unlink(createdNames[i]);
            createdInUse[i] = 0;
        }
    }
    if (StartingClientGone()) {
        RemoveLostClientNames();
    }
}

}  // namespace conproxy

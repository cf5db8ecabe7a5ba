#include "created_names_posix.h"

#include <sys/mman.h>
#include <unistd.h>

#include <csignal>
#include <cstring>

#include "conproxy_protocol.h"
#include "rendezvous.h"

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
    }
}

void RemoveCreatedNames() {
    for (int i = 0; i < kMaxCreatedNames; ++i) {
        if (createdInUse[i]) {
            shm_unlink(createdNames[i]);
            createdInUse[i] = 0;
        }
    }
}

}  // namespace conproxy

// What both ends do to a POSIX named object, the stand-in for a Windows file mapping or event:
// a shared-memory object "/" + name with mode 0600, created or else opened, accepted only when it
// is safely ours, grown to its size and its pages reserved. Failures come back as -1 or false
// with errno set, for each end to report in its own words.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <string>

namespace conproxy_protocol {

// Why an object someone else made first is not ours to use: not a shared-memory object, another
// user's, or open to other users (its maker could read the keys, write to the terminal through
// the server, or end it). Empty when it is acceptable.
std::string RefusalReason(const struct stat& st);

// Allocates the pages behind the first bytes of the object now, so that a full /dev/shm is an
// error here instead of SIGBUS at the first touch. True when they are there (or the file
// system cannot reserve: nothing to gain then); false with errno.
bool ReservePages(int fd, size_t bytes);

// Told of each name this process creates and of each it removes again, for an end that keeps
// its own list (the server removes its names from a signal handler). Either may be null.
struct CreatedNameHooks {
    void (*created)(const std::string& path);
    void (*removed)(const std::string& path);
};

// The result of CreateOrOpenObject beside its descriptor.
struct OpenedObject {
    std::string path;      // "/" + name
    bool created = false;  // this process made it (and removes it at its end)
    std::string refusal;   // RefusalReason of an existing object that was refused
};

// Creates "/" + name (O_EXCL, 0600, O_NOFOLLOW) or opens the existing object, refuses one that
// is not safely ours (EPERM, the reason in opened.refusal), grows it to at least minBytes and
// reserves those pages. Returns the descriptor, or -1 with errno: EINVAL for a name holding
// kPosixNameForbidden, ENAMETOOLONG for one longer than kMaxPosixNameBytes. An object created
// here and then failed is removed again before the call returns.
int CreateOrOpenObject(const std::string& name, size_t minBytes, OpenedObject& opened,
                       const CreatedNameHooks& hooks = CreatedNameHooks{nullptr, nullptr});

// Removes a created name (shm_unlink) and tells the hook.
void RemoveObjectName(const std::string& path,
                      const CreatedNameHooks& hooks = CreatedNameHooks{nullptr, nullptr});

}  // namespace conproxy_protocol

// The named objects the server shares with its client: the request region and the two events.
// One file per platform implements them (Windows file mappings and events; POSIX shared-memory
// objects with a futex word as the event). Each call reports failure as a system error code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "deadline.h"
#include "system_error.h"

namespace conproxy {

// The request region as the handlers see it: the shared bytes a request stands in. The handlers
// ask Size() once per request and touch the bytes only through Copy(), into and out of their own
// buffers: a client may cut the region at any moment (POSIX), and then a copy fails instead of
// the server. NamedRegion is the one the server serves; tests and the fuzzer put plain bytes
// behind it.
class RequestRegion {
  public:
    virtual ~RequestRegion() = default;
    virtual unsigned char* Data() const = 0;
    virtual size_t Size() const = 0;  // the bytes behind Data() that exist now
    // memcpy where one end lies in Data(); false when the region was cut under the copy.
    virtual bool Copy(void* to, const void* from, size_t bytes) const {
        std::memcpy(to, from, bytes);
        return true;
    }
};

// The request region as a named object: created, or opened when the client made it first. An object
// that already exists is accepted only when it is our own and closed to everyone else
// (POSIX: owned by the effective user, no group or other bits; Windows: kRegionBytes committed);
// otherwise CreateOrOpen fails and Refusal() says why.
class NamedRegion : public RequestRegion {
  public:
    NamedRegion() = default;
    ~NamedRegion();
    NamedRegion(const NamedRegion&) = delete;
    NamedRegion& operator=(const NamedRegion&) = delete;

    // Creates or opens the region with the full name and maps kRegionBytes of it.
    SystemError CreateOrOpen(const std::string& name);

    unsigned char* Data() const override { return data_; }
    // The bytes that really exist behind Data(): at most kRegionBytes, fewer when the
    // client shrank the object (POSIX). Nothing beyond them may be touched. Where the object can
    // shrink under the mapping (POSIX) the answer follows every resize made before the call, so
    // ask before each request; it costs a system call only after a resize.
    size_t Size() const override;
    bool Created() const { return created_; }
    // Why an existing object was refused; empty when it was not.
    const std::string& Refusal() const { return refusal_; }
    // True when the process parentPid holds this very object open (POSIX: one of its descriptors
    // names the same object); always false on Windows.
    bool HeldBy(long parentPid) const;
#ifndef _WIN32
    // Guarded against the client's cut of the region (region_guard_posix.h).
    bool Copy(void* to, const void* from, size_t bytes) const override;
#endif

  private:
    std::string refusal_;
    unsigned char* data_ = nullptr;
    size_t size_ = 0;
    bool created_ = false;
    intptr_t native_ = -1;  // descriptor or handle
    std::string name_;
    // POSIX: a watch that signals each resize of the object, and the size measured after the
    // last resize seen; without a watch every call measures.
    intptr_t resizeWatch_ = -1;
    mutable long resizesSeen_ = -1;
    mutable size_t measured_ = 0;
};

enum class EventWait { kSet, kTimedOut, kFailed };

// A named manual-reset event, created non-signalled or opened as the client left it. On POSIX a
// client may cut the object below its word; every call then fails (Intact() false) instead of
// touching a page that is gone.
class NamedEvent {
  public:
    NamedEvent() = default;
    ~NamedEvent();
    NamedEvent(const NamedEvent&) = delete;
    NamedEvent& operator=(const NamedEvent&) = delete;

    SystemError CreateOrOpen(const std::string& name);

    // As SetEvent, ResetEvent and WaitForSingleObject(INFINITE): false on failure, with the
    // reason in LastSystemError().
    bool Set();
    bool Reset();
    bool Wait();
    // The same with a time limit (kWaitForever: none).
    EventWait Wait(int timeoutMs);
    bool Created() const { return created_; }
    const std::string& Refusal() const { return refusal_; }
    // False once the object no longer holds the word (POSIX: a client truncated it).
    bool Intact() const;

  private:
    std::string refusal_;
    void* word_ = nullptr;  // POSIX: the mapped 32-bit state word
    bool created_ = false;
    intptr_t native_ = -1;
    std::string name_;
    intptr_t resizeWatch_ = -1;  // POSIX: as the region's
    mutable long resizesSeen_ = -1;
    mutable bool intact_ = true;
};

// Removes the names this process created, for a signal handler on the way out: async-signal-safe
// on POSIX; nothing to do on Windows, where the objects go with their last handle. On POSIX, when
// the client that started us is gone (startup.h), also the names it made that still name the
// objects we served (same device and inode): nobody else is left to remove them.
void RemoveCreatedNames();

}  // namespace conproxy

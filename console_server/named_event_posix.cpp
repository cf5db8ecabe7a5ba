// A named event on POSIX: the protocol's event word in a shared-memory object, checked before
// and after every look at it, since a client may cut the object below the word.
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "bus_guard_posix.h"
#include "console_records.h"
#include "created_names_posix.h"
#include "deadline.h"
#include "event_word_posix.h"
#include "named_object_posix.h"
#include "rendezvous.h"
#include "resize_watch_posix.h"

namespace conproxy {

namespace {

uint32_t* Word(void* mapped) {
    return static_cast<uint32_t*>(mapped);
}

}  // namespace

NamedEvent::~NamedEvent() {
    if (word_ != nullptr) {
        UnguardPage(word_);
        munmap(word_, kEventBytes);
    }
    CloseObject(native_, resizeWatch_, name_, created_);
}

SystemError NamedEvent::CreateOrOpen(const std::string& name) {
    const int fd = OpenObject(name, kEventBytes, name_, created_, refusal_);
    if (fd < 0) {
        return LastSystemError();
    }
    native_ = fd;
    void* word = mmap(nullptr, kEventBytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (word == MAP_FAILED) {
        return LastSystemError();
    }
    word_ = word;
    GuardPage(word);
    resizeWatch_ = WatchResizes(fd);
    return 0;
}

// Measured as the region is: only after a resize was signalled, or every time without a watch.
// A cut event stays cut: its state is lost, so the turn-taking cannot go on through it.
bool NamedEvent::Intact() const {
    if (word_ == nullptr || !intact_) {
        return false;
    }
    // A page replaced after a fault is counted as a resize too, so one load is the whole look
    // while nothing happens.
    if (!ResizedSince(resizeWatch_, resizesSeen_)) {
        return true;
    }
    // The size cannot tell: the object may have grown back since the page was replaced.
    if (PageReplaced(word_)) {
        intact_ = false;
        return false;
    }
    struct stat st {};
    if (fstat(static_cast<int>(native_), &st) != 0 ||
        static_cast<uint64_t>(st.st_size) < kEventBytes ||
        !conproxy_protocol::ReservePages(static_cast<int>(native_), kEventBytes)) {
        intact_ = false;
    }
    return intact_;
}

bool NamedEvent::Set() {
    if (!Intact()) {
        errno = word_ == nullptr ? EBADF : EFAULT;
        return false;
    }
    // Measured again after the store: a cut that came first sent the store to a page nobody
    // shares (see bus_guard_posix.h).
    if (!conproxy_protocol::SetEventWord(Word(word_))) {
        return false;
    }
    if (!Intact()) {
        errno = EFAULT;
        return false;
    }
    return true;
}

bool NamedEvent::Reset() {
    if (!Intact()) {
        errno = word_ == nullptr ? EBADF : EFAULT;
        return false;
    }
    conproxy_protocol::ResetEventWord(Word(word_));
    if (!Intact()) {
        errno = EFAULT;
        return false;
    }
    return true;
}

bool NamedEvent::Wait() {
    return Wait(kWaitForever) == EventWait::kSet;
}

EventWait NamedEvent::Wait(int timeoutMs) {
    const Deadline deadline(timeoutMs);
    for (;;) {
        // Checked before every look at the word: a resize during the wait interrupts it.
        if (!Intact()) {
            errno = word_ == nullptr ? EBADF : EFAULT;
            return EventWait::kFailed;
        }
        const bool set = conproxy_protocol::EventWordIsSet(Word(word_));
        // Again after the look: a cut just before it answered from a page nobody shares.
        if (!Intact()) {
            errno = EFAULT;
            return EventWait::kFailed;
        }
        if (set) {
            return EventWait::kSet;
        }
        if (deadline.Expired()) {
            return EventWait::kTimedOut;
        }
        const auto waited = conproxy_protocol::WaitOnEventWord(Word(word_), deadline.RemainingMs());
        if (waited == conproxy_protocol::WordWait::kFailed) {
            return EventWait::kFailed;
        }
    }
}

}  // namespace conproxy

// POSIX stand-in for Windows named objects: each name is a shared-memory object "/name" made
// with mode 0600. The region is its first 8192 bytes; an event is the 32-bit word at offset 0
// (0 = not signalled, 1 = signalled), waited on with a process-shared futex.
#include <dirent.h>
#include <fcntl.h>
#include <linux/futex.h>
#include <sys/inotify.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "console_records.h"
#include "deadline.h"
#include "rendezvous.h"

namespace conproxy {

namespace {

constexpr size_t kMaxNameBytes = 250;
constexpr size_t kEventBytes = sizeof(uint32_t);
constexpr mode_t kOwnerOnlyMode = 0600;

// The names this process created, kept where a signal handler can reach them without
// allocating: a fixed table of C strings.
constexpr int kMaxCreatedNames = 8;
char createdNames[kMaxCreatedNames][kMaxNameBytes + 2];
volatile sig_atomic_t createdInUse[kMaxCreatedNames];

void RememberCreated(const std::string& path) {
    for (int i = 0; i < kMaxCreatedNames; ++i) {
        if (!createdInUse[i]) {
            std::memcpy(createdNames[i], path.c_str(), path.size() + 1);
            createdInUse[i] = 1;
            return;
        }
    }
}

void UnlinkCreated(const std::string& path) {
    for (int i = 0; i < kMaxCreatedNames; ++i) {
        if (createdInUse[i] && path == createdNames[i]) {
            createdInUse[i] = 0;
        }
    }
    shm_unlink(path.c_str());
}

// An object someone else made is ours to use only when it is owned by our effective user and
// nobody else may read or write it: otherwise its maker could read the keys we deliver, write to
// our terminal through us, or end us. Empty when acceptable, else why not.
std::string Unsafe(const struct stat& st) {
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

// Allocates the pages behind the first bytes of the object now. tmpfs allocates a page at its
// first touch otherwise, and a full /dev/shm turns that touch into SIGBUS; a failure here is an
// error we can report. A file system that cannot reserve (EOPNOTSUPP) is left as it is. Pages
// already there are not asked for again: each fallocate is a modification the resize watch
// would report, and the next measure would allocate again.
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

// Creates the object or opens the existing one, then grows it to at least minBytes. Returns
// the descriptor or -1 with errno set (EPERM and the reason in refusal for an object that is
// not safely ours); created tells which of the two happened.
int CreateOrOpenObject(const std::string& name, size_t minBytes, std::string& path, bool& created,
                       std::string& refusal) {
    if (name.find('/') != std::string::npos) {
        errno = EINVAL;
        return -1;
    }
    if (name.size() > kMaxNameBytes) {
        errno = ENAMETOOLONG;
        return -1;
    }
    path = "/" + name;
    created = true;
    int fd = shm_open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW, kOwnerOnlyMode);
    if (fd < 0 && errno == EEXIST) {
        created = false;
        fd = shm_open(path.c_str(), O_RDWR | O_NOFOLLOW, kOwnerOnlyMode);
    }
    if (fd < 0) {
        return -1;
    }
    if (created) {
        RememberCreated(path);
    }
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        const int saved = errno;
        close(fd);
        errno = saved;
        return -1;
    }
    if (!created) {
        refusal = Unsafe(st);
        if (!refusal.empty()) {
            close(fd);
            errno = EPERM;
            return -1;
        }
    }
    if ((static_cast<uint64_t>(st.st_size) < minBytes &&
         ftruncate(fd, static_cast<off_t>(minBytes)) != 0) ||
        !ReservePages(fd, minBytes)) {
        const int saved = errno;
        close(fd);
        if (created) {
            UnlinkCreated(path);
            created = false;  // gone again: the destructor must not unlink a later owner's
        }
        errno = saved;
        return -1;
    }
    return fd;
}

// Resizes of a watched region, counted by the SIGIO handler: the kernel queues the signal inside
// the client's ftruncate, so it has been handled before the server returns from the wait for the
// request that follows. Size() then measures only when this count has moved, instead of an
// fstat in every turn (a system call costs as much as a tenth of a turn).
volatile sig_atomic_t resizeSignals = 0;

void CountResize(int) {
    resizeSignals = resizeSignals + 1;
}

// An inotify descriptor that raises SIGIO when the object behind fd changes size (IN_MODIFY
// comes with every ftruncate; writes through a mapping raise nothing). -1 when any step is not
// possible here: the caller then measures every time.
int WatchResizes(int fd) {
    sigset_t blocked;
    struct sigaction action {};
    action.sa_handler = CountResize;
    action.sa_flags = SA_RESTART;  // a console read or the request wait just goes on
    sigemptyset(&action.sa_mask);
    if (sigprocmask(SIG_BLOCK, nullptr, &blocked) != 0 || sigismember(&blocked, SIGIO) ||
        sigaction(SIGIO, &action, nullptr) != 0) {
        return -1;
    }
    const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (watch < 0) {
        return -1;
    }
    // Through the descriptor's own link: the object's directory is the C library's business.
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    const int flags = fcntl(watch, F_GETFL);
    if (inotify_add_watch(watch, path.c_str(), IN_MODIFY) < 0 ||
        fcntl(watch, F_SETOWN, getpid()) != 0 || flags < 0 ||
        fcntl(watch, F_SETFL, flags | O_ASYNC) != 0) {
        close(watch);
        return -1;
    }
    return watch;
}

// Reads the queued events away: inotify folds an event into an unread one like it without a
// new signal, so the next resize must find the queue empty.
void DrainEvents(int watch) {
    char events[4096];
    while (read(watch, events, sizeof events) > 0) {
    }
}

// The event pages, which a client may cut under us: a touch of one after its object was
// truncated raises SIGBUS however soon the resize watch reports it. The handler puts a zero page
// in the cut page's place, so the touch completes, and counts a resize, so the next measure
// finds the event cut and the server ends as for any cut event (34, with its line). A cut event
// stays cut, so the private page is never taken for the shared one again.
constexpr int kMaxGuardedPages = 4;
volatile uintptr_t guardedPages[kMaxGuardedPages];
uintptr_t pageBytes = 4096;
struct sigaction earlierBusAction;
bool busGuardInstalled = false;

void OnBusError(int signalNumber, siginfo_t* info, void* context) {
    if (info != nullptr && info->si_code == BUS_ADRERR) {
        const uintptr_t page = reinterpret_cast<uintptr_t>(info->si_addr) & ~(pageBytes - 1);
        for (const volatile uintptr_t& guarded : guardedPages) {
            if (guarded != 0 && guarded == page &&
                mmap(reinterpret_cast<void*>(page), pageBytes, PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) != MAP_FAILED) {
                resizeSignals = resizeSignals + 1;
                return;
            }
        }
    }
    // Not one of our pages: as before we came.
    if ((earlierBusAction.sa_flags & SA_SIGINFO) != 0) {
        earlierBusAction.sa_sigaction(signalNumber, info, context);
    } else if (earlierBusAction.sa_handler != SIG_DFL && earlierBusAction.sa_handler != SIG_IGN) {
        earlierBusAction.sa_handler(signalNumber);
    } else {
        sigaction(SIGBUS, &earlierBusAction, nullptr);
        raise(SIGBUS);  // delivered on return; a fault also strikes again then
    }
}

void GuardPage(void* mapped) {
    if (!busGuardInstalled) {
        pageBytes = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
        struct sigaction action {};
        action.sa_sigaction = OnBusError;
        action.sa_flags = SA_SIGINFO | SA_RESTART;
        sigemptyset(&action.sa_mask);
        busGuardInstalled = sigaction(SIGBUS, &action, &earlierBusAction) == 0;
    }
    for (volatile uintptr_t& guarded : guardedPages) {
        if (guarded == 0) {
            guarded = reinterpret_cast<uintptr_t>(mapped);
            return;
        }
    }
}

void UnguardPage(void* mapped) {
    for (volatile uintptr_t& guarded : guardedPages) {
        if (guarded == reinterpret_cast<uintptr_t>(mapped)) {
            guarded = 0;
        }
    }
}

// Whether the object may have changed size since the count in seen: always without a watch.
// The count is taken before the queue is drained and the size after: a resize in between is
// measured now and once more at the next call, never missed.
bool ResizedSince(intptr_t watch, long& seen) {
    if (watch < 0) {
        return true;
    }
    const long resizes = resizeSignals;
    if (resizes == seen) {
        return false;
    }
    seen = resizes;
    DrainEvents(static_cast<int>(watch));
    return true;
}

long Futex(void* word, int op, uint32_t value) {
    return syscall(SYS_futex, word, op, value, nullptr, nullptr, 0);
}

}  // namespace

void RemoveCreatedNames() {
    for (int i = 0; i < kMaxCreatedNames; ++i) {
        if (createdInUse[i]) {
            shm_unlink(createdNames[i]);
            createdInUse[i] = 0;
        }
    }
}

RequestRegion::~RequestRegion() {
    if (data_ != nullptr) {
        munmap(data_, kRequestRegionBytes);
    }
    if (native_ >= 0) {
        close(static_cast<int>(native_));
    }
    if (resizeWatch_ >= 0) {
        close(static_cast<int>(resizeWatch_));
    }
    if (created_) {
        UnlinkCreated(name_);
    }
}

SystemError RequestRegion::CreateOrOpen(const std::string& name) {
    int fd = CreateOrOpenObject(name, kRequestRegionBytes, name_, created_, refusal_);
    if (fd < 0) {
        return LastSystemError();
    }
    native_ = fd;
    // The object has just been grown to at least the mapping's size; Size() measures it again
    // before each request, since it may shrink under us.
    void* data = mmap(nullptr, kRequestRegionBytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (data == MAP_FAILED) {
        return LastSystemError();
    }
    data_ = static_cast<unsigned char*>(data);
    size_ = kRequestRegionBytes;
    resizeWatch_ = WatchResizes(fd);
    return 0;
}

size_t RequestRegion::Size() const {
    // A client may shrink the object after we mapped it; touching a page past its new end
    // would kill the server with SIGBUS, so serve only what is there now.
    if (!ResizedSince(resizeWatch_, resizesSeen_)) {
        return measured_;
    }
    struct stat st {};
    if (native_ < 0 || fstat(static_cast<int>(native_), &st) != 0) {
        resizesSeen_ = -1;  // measured again next time
        return 0;
    }
    const auto now = static_cast<size_t>(st.st_size < 0 ? 0 : st.st_size);
    measured_ = now < size_ ? now : size_;
    // A region cut and grown again has lost its pages; without them we serve nothing rather
    // than die at the first store.
    if (!ReservePages(static_cast<int>(native_), measured_)) {
        measured_ = 0;
    }
    return measured_;
}

bool RequestRegion::HeldBy(long parentPid) const {
    struct stat own {};
    if (native_ < 0 || fstat(static_cast<int>(native_), &own) != 0 || parentPid <= 1) {
        return false;
    }
    const std::string process = "/proc/" + std::to_string(parentPid);
    // Open through a descriptor (the client library keeps one) ...
    if (DIR* descriptors = opendir((process + "/fd").c_str())) {
        bool held = false;
        while (const dirent* entry = readdir(descriptors)) {
            struct stat theirs {};
            if (entry->d_name[0] != '.' &&
                stat((process + "/fd/" + entry->d_name).c_str(), &theirs) == 0 &&
                theirs.st_dev == own.st_dev && theirs.st_ino == own.st_ino) {
                held = true;
                break;
            }
        }
        closedir(descriptors);
        if (held) {
            return true;
        }
    }
    // ... or only mapped, its descriptor closed: "start-end perms offset major:minor inode".
    FILE* maps = std::fopen((process + "/maps").c_str(), "r");
    if (maps == nullptr) {
        return false;
    }
    bool held = false;
    char line[512];
    while (!held && std::fgets(line, sizeof line, maps) != nullptr) {
        unsigned major = 0;
        unsigned minor = 0;
        unsigned long inode = 0;
        held = std::sscanf(line, "%*s %*s %*s %x:%x %lu", &major, &minor, &inode) == 3 &&
               inode == own.st_ino && makedev(major, minor) == own.st_dev;
    }
    std::fclose(maps);
    return held;
}

NamedEvent::~NamedEvent() {
    if (word_ != nullptr) {
        UnguardPage(word_);
        munmap(word_, kEventBytes);
    }
    if (native_ >= 0) {
        close(static_cast<int>(native_));
    }
    if (resizeWatch_ >= 0) {
        close(static_cast<int>(resizeWatch_));
    }
    if (created_) {
        UnlinkCreated(name_);
    }
}

SystemError NamedEvent::CreateOrOpen(const std::string& name) {
    int fd = CreateOrOpenObject(name, kEventBytes, name_, created_, refusal_);
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
    if (!ResizedSince(resizeWatch_, resizesSeen_)) {
        return true;
    }
    struct stat st {};
    if (fstat(static_cast<int>(native_), &st) != 0 ||
        static_cast<uint64_t>(st.st_size) < kEventBytes ||
        !ReservePages(static_cast<int>(native_), kEventBytes)) {
        intact_ = false;
    }
    return intact_;
}

bool NamedEvent::Set() {
    if (!Intact()) {
        errno = word_ == nullptr ? EBADF : EFAULT;
        return false;
    }
    auto* word = static_cast<uint32_t*>(word_);
    __atomic_store_n(word, 1u, __ATOMIC_RELEASE);
    // Shared futex: the waiter is another process. Measured again after the store: a cut that
    // came first sent the store to a page nobody shares (see OnBusError).
    if (Futex(word, FUTEX_WAKE, INT_MAX) < 0) {
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
    __atomic_store_n(static_cast<uint32_t*>(word_), 0u, __ATOMIC_RELEASE);
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
    const Deadline deadline(timeoutMs < 0 ? 0 : timeoutMs);
    auto* word = static_cast<uint32_t*>(word_);
    for (;;) {
        // Checked before every look at the word: a resize during the wait interrupts it.
        if (!Intact()) {
            errno = word_ == nullptr ? EBADF : EFAULT;
            return EventWait::kFailed;
        }
        const bool set = __atomic_load_n(word, __ATOMIC_ACQUIRE) != 0;
        // Again after the look: a cut just before it answered from a page nobody shares.
        if (!Intact()) {
            errno = EFAULT;
            return EventWait::kFailed;
        }
        if (set) {
            return EventWait::kSet;
        }
        long rc;
        if (timeoutMs < 0) {
            rc = Futex(word, FUTEX_WAIT, 0);
        } else {
            const int leftMs = deadline.RemainingMs();
            if (leftMs <= 0) {
                return EventWait::kTimedOut;
            }
            const struct timespec limit {
                leftMs / 1000, static_cast<long>(leftMs % 1000) * 1000000L
            };
            rc = syscall(SYS_futex, word, FUTEX_WAIT, 0u, &limit, nullptr, 0);
        }
        if (rc != 0 && errno != EINTR && errno != EAGAIN && errno != ETIMEDOUT) {
            return EventWait::kFailed;
        }
    }
}

}  // namespace conproxy

#include "bus_guard_posix.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

#include "resize_watch_posix.h"

namespace conproxy {

namespace {

constexpr int kMaxGuardedPages = 4;
volatile uintptr_t guardedPages[kMaxGuardedPages];
// Set for a guarded page once its zero page stands in for the shared one; anyReplaced keeps the
// look of every turn to one load.
volatile sig_atomic_t replacedPages[kMaxGuardedPages];
volatile sig_atomic_t anyReplaced = 0;
volatile uintptr_t pageBytes = 0;

}  // namespace

void GuardPage(void* mapped) {
    if (pageBytes == 0) {
        pageBytes = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    }
    for (int i = 0; i < kMaxGuardedPages; ++i) {
        if (guardedPages[i] == 0) {
            replacedPages[i] = 0;
            guardedPages[i] = reinterpret_cast<uintptr_t>(mapped);
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

bool PageReplaced(const void* mapped) {
    if (!anyReplaced) {
        return false;
    }
    for (int i = 0; i < kMaxGuardedPages; ++i) {
        if (replacedPages[i] && guardedPages[i] == reinterpret_cast<uintptr_t>(mapped)) {
            return true;
        }
    }
    return false;
}

bool TakeBusFault(const siginfo_t* info) {
    if (info == nullptr || info->si_code != BUS_ADRERR || pageBytes == 0) {
        return false;
    }
    const uintptr_t page = reinterpret_cast<uintptr_t>(info->si_addr) & ~(pageBytes - 1);
    for (int i = 0; i < kMaxGuardedPages; ++i) {
        if (guardedPages[i] != 0 && guardedPages[i] == page &&
            mmap(reinterpret_cast<void*>(page), pageBytes, PROT_READ | PROT_WRITE,
                 MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) != MAP_FAILED) {
            replacedPages[i] = 1;
            anyReplaced = 1;
            CountResize();
            return true;
        }
    }
    return false;
}

}  // namespace conproxy

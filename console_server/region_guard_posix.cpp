#include "region_guard_posix.h"

#include <setjmp.h>
#include <ucontext.h>

#include <cstdint>
#include <cstring>

namespace conproxy {

namespace {

volatile uintptr_t regionStart = 0;
volatile uintptr_t regionEnd = 0;
volatile sig_atomic_t copying = 0;
// The signal mask is not saved: that would be a system call in every copy. The handler puts
// back the mask of the moment of the fault instead.
sigjmp_buf landing;

}  // namespace

void GuardRegion(const void* start, size_t bytes) {
    regionStart = reinterpret_cast<uintptr_t>(start);
    regionEnd = regionStart + bytes;
}

bool GuardedCopy(void* to, const void* from, size_t bytes) {
    if (sigsetjmp(landing, 0) != 0) {
        copying = 0;
        return false;
    }
    copying = 1;
    std::memcpy(to, from, bytes);
    copying = 0;
    return true;
}

bool TakeRegionFault(const siginfo_t* info, void* context) {
    if (!copying || info == nullptr || context == nullptr) {
        return false;
    }
    const auto address = reinterpret_cast<uintptr_t>(info->si_addr);
    if (address < regionStart || address >= regionEnd) {
        return false;
    }
    // SIGBUS is blocked while its handler runs; leaving by a jump would keep it blocked, and the
    // next fault would end the process whatever the table says.
    sigprocmask(SIG_SETMASK, &static_cast<const ucontext_t*>(context)->uc_sigmask, nullptr);
    siglongjmp(landing, 1);
}

}  // namespace conproxy

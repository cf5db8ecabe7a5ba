#include "event_word_posix.h"

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <ctime>

namespace conproxy_protocol {

// The shared futex operations, not FUTEX_PRIVATE_FLAG: the word lives in another process too.
bool SetEventWord(uint32_t* word) {
    __atomic_store_n(word, 1u, __ATOMIC_RELEASE);
    return syscall(SYS_futex, word, FUTEX_WAKE, INT_MAX, nullptr, nullptr, 0) >= 0;
}

void ResetEventWord(uint32_t* word) {
    __atomic_store_n(word, 0u, __ATOMIC_RELEASE);
}

bool EventWordIsSet(const uint32_t* word) {
    return __atomic_load_n(word, __ATOMIC_ACQUIRE) != 0;
}

WordWait WaitOnEventWord(uint32_t* word, int timeoutMs) {
    struct timespec limit {
        timeoutMs / 1000, static_cast<long>(timeoutMs % 1000) * 1000000L
    };
    const long rc =
        syscall(SYS_futex, word, FUTEX_WAIT, 0u, timeoutMs < 0 ? nullptr : &limit, nullptr, 0);
    if (rc == 0 || errno == EINTR || errno == EAGAIN) {
        return WordWait::kWoken;
    }
    return errno == ETIMEDOUT ? WordWait::kTimedOut : WordWait::kFailed;
}

}  // namespace conproxy_protocol

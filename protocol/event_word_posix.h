// A POSIX event: the 32-bit word at the start of its object, 0 not signalled and 1 signalled,
// waited on with a process-shared futex (the waiter is the other process). These are the word's
// operations both ends use; what each does around them (the server's check that the object was
// not cut, the client's look at its server's life) stays with that end.
#pragma once

#include <cstdint>

namespace conproxy_protocol {

// Stores 1 (release) and wakes every waiter. False with errno when the wake fails.
bool SetEventWord(uint32_t* word);
// Stores 0 (release).
void ResetEventWord(uint32_t* word);
// Reads the word (acquire).
bool EventWordIsSet(const uint32_t* word);

enum class WordWait {
    kWoken,     // woken, interrupted, or the word was not 0 any more: look at it again
    kTimedOut,  // timeoutMs passed
    kFailed,    // errno says why
};
// Sleeps while the word reads 0, at most timeoutMs (negative: without a limit).
WordWait WaitOnEventWord(uint32_t* word, int timeoutMs);

}  // namespace conproxy_protocol

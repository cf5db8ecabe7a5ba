// The event pages, which a client may cut under us: a touch of one after its object was
// truncated raises SIGBUS however soon the resize watch reports it. The guard puts a zero page
// in the cut page's place, so the touch completes, and counts a resize, so the next measure
// finds the event cut and the server ends as for any cut event (34, with its line). A cut event
// stays cut, so the private page is never taken for the shared one again.
#pragma once

#include <csignal>

namespace conproxy {

void GuardPage(void* mapped);
void UnguardPage(void* mapped);

// For the signal table: true when the fault was a touch of a guarded page, now mended; false
// for any other SIGBUS, which ends the process.
bool TakeBusFault(const siginfo_t* info);

}  // namespace conproxy

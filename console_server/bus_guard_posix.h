// The event pages, which a client may cut under us: a touch of one after its object was
// truncated raises SIGBUS however soon the resize watch reports it. The guard puts a zero page
// in the cut page's place, so the touch completes, and counts a resize, so the next measure
// finds the event cut and the server ends as for any cut event (34, with its line). A page once
// replaced is no longer the shared one even when the object has grown back by the time it is
// measured (a cut to 0 and a grow to 4 at once): the event stays cut from then on, or the server
// would sleep on a word nobody else can wake.
#pragma once

#include <csignal>

namespace conproxy {

void GuardPage(void* mapped);
void UnguardPage(void* mapped);
// True once the guard has put its zero page in place of this guarded page.
bool PageReplaced(const void* mapped);

// For the signal table: true when the fault was a touch of a guarded page, now mended; false
// for any other SIGBUS, which ends the process.
bool TakeBusFault(const siginfo_t* info);

}  // namespace conproxy

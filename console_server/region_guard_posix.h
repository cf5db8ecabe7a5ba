// Every touch of the request region, which a client may cut at any moment: between a measure and
// the touch after it, while a command waits for keys or for the terminal. A touch of a page that
// is gone raises SIGBUS; the guarded copy catches it and answers false, and the request ends
// with a clean status instead of the server. Nothing is put in the page's place (unlike the event
// guard), so a region grown again is the shared one at the next request.
#pragma once

#include <csignal>
#include <cstddef>

namespace conproxy {

// The mapping whose faults the copies may catch.
void GuardRegion(const void* start, size_t bytes);

// memcpy, false when a page of the guarded mapping was gone meanwhile (some bytes may have been
// copied). Costs no system call; only a fault costs one.
bool GuardedCopy(void* to, const void* from, size_t bytes);

// For the signal table: leaves a guarded copy that touched a missing page of the region (never
// returns then); false for any other fault.
bool TakeRegionFault(const siginfo_t* info, void* context);

}  // namespace conproxy

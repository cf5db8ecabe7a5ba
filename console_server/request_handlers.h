// Carries out the request that stands at the start of the region on a Console. The request is
// copied out once, every data area is checked against the region's size, and the region is
// touched only through copies that survive its cut, so neither arbitrary contents nor a client
// that cuts the region at any moment can do harm.
#pragma once

#include <cstddef>

#include "console.h"
#include "rendezvous.h"

namespace conproxy {

// Serves the request standing in the region. Returns true when it was ConExit.
bool HandleRequest(const RequestRegion& region, Console& console);
// The same over bytes whose size never changes.
bool HandleRequest(unsigned char* region, size_t size, Console& console);

}  // namespace conproxy

// Carries out the request that stands at the start of the region on a Console. The request is
// copied out once and every data area is checked against the region's real size before any
// byte is touched, so arbitrary region contents can do no harm.
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

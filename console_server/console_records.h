// The records that cross the process boundary are the protocol's, which the client compiles too
// (protocol/conproxy_protocol.h); the server names them without the protocol's namespace.
#pragma once

#include "conproxy_protocol.h"

namespace conproxy {

using namespace conproxy_protocol;

}  // namespace conproxy

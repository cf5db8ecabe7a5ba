// The names this process created, kept where a signal handler can reach them without
// allocating, so that every way out removes them (RemoveCreatedNames in rendezvous.h).
#pragma once

#include "named_object_posix.h"

namespace conproxy {

// Hooks for the protocol's create-or-open: a created name is remembered, a removed one forgotten.
const conproxy_protocol::CreatedNameHooks& CreatedNames();

}  // namespace conproxy

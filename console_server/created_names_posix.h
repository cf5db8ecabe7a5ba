// The names this process created, kept where a signal handler can reach them without
// allocating, so that every way out removes them (RemoveCreatedNames in rendezvous.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "named_object_posix.h"

namespace conproxy {

// Hooks for the protocol's create-or-open: a created name is remembered, a removed one forgotten.
const conproxy_protocol::CreatedNameHooks& CreatedNames();

// The protocol's create-or-open with those hooks, for the region and the events alike: the
// descriptor or -1 with errno; path, created and refusal as the protocol's OpenedObject says.
int OpenObject(const std::string& name, size_t minBytes, std::string& path, bool& created,
               std::string& refusal);
// Closes an object's descriptor and resize watch (-1: none) and removes its name when this
// process created it.
void CloseObject(intptr_t fd, intptr_t watch, const std::string& path, bool created);

}  // namespace conproxy

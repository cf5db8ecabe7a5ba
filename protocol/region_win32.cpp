#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0501
#endif
#include "region_win32.h"

#include <windows.h>

#include "conproxy_protocol.h"

namespace conproxy_protocol {

// Touching a page that is not committed is an access violation: asked before any touch.
std::string RegionViewRefusal(const void* view) {
    MEMORY_BASIC_INFORMATION memory{};
    if (view == nullptr || VirtualQuery(view, &memory, sizeof memory) == 0 ||
        memory.State != MEM_COMMIT || memory.RegionSize < kRegionBytes) {
        return "has fewer than " + std::to_string(kRegionBytes) + " committed bytes";
    }
    return std::string();
}

}  // namespace conproxy_protocol

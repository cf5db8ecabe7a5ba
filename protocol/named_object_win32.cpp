#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0501
#endif
#include "named_object_win32.h"

#include <windows.h>

#include "conproxy_protocol.h"

namespace conproxy_protocol {

bool CreateOrOpenRegion(const std::string& name, OpenedRegion& opened) {
    opened = OpenedRegion{};
    HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE | SEC_COMMIT,
                                        0, kRegionBytes, name.c_str());
    if (mapping == nullptr) {
        return false;
    }
    opened.mapping = mapping;
    opened.created = GetLastError() != ERROR_ALREADY_EXISTS;
    // The whole mapping, whatever its size: a shorter one is then measured, not failed.
    void* view = MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0);
    if (view == nullptr) {
        return false;
    }
    // Touching a page that is not committed is an access violation: asked before any touch.
    MEMORY_BASIC_INFORMATION memory{};
    if (VirtualQuery(view, &memory, sizeof memory) == 0 || memory.State != MEM_COMMIT ||
        memory.RegionSize < kRegionBytes) {
        UnmapViewOfFile(view);
        opened.refusal = "has fewer than " + std::to_string(kRegionBytes) + " committed bytes";
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    opened.view = view;
    return true;
}

void* CreateOrOpenEvent(const std::string& name, bool* created) {
    HANDLE event =
        CreateEventA(nullptr, TRUE /* manual reset */, FALSE /* not signalled */, name.c_str());
    if (event != nullptr && created != nullptr) {
        *created = GetLastError() != ERROR_ALREADY_EXISTS;
    }
    return event;
}

}  // namespace conproxy_protocol

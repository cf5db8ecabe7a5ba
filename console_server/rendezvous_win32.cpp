// The region is a paging-file backed file mapping and the events are manual-reset Windows
// events, both named, so the client process reaches the same objects by name.
#include <windows.h>

#include <cstdio>

#include "console_records.h"
#include "region_win32.h"
#include "rendezvous.h"

namespace conproxy {

namespace {

HANDLE AsHandle(intptr_t native) {
    return reinterpret_cast<HANDLE>(native);
}

}  // namespace

void RemoveCreatedNames() {}

NamedRegion::~NamedRegion() {
    if (data_ != nullptr) {
        UnmapViewOfFile(data_);
    }
    if (native_ != -1) {
        CloseHandle(AsHandle(native_));
    }
}

SystemError NamedRegion::CreateOrOpen(const std::string& name) {
    name_ = name;
    HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE | SEC_COMMIT,
                                        0, kRegionBytes, name.c_str());
    if (mapping == nullptr) {
        return GetLastError();
    }
    created_ = GetLastError() != ERROR_ALREADY_EXISTS;
    native_ = reinterpret_cast<intptr_t>(mapping);
    void* view = MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0);
    if (view == nullptr) {
        return GetLastError();
    }
    data_ = static_cast<unsigned char*>(view);
    // A mapping the client created keeps its size: one that cannot hold the whole region is
    // refused, as the client library refuses it.
    refusal_ = conproxy_protocol::RegionViewRefusal(view);
    if (!refusal_.empty()) {
        return ERROR_ACCESS_DENIED;
    }
    size_ = kRegionBytes;
    return 0;
}

// A file mapping keeps the size it was created with.
size_t NamedRegion::Size() const {
    return size_;
}

// The server waits for its client as a Windows server does: without a time limit, whoever
// started it.
bool NamedRegion::HeldBy(long) const {
    return false;
}

NamedEvent::~NamedEvent() {
    if (native_ != -1) {
        CloseHandle(AsHandle(native_));
    }
}

SystemError NamedEvent::CreateOrOpen(const std::string& name) {
    name_ = name;
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, name.c_str());
    if (event == nullptr) {
        return GetLastError();
    }
    created_ = GetLastError() != ERROR_ALREADY_EXISTS;
    native_ = reinterpret_cast<intptr_t>(event);
    return 0;
}

bool NamedEvent::Set() {
    return native_ != -1 && SetEvent(AsHandle(native_)) != 0;
}

bool NamedEvent::Reset() {
    return native_ != -1 && ResetEvent(AsHandle(native_)) != 0;
}

bool NamedEvent::Wait() {
    return Wait(kWaitForever) == EventWait::kSet;
}

EventWait NamedEvent::Wait(int timeoutMs) {
    if (native_ == -1) {
        return EventWait::kFailed;
    }
    const DWORD limit = timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs);
    switch (WaitForSingleObject(AsHandle(native_), limit)) {
        case WAIT_OBJECT_0:
            return EventWait::kSet;
        case WAIT_TIMEOUT:
            return EventWait::kTimedOut;
        default:
            return EventWait::kFailed;
    }
}

// An event object has no size a client could change.
bool NamedEvent::Intact() const {
    return native_ != -1;
}

}  // namespace conproxy

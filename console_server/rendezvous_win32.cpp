// The region is a paging-file backed file mapping and the events are manual-reset Windows
// events, both named, so the client process reaches the same objects by name.
#include <windows.h>

#include <cstdio>

#include "console_records.h"
#include "named_object_win32.h"
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

// The protocol's create-or-open: a mapping the client made too short is refused, as the client
// library refuses it.
SystemError NamedRegion::CreateOrOpen(const std::string& name) {
    name_ = name;
    conproxy_protocol::OpenedRegion opened;
    const bool usable = conproxy_protocol::CreateOrOpenRegion(name, opened);
    const SystemError error = usable ? 0 : GetLastError();
    if (opened.mapping != nullptr) {
        native_ = reinterpret_cast<intptr_t>(opened.mapping);
    }
    data_ = static_cast<unsigned char*>(opened.view);
    created_ = opened.created;
    refusal_ = opened.refusal;
    if (usable) {
        size_ = kRegionBytes;
    }
    return error;
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
    void* event = conproxy_protocol::CreateOrOpenEvent(name, &created_);
    if (event == nullptr) {
        return GetLastError();
    }
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

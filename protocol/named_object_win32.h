// What both ends do to make or open the Windows named objects: the region a paging-file backed
// mapping of kRegionBytes, mapped whole, and refused when fewer than kRegionBytes of it are
// committed (a mapping keeps the size it was made with: one somebody made smaller, or with
// SEC_RESERVE, can never hold the whole region); an event manual-reset and made not signalled.
// Handles and the view come back as void* (HANDLE, the mapped view), for each end's owner to
// close; a failure leaves its reason in GetLastError().
#pragma once

#include <string>

namespace conproxy_protocol {

struct OpenedRegion {
    void* mapping = nullptr;  // the mapping's handle; null when it could not be had
    void* view = nullptr;     // the whole mapping, mapped; null on any failure
    bool created = false;     // this process made it
    std::string refusal;      // why an existing mapping was refused; empty otherwise
};

// True with the view mapped; false with GetLastError() set (ERROR_ACCESS_DENIED and the reason
// in opened.refusal for a mapping too short). The handle in opened.mapping is the caller's to
// close either way.
bool CreateOrOpenRegion(const std::string& name, OpenedRegion& opened);

// The event's handle, or null with GetLastError() set; created, when given, tells whether this
// process made it.
void* CreateOrOpenEvent(const std::string& name, bool* created = nullptr);

}  // namespace conproxy_protocol

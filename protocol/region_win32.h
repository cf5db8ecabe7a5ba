// The Windows region rule both ends apply to a mapped view: a file mapping keeps the size it was
// made with, so one that somebody made with fewer than kRegionBytes committed bytes (smaller, or
// SEC_RESERVE with pages not committed) can never hold the whole region, and both ends refuse it.
#pragma once

#include <string>

namespace conproxy_protocol {

// Why the view cannot be the region; empty when its first kRegionBytes are committed.
std::string RegionViewRefusal(const void* view);

}  // namespace conproxy_protocol

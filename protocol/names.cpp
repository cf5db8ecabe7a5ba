// The name rules both ends apply before they make anything.
#include "conproxy_protocol.h"

namespace conproxy_protocol {

std::string RegionName(const std::string& suffix) {
    return kRegionNamePrefix + suffix;
}

NameFault CheckNames(const ObjectNames& names) {
    if (names.suffix.size() > kMaxSuffixChars) {
        return NameFault::kSuffixTooLong;
    }
    if (names.request.empty() || names.reply.empty()) {
        return NameFault::kEventNameEmpty;
    }
    if (names.request == names.reply) {
        return NameFault::kEventsCoincide;
    }
    const std::string region = RegionName(names.suffix);
    if (names.request == region || names.reply == region) {
        return NameFault::kEventNamedAsRegion;
    }
    return NameFault::kNone;
}

const char* DescribeNameFault(NameFault fault) {
    switch (fault) {
        case NameFault::kNone:
            return "usable";
        case NameFault::kSuffixTooLong:
            return "the region name is longer than 79 characters";
        case NameFault::kEventNameEmpty:
            return "an event name is empty";
        case NameFault::kEventsCoincide:
            return "names both the request and the reply event";
        case NameFault::kEventNamedAsRegion:
            return "names both the region and an event";
    }
    return "?";
}

std::vector<std::string> ServerArguments(const std::string& program, const ObjectNames& names) {
    return {program, names.suffix, names.request, names.reply};
}

ObjectNames NamesFromArguments(const char* const* argv) {
    return {argv[1], argv[2], argv[3]};
}

}  // namespace conproxy_protocol

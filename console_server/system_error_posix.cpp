#include "system_error.h"

#include <cerrno>
#include <cstring>

namespace conproxy {

SystemError LastSystemError() {
    return static_cast<SystemError>(errno);
}

std::string DescribeSystemError(SystemError code) {
    return std::strerror(static_cast<int>(code));
}

const bool kReportedNamesAreUtf8 = true;

}  // namespace conproxy

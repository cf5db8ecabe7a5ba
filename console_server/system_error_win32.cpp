#include "system_error.h"

#include <windows.h>

namespace conproxy {

SystemError LastSystemError() {
    return GetLastError();
}

std::string DescribeSystemError(SystemError code) {
    char text[256] = {0};
    const DWORD length =
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                       static_cast<DWORD>(code), 0, text, sizeof text, nullptr);
    std::string description(text, length);
    while (!description.empty() && (description.back() == '\n' || description.back() == '\r' ||
                                    description.back() == ' ' || description.back() == '.')) {
        description.pop_back();
    }
    return description;
}

const bool kReportedNamesAreUtf8 = false;

}  // namespace conproxy

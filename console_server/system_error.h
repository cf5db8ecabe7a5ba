// The system's error code as the server keeps and reports it, shared by the console and the
// named objects, so that neither needs the other for it. One file per platform reads it.
#pragma once

#include <string>

namespace conproxy {

using SystemError = unsigned long;  // errno on POSIX, GetLastError() on Windows; 0 = success

SystemError LastSystemError();
// A readable description of a system error code, for the start-up report.
std::string DescribeSystemError(SystemError code);

// Whether the names in those reports come as UTF-8 (a POSIX command line) or in a single-byte
// code page (Windows' ANSI one, where 0x80..0x9F are letters, not C1 controls).
extern const bool kReportedNamesAreUtf8;

}  // namespace conproxy

// The system's error code as the server keeps and reports it, shared by the console and the
// named objects, so that neither needs the other for it. One file per platform reads it.
#pragma once

#include <string>

namespace conproxy {

using SystemError = unsigned long;  // errno on POSIX, GetLastError() on Windows; 0 = success

SystemError LastSystemError();
// A readable description of a system error code, for the start-up report.
std::string DescribeSystemError(SystemError code);

}  // namespace conproxy

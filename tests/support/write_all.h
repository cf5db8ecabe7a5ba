// Writing a whole buffer to a descriptor, for the tests and the benchmarks alike.
#pragma once

#include <cstddef>
#include <string>

namespace test_support {

// Writes all bytes, going on after EINTR and short writes. False when the descriptor refused
// (errno tells why); what was written until then stays written.
bool WriteAll(int fd, const void* bytes, std::size_t count);
bool WriteAll(int fd, const std::string& bytes);

}  // namespace test_support

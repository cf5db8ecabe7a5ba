// Which Linux portboot the end-to-end tests run: the one built in this tree, or, where
// PORTBOOT_E2E_PROGRAM names one, that program; a bare name is looked up through PATH as a shell
// would, so an installed portboot is tested as a person runs it.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <sstream>
#include <string>

namespace e2e {

inline std::string PortbootPath() {
    const char* named = std::getenv("PORTBOOT_E2E_PROGRAM");
    if (named == nullptr || *named == '\0') {
        return PORTBOOT_PATH;
    }
    const std::string program = named;
    if (program.find('/') != std::string::npos) {
        return program;
    }
    const char* path = std::getenv("PATH");
    std::istringstream dirs(path != nullptr ? path : "");
    for (std::string dir; std::getline(dirs, dir, ':');) {
        const std::string candidate = (dir.empty() ? "." : dir) + "/" + program;
        if (access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
    }
    return program;  // not found: the start fails and says so
}

}  // namespace e2e

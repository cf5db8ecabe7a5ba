// Both ends of the protocol on Windows against a region somebody made too small: a 4096-byte
// mapping is made under the region's name and kept open, then CONPROXY.EXE is started on it and
// the client library opens it. Prints "server: exit N" (or "server: still running", then ends
// it) and "client: opened" or "client: " and the library's error. Run under Wine by the tests.
#include <windows.h>

#include <cstdio>
#include <string>

#include "conproxy_client.h"
#include "conproxy_protocol.h"

namespace {

constexpr DWORD kShortRegionBytes = 4096;
constexpr DWORD kServerWaitMs = 10000;

std::string ServerOutcome(const std::string& serverPath, const conclient::ClientNames& names) {
    std::string commandLine = "\"" + serverPath + "\"";
    for (const std::string& arg : {names.suffix, names.requestEvent, names.replyEvent}) {
        commandLine += " " + arg;
    }
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(serverPath.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &process)) {
        return "cannot start, error " + std::to_string(GetLastError());
    }
    CloseHandle(process.hThread);
    std::string outcome;
    if (WaitForSingleObject(process.hProcess, kServerWaitMs) == WAIT_OBJECT_0) {
        DWORD code = 0;
        GetExitCodeProcess(process.hProcess, &code);
        outcome = "exit " + std::to_string(code);
    } else {
        outcome = "still running";
        TerminateProcess(process.hProcess, 1);
        WaitForSingleObject(process.hProcess, INFINITE);
    }
    CloseHandle(process.hProcess);
    return outcome;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: short_region_check CONPROXY.EXE SUFFIX\n");
        return 2;
    }
    const conclient::ClientNames names{argv[2], std::string(argv[2]) + "_req",
                                       std::string(argv[2]) + "_rep"};
    const std::string region = conproxy_protocol::RegionName(names.suffix);
    HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE | SEC_COMMIT,
                                        0, kShortRegionBytes, region.c_str());
    if (mapping == nullptr) {
        std::fprintf(stderr, "%s: error %lu\n", region.c_str(), GetLastError());
        return 1;
    }
    std::printf("server: %s\n", ServerOutcome(argv[1], names).c_str());
    std::fflush(stdout);
    conclient::ConproxyClient client;
    std::string error;
    std::printf("client: %s\n", client.Open(names, &error) ? "opened" : error.c_str());
    CloseHandle(mapping);
    return 0;
}

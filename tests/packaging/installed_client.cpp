// A client writer's program built only from the installed header and library: it starts the
// installed conproxy, waits for the ready signal and ends it with command 2. Exits 0 on success.
#include <conproxy_client.h>

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: installed_client <conproxy path>\n");
        return 2;
    }
    conclient::ConproxyClient client;
    std::string error;
    if (!client.Open(conclient::UniqueNames(), &error)) {
        std::fprintf(stderr, "Open: %s\n", error.c_str());
        return 1;
    }
    conclient::StartOptions options;
    options.serverPath = argv[1];
    options.newSession = true;
    if (!client.StartServer(options, &error)) {
        std::fprintf(stderr, "StartServer: %s\n", error.c_str());
        return 1;
    }
    const conclient::WaitResult ready = client.WaitReady(5000);
    if (ready != conclient::WaitResult::kReplied) {
        std::fprintf(stderr, "WaitReady: %s\n", conclient::WaitResultName(ready));
        return 1;
    }
    int32_t status = -1;
    const conclient::WaitResult replied = client.Exit(&status);
    const conclient::ServerExit end = client.WaitServerExit(5000);
    if (replied != conclient::WaitResult::kReplied || status != 0 || !end.exited || end.code != 0) {
        std::fprintf(stderr, "Exit: %s, status %d, server exit code %d\n",
                     conclient::WaitResultName(replied), status, end.code);
        return 1;
    }
    return 0;
}

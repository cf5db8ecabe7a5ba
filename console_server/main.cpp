// conproxy: serves console requests for another process through a shared region and two events.
#include <cstdio>
#include <new>

#include "serve_requests.h"

int main(int argc, char** argv) {
    // Caught here so that the owners on the way up restore the terminal and remove the names;
    // an uncaught exception would end the process without unwinding.
    try {
        return conproxy::ServeRequests(argc, argv);
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "conproxy: out of memory\n");
        return conproxy::kExitOutOfMemory;
    }
}

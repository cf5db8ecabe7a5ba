// conproxy: serves console requests for another process through a shared region and two events.
#include "serve_requests.h"

int main(int argc, char** argv) {
    return ServeRequests(argc, argv);
}

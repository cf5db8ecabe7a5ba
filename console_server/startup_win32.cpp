// Windows keeps its command line and waits as they are specified: nothing to add at start-up.
#include "startup.h"

namespace conproxy {

void OpenClosedStandardDescriptors() {}

bool AnswerInformationRequest(int, char**, int&) {
    return false;
}

void ShowUsage() {}

std::string ConsoleRefusal() {
    return std::string();
}

int FollowStartingClient(const RequestRegion&) {
    return kWaitForever;
}

bool StartingClientGone() {
    return false;
}

int EndForLostClient() {
    return 0;
}

}  // namespace conproxy

// Windows keeps its command line and waits as they are specified: nothing to add at start-up.
#include "startup.h"

namespace conproxy {

// No signals: a console control event ends the process with its objects.
bool InstallSignalOwners() {
    return true;
}

void OpenClosedStandardDescriptors() {}

bool AnswerInformationRequest(int, char**, int&) {
    return false;
}

void ShowUsage() {}

std::string ConsoleRefusal() {
    return std::string();
}

int FollowStartingClient(const NamedRegion&) {
    return kWaitForever;
}

void AttendToStartingClient() {}

bool StartingClientGone() {
    return false;
}

int EndForLostClient() {
    return 0;
}

}  // namespace conproxy

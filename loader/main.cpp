// portboot: sends a program image to a target device over a serial line. The command line
// becomes the settings, and the load runs with them on a port of its own.
#include <cstdio>
#include <cstring>

#include "com_port.h"
#include "command_line.h"
#include "console.h"
#include "console_texts.h"
#include "load_sequence.h"

int main(int argc, char** argv) {
    using namespace portboot;
    const bool interactive = SetUpConsoleOutput();
    if (kHelpOptions && argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("portboot %s\n", PROGRAM_VERSION);
        return kExitDone;
    }
    if (kHelpOptions && argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        std::printf("%s%s\n", ToConsoleText(usageText), ToConsoleText(usageNoteText));
        return kExitDone;
    }
    // The file name alone is not enough, although every option has a default.
    if (argc < 3) {
        std::printf("%s%s\n", ToConsoleText(usageText), ToConsoleText(usageNoteText));
        WaitForKey();
        return kExitUsage;
    }
    const CommandLine commandLine = ParseCommandLine(argc, argv, kPortPathOption);
    if (commandLine.refusedIndex != 0) {
        std::printf("%s %i: '%s'\n", ToConsoleText(badArgumentText), commandLine.refusedIndex,
                    argv[commandLine.refusedIndex]);
        WaitForKey();
        return kExitBadArgument;
    }
    ComPort port;
    return RunLoad(argv[1], commandLine.settings, port, interactive);
}

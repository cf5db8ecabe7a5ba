// portboot: sends a program image to a target device over a serial line. The texts are put into
// the console's encoding here, once; the command line becomes the settings, the load runs with
// them on a port of its own, and whatever ended the run is reported here, in one place.
#include <cstdio>
#include <cstring>

#include "com_port.h"
#include "command_line.h"
#include "console.h"
#include "console_texts.h"
#include "load_result.h"
#include "load_sequence.h"
#include "shown_text.h"

namespace {

using namespace portboot;

LoadResult Run(int argc, char** argv, bool interactive, const ConsoleTexts& texts) {
    LoadResult result;
    // The file name alone is not enough, although every option has a default.
    if (argc < 3) {
        result.status = kExitUsage;
        result.form = LoadResult::Form::Usage;
        return result;
    }
    const CommandLine commandLine = ParseCommandLine(argc, argv, kPortPathOption);
    if (commandLine.refusedIndex != 0) {
        result.status = kExitBadArgument;
        result.form = LoadResult::Form::BadArgument;
        result.text = Text::BadArgument;
        result.code = commandLine.refusedIndex;
        result.name = argv[commandLine.refusedIndex];
        return result;
    }
    // The rule stands (the leading number counts), but a board started at 0 for "0x100" must not
    // be a surprise: where the platform has the note, each such option is named first.
    if (*texts[Text::NoteReadAs] != '\0') {
        for (const NumberRead& read : commandLine.readWithTail) {
            std::printf(texts[Text::NoteReadAs], read.index, ShownText(argv[read.index]).c_str(),
                        static_cast<unsigned>(read.value));
            std::printf("\n");
        }
    }
    ComPort port;
    return RunLoad(argv[1], commandLine.settings, port, interactive, texts);
}

}  // namespace

int main(int argc, char** argv) {
    const bool interactive = SetUpConsoleOutput();
    const ConsoleTexts texts;
    if (kHelpOptions && argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("portboot %s\n", PROGRAM_VERSION);
        return kExitDone;
    }
    if (kHelpOptions && argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        std::printf("%s%s\n", texts[Text::Usage], texts[Text::UsageNote]);
        return kExitDone;
    }
    const LoadResult result = Run(argc, argv, interactive, texts);
    PrintResult(result, texts);
    if (result.status != kExitDone) {
        WaitForKey(texts[Text::KeyPrompt]);
    }
    if (result.exchangeBegun) {
        std::printf("\n");
    }
    return result.status;
}

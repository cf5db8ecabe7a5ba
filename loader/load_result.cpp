#include "load_result.h"

#include <cerrno>
#include <cstdio>

#include "console.h"

namespace portboot {

void PrintResult(const LoadResult& r, const ConsoleTexts& texts) {
    if (r.ownLine) {
        std::printf("\n");
    }
    switch (r.form) {
        case LoadResult::Form::Done:
            break;
        case LoadResult::Form::Usage:
            std::printf("%s%s\n", texts[Text::Usage], texts[Text::UsageNote]);
            break;
        case LoadResult::Form::BadArgument:
            std::printf("%s %i: '%s'\n", texts[r.text], r.code, NameToConsole(r.name).c_str());
            break;
        case LoadResult::Form::Text:
            std::printf("%s\n", texts[r.text]);
            break;
        case LoadResult::Form::TextAndCode:
            std::printf("%s %i\n", texts[r.text], r.code);
            break;
        case LoadResult::Form::Description: {
            const std::string subject = r.ownName ? NameToConsole(r.name) : texts[r.text];
            if (!r.reason.empty()) {
                std::fprintf(stderr, "%s: %s\n", subject.c_str(), r.reason.c_str());
                break;
            }
            errno = r.code;
            std::perror(subject.c_str());
            break;
        }
    }
    if (!r.note.empty()) {
        std::printf("%s\n", r.note.c_str());
    }
}

}  // namespace portboot

// The one reporting site: each form of a result printed as the person reads it, the fixed text
// in the console's encoding (UTF-8 in the tests' C locale), the number or the description, and
// the platform's note under it.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "console_texts.h"
#include "expected_texts.h"
#include "load_result.h"

namespace {

using namespace portboot;
using namespace expected;
using Form = LoadResult::Form;

struct PrintCase {
    const char* name;
    LoadResult result;
    std::string out;
    std::string err;
};

LoadResult Result(Form form, Text text, int code, const std::string& name = "",
                  const std::string& note = "") {
    LoadResult r;
    r.status = kExitCannotOpen;
    r.form = form;
    r.text = text;
    r.code = code;
    r.name = name;
    r.note = note;
    return r;
}

TEST(PrintResultTest, EachFormAsThePersonReadsIt) {
    LoadResult ownName = Result(Form::Description, Text::Usage, ENOENT, "image.bin");
    ownName.ownName = true;
    LoadResult shortRead = Result(Form::Description, Text::FileNotLoaded, 0);
    shortRead.reason = "прочитано 2 из 4";
    LoadResult ownLine = Result(Form::TextAndCode, Text::PortOpenError, 5);
    ownLine.ownLine = true;
    const PrintCase cases[] = {
        {"done says nothing", LoadResult{}, "", ""},
        {"usage", Result(Form::Usage, Text::Usage, 0), std::string(kUsage) + kUsageNoteLinux + "\n",
         ""},
        {"bad argument", Result(Form::BadArgument, Text::BadArgument, 3, "x"),
         kBadArgument + "3: 'x'\n", ""},
        {"text", Result(Form::Text, Text::FileTooLarge, 0), kTooLarge, ""},
        {"text and code, with the note under it",
         Result(Form::TextAndCode, Text::PortWriteError, 5, "", "Порт COM1 (/dev/ttyS0): x"),
         kWriteFailed + "5\nПорт COM1 (/dev/ttyS0): x\n", ""},
        {"text and code on a line of its own", ownLine, "\n" + kPortOpenError + "5\n", ""},
        {"description of a text", Result(Form::Description, Text::FileNotLoaded, 0), "",
         kNotLoaded + ": " + std::strerror(0) + "\n"},
        {"a reason in the description's place", shortRead, "", kNotLoaded + ": прочитано 2 из 4\n"},
        {"description of the user's file", ownName, "", "image.bin: No such file or directory\n"},
    };
    const ConsoleTexts texts;
    for (const PrintCase& c : cases) {
        SCOPED_TRACE(c.name);
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        PrintResult(c.result, texts);
        std::fflush(stdout);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.out);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.err);
    }
}

}  // namespace

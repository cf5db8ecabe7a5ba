// conclient.exe as a Windows user meets it, under Wine with Russian code pages (ANSI 1251,
// console 866): scripts and answers in UTF-8 as Notepad saves them, and CONPROXY.EXE found
// beside conclient.exe or on PATH, never in the current folder, with errors in words.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <termios.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "../console_server/e2e_console_pair.h"
#include "child_process.h"

namespace {

std::string Answers(const std::string& path) {
    std::stringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    std::string answers = text.str();
    for (size_t at; (at = answers.find('\r')) != std::string::npos;) answers.erase(at, 1);
    return answers;
}

void Copy(const std::string& from, const std::string& to) {
    std::ofstream(to, std::ios::binary) << std::ifstream(from, std::ios::binary).rdbuf();
    chmod(to.c_str(), 0755);
}

// A Unix path as Wine's Z: drive names it.
std::string WindowsPath(const std::string& path) {
    std::string windows = "Z:" + path;
    for (char& c : windows) c = c == '/' ? '\\' : c;
    return windows;
}

// A script saved by Notepad: a byte order mark, CR LF, UTF-8. Its Cyrillic reaches the console
// in code page 866, a character 866 lacks is refused by name, and a line typed in Cyrillic comes
// back as UTF-8 text.
TEST(WineConclient, ScriptsAndAnswersAreUtf8) {
    const e2e::WineSetup wine = e2e::WineSetupFromBuild();
    test_support::TempDir dir;
    const std::string script = dir.File("script");
    const std::string out = dir.File("out");
    std::ofstream(script, std::ios::binary)
        << "\xEF\xBB\xBF"
           "clear\r\ncursor 0 1\r\nwrite Привет, мир\r\nwrite 5 €\r\n"
           "readtext 10\r\nexit\r\n";

    e2e::EmulatedTerminal terminal;
    ASSERT_TRUE(terminal.Ok());
    test_support::ExitInfo status;
    {
        test_support::Child client(
            e2e::OnTerminal({wine.wine, wine.programDir + "/conclient.exe", "--out", out, script},
                            wine.Environment(), terminal.SlavePath()));
        ASSERT_TRUE(e2e::WaitUntil([&] {
            return Answers(out).find("error write") != std::string::npos;
        })) << Answers(out)
            << terminal.ScreenText();
        // Wine's console takes keys only once it reads the terminal raw.
        ASSERT_TRUE(e2e::WaitUntil([&] {
            termios modes{};
            return tcgetattr(terminal.SlaveFd(), &modes) == 0 && (modes.c_lflag & ICANON) == 0;
        }));
        terminal.Type("абв\r");
        ASSERT_TRUE(client.WaitFor(std::chrono::milliseconds(e2e::kWaitMs * 3)))
            << Answers(out) << terminal.ScreenText();
        status = client.Wait();
    }
    EXPECT_TRUE(status.exited && status.exitStatus == 2) << test_support::Describe(status);
    EXPECT_EQ(Answers(out),
              "ready\n"
              "clear status=0\n"
              "cursor 0,1 ok\n"
              "write ok\n"
              "error write: \"€\" (U+20AC) is not in code page 866\n"
              "readtext result=5 text=\"абв\\r\\n\"\n"
              "exit status=0 server-exit=0\n");
    EXPECT_TRUE(e2e::WaitUntil([&] { return terminal.Row(1).rfind("Привет, мир", 0) == 0; }))
        << terminal.ScreenText();
}

// conclient.exe alone in its folder finds CONPROXY.EXE on PATH, with or without --server
// CONPROXY.EXE, and never runs the conproxy.exe of the current folder (here a PORTBOOT.EXE,
// which would end at once); with none on PATH, the error says so in words.
TEST(WineConclient, ServerFoundBesideItOrOnPathNeverInTheCurrentFolder) {
    const e2e::WineSetup wine = e2e::WineSetupFromBuild();
    test_support::TempDir dir;
    for (const char* folder : {"/client", "/server", "/current"})
        ASSERT_EQ(mkdir((dir.File("") + folder).c_str(), 0755), 0);
    Copy(wine.programDir + "/conclient.exe", dir.File("client/conclient.exe"));
    Copy(wine.programDir + "/CONPROXY.EXE", dir.File("server/CONPROXY.EXE"));
    Copy(wine.programDir + "/PORTBOOT.EXE", dir.File("current/conproxy.exe"));
    std::ofstream(dir.File("current/script")) << "nop\nexit\n";

    const struct {
        std::vector<std::string> options;
        bool onPath;
        int status;
        const char* answers;
        const char* error;  // the start of the error line
    } cases[] = {
        {{}, true, 0, "ready\nnop ok\nexit status=0 server-exit=0\n", ""},
        {{"--server", "CONPROXY.EXE"}, true, 0, "ready\nnop ok\nexit status=0 server-exit=0\n", ""},
        {{}, false, 1, "", "conclient: conproxy.exe: not found on PATH"},
        {{"--server", "Z:\\nowhere\\CONPROXY.EXE"},
         true,
         1,
         "",
         "conclient: Z:\\nowhere\\CONPROXY.EXE: "},
    };
    for (const auto& c : cases) {
        test_support::SpawnOptions options;
        options.argv = {wine.wine, dir.File("client/conclient.exe")};
        options.argv.insert(options.argv.end(), c.options.begin(), c.options.end());
        options.argv.push_back("script");
        options.extraEnv = wine.Environment();
        if (c.onPath)
            options.extraEnv.push_back("WINEPATH=" + WindowsPath(dir.File("server")));
        options.workDir = dir.File("current");
        options.stdinPath = "/dev/null";
        options.timeLimit = std::chrono::milliseconds(e2e::kWaitMs * 3);
        test_support::Child client(options);
        const test_support::ExitInfo& end = client.Wait();
        const std::string what = c.options.empty() ? "default" : c.options.back();
        EXPECT_TRUE(end.exited && end.exitStatus == c.status)
            << what << ": " << test_support::Describe(end) << client.Stderr();
        std::string answers = client.Stdout();
        for (size_t at; (at = answers.find('\r')) != std::string::npos;) answers.erase(at, 1);
        EXPECT_EQ(answers, c.answers) << what << client.Stderr();
        const std::string error = client.Stderr();
        EXPECT_EQ(error.rfind(c.error, 0), 0u) << what << ": " << error;
        // The reason in words, not a bare number.
        EXPECT_EQ(error.find(": error "), std::string::npos) << what << ": " << error;
    }
}

// A name from the command line (ANSI, 1251) on standard error is shown in the console's code
// page (866), as Windows' own tools show it, with the reason in words.
TEST(WineConclient, NamesOnStandardErrorAreInTheConsolesCodePage) {
    const e2e::WineSetup wine = e2e::WineSetupFromBuild();
    test_support::TempDir dir;
    test_support::SpawnOptions options;
    options.argv = {wine.wine, wine.programDir + "/conclient.exe", "нет.txt"};
    options.extraEnv = wine.Environment();
    options.workDir = dir.File("");
    options.timeLimit = std::chrono::milliseconds(e2e::kWaitMs * 3);
    test_support::Child client(options);
    const test_support::ExitInfo& end = client.Wait();
    EXPECT_TRUE(end.exited && end.exitStatus == 3) << test_support::Describe(end);
    std::string error = client.Stderr();
    for (size_t at; (at = error.find('\r')) != std::string::npos;) error.erase(at, 1);
    EXPECT_EQ(error, "conclient: cannot read \xad\xa5\xe2.txt: No such file or directory\n");
    EXPECT_EQ(client.Stdout(), "");
}

}  // namespace

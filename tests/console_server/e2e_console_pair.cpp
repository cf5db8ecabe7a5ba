// The server runs on the emulated terminal in its own session; conclient runs without a terminal
// (stdin a pipe, stdout a pipe drained by a thread). Both are started by the tests' launcher,
// which kills whole process groups, so the helpers Wine starts (its console host) go with them.
#include "e2e_console_pair.h"

#include "write_all.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace e2e {
namespace {

constexpr std::chrono::milliseconds kTermGrace{2000};
// Longer than any one session (the CTest limit ends a stuck test sooner).
constexpr std::chrono::milliseconds kSessionLimit{300000};
// A read that nobody answers ends conclient's wait after this long, well inside the test's own
// limits, so a missing key shows as "error read: timeout" rather than a hang.
constexpr int kDriverTimeoutMs = 8000;

std::string Trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
        text.pop_back();
    return text;
}

}  // namespace

const char* PlatformName(Platform platform) {
    return platform == Platform::kLinux ? "linux" : "wine";
}

WineSetup WineSetupFromBuild() {
    WineSetup setup;
    setup.wine = WINE_PROGRAM;
    setup.programDir = WINDOWS_PROGRAMS_DIR;
    std::ifstream file(WINE_PREFIX_FILE);
    std::stringstream text;
    text << file.rdbuf();
    setup.prefix = Trimmed(text.str());
    if (setup.prefix.empty() || access(setup.prefix.c_str(), F_OK) != 0) {
        throw std::runtime_error(std::string("no Wine prefix named in ") + WINE_PREFIX_FILE +
                                 ": run these tests through ctest (fixture conproxy_wine_prefix)");
    }
    return setup;
}

std::vector<std::string> WineSetup::Environment() const {
    return {
        "WINEPREFIX=" + prefix,
        "WINEDEBUG=-all",
        // Console programs only: no Mono or Gecko installers. With no display, Wine's console
        // starts its desktop process (explorer) from the thread that turns the first typed key
        // into records, holding the console's lock, and the console hangs; with explorer
        // disabled that start fails at once and the keys come through.
        "WINEDLLOVERRIDES=mscoree=;mshtml=;explorer.exe=d",
        // Wine takes its code pages from the locale: ANSI 1251, OEM and console 866. The
        // console writes to the terminal in the locale's character set, which is UTF-8 only
        // when the C library has the locale: the fixture compiles it into WINE_LOCALE_DIR.
        "LC_ALL=ru_RU.UTF-8",
        "LANG=ru_RU.UTF-8",
        std::string("LOCPATH=") + WINE_LOCALE_DIR,
    };
}

test_support::SpawnOptions OnTerminal(std::vector<std::string> argv,
                                      std::vector<std::string> extraEnv,
                                      const std::string& ttyPath) {
    test_support::SpawnOptions options;
    options.argv = std::move(argv);
    options.extraEnv = std::move(extraEnv);
    options.ttyPath = ttyPath;
    options.stdinFromPty = true;
    options.stdoutToPty = true;
    options.stderrToPty = true;
    options.timeLimit = kSessionLimit;
    options.stopGrace = kTermGrace;
    return options;
}

ConsolePair::ConsolePair(Platform platform, const WineSetup& wine) : platform_(platform) {
    if (!terminal_.Ok())
        throw std::runtime_error("no pseudo-terminal");
    // A conclient that has ended must show as a missing answer, not end the test by SIGPIPE.
    signal(SIGPIPE, SIG_IGN);
    static std::atomic<unsigned> counter{0};
    const std::string stem = "cpair" + std::to_string(getpid()) + "_" + std::to_string(++counter);
    const std::vector<std::string> names = {stem, stem + "_req", stem + "_rep"};

    std::vector<std::string> server;
    std::vector<std::string> driver;
    std::vector<std::string> environment;
    if (platform == Platform::kLinux) {
        names_ = std::make_unique<ShmNamesGuard>(names[0], names[1], names[2]);
        server = {ServerPath()};
        driver = {CONCLIENT_PATH};
    } else {
        server = {wine.wine, wine.programDir + "/CONPROXY.EXE"};
        driver = {wine.wine, wine.programDir + "/conclient.exe"};
        environment = wine.Environment();
    }
    server.insert(server.end(), names.begin(), names.end());
    driver.insert(driver.end(), {"--attach", names[0], names[1], names[2], "--dump", "--timeout-ms",
                                 std::to_string(kDriverTimeoutMs)});

    int input[2];
    if (pipe2(input, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe");
    Fd inputRead(input[0]);
    driverInput_ = Fd(input[1]);
    test_support::SpawnOptions driverOptions;
    driverOptions.argv = driver;
    driverOptions.extraEnv = environment;
    driverOptions.stdinFd = inputRead.Get();
    driverOptions.stdoutFd = driverOutput_.WriteEnd();
    driverOptions.stderrToStdout = true;
    driverOptions.timeLimit = kSessionLimit;
    driverOptions.stopGrace = kTermGrace;

    server_ = std::make_unique<test_support::Child>(
        OnTerminal(server, environment, terminal_.SlavePath()));
    driver_ = std::make_unique<test_support::Child>(driverOptions);
    driverOutput_.CloseWriteEnd();
}

ConsolePair::~ConsolePair() {
    driverInput_.Reset();  // conclient ends at the end of its script
    driver_.reset();
    server_.reset();
}

std::vector<std::string> ConsolePair::Lines() {
    std::vector<std::string> lines;
    std::istringstream text(driverOutput_.Text());
    std::string line;
    while (std::getline(text, line)) {
        if (text.eof())
            break;  // not finished yet
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

bool ConsolePair::Ready() {
    bool ready = WaitUntil([&] { return !Lines().empty(); }, kWaitMs * 3);
    if (!ready || Lines().front() != "ready")
        return false;
    linesTaken_ = 1;
    return true;
}

void ConsolePair::Send(const std::string& line) {
    test_support::WriteAll(driverInput_.Get(), line + "\n");
}

std::vector<std::string> ConsolePair::Answer(int timeoutMs) {
    std::vector<std::string> answer;
    if (broken_)
        return answer;
    auto complete = [&] {
        std::vector<std::string> lines = Lines();
        if (lines.size() <= linesTaken_)
            return false;
        const bool error =
            lines[linesTaken_].rfind("error", 0) == 0 || lines[linesTaken_].rfind("sleep", 0) == 0;
        const size_t wanted = error ? 1 : 2;
        if (lines.size() < linesTaken_ + wanted)
            return false;
        answer.assign(lines.begin() + static_cast<long>(linesTaken_),
                      lines.begin() + static_cast<long>(linesTaken_ + wanted));
        return true;
    };
    if (!WaitUntil(complete, timeoutMs)) {
        broken_ = true;
        return {};
    }
    linesTaken_ += answer.size();
    return answer;
}

void ConsolePair::Type(const std::string& bytes) {
    WaitUntil([&] {
        termios modes{};
        return tcgetattr(terminal_.SlaveFd(), &modes) == 0 && (modes.c_lflag & ICANON) == 0;
    });
    terminal_.Type(bytes);
}

std::vector<std::string> ConsolePair::Request(const std::string& line, int timeoutMs) {
    Send(line);
    return Answer(timeoutMs);
}

test_support::ExitInfo ConsolePair::ServerEnd(int timeoutMs) {
    if (!server_->WaitFor(std::chrono::milliseconds(timeoutMs))) {
        test_support::ExitInfo running;
        running.timedOut = true;
        return running;
    }
    return server_->Wait();
}

int ConsolePair::ServerExitStatus(int timeoutMs) {
    if (!server_->WaitFor(std::chrono::milliseconds(timeoutMs)))
        return -1;
    const test_support::ExitInfo& info = server_->Wait();
    return info.exited ? info.exitStatus : -1;
}

}  // namespace e2e

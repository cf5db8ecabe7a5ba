// The server runs on the emulated terminal in its own session; conclient runs without a terminal
// (stdin a pipe, stdout a pipe drained by a thread). Killing goes to whole process groups, so the
// helpers Wine starts for a program (its console host) go with it.
#include "e2e_console_pair.h"

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

constexpr int kTermGraceMs = 2000;
constexpr int kPollSliceMs = 10;
// A read that nobody answers ends conclient's wait after this long, well inside the test's own
// limits, so a missing key shows as "error read: timeout" rather than a hang.
constexpr int kDriverTimeoutMs = 8000;

std::string Trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
        text.pop_back();
    return text;
}

// Writes all bytes, looping over EINTR and short writes.
void WriteAll(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        done += static_cast<size_t>(n);
    }
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

SessionChild::SessionChild(const Options& options) {
    std::vector<char*> argv;
    for (const auto& a : options.argv) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    // The environment is made here: between fork and exec only async-signal-safe calls.
    std::vector<std::string> environment = options.extraEnv;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        const std::string name = entry.substr(0, entry.find('=') + 1);
        bool replaced = false;
        for (const auto& extra : options.extraEnv) replaced |= extra.rfind(name, 0) == 0;
        if (!replaced)
            environment.push_back(entry);
    }
    std::vector<char*> envp;
    for (auto& e : environment) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    pid_ = fork();
    if (pid_ < 0)
        throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
    if (pid_ == 0) {
        setsid();
        if (!options.ttyPath.empty()) {
            // Opened after setsid without O_NOCTTY: it becomes the controlling terminal.
            int tty = open(options.ttyPath.c_str(), O_RDWR);
            if (tty < 0)
                _exit(126);
            dup2(tty, 0);
            dup2(tty, 1);
            dup2(tty, 2);
            if (tty > 2)
                close(tty);
        } else {
            dup2(options.stdinFd, 0);
            dup2(options.stdoutFd, 1);
            dup2(options.stdoutFd, 2);
        }
        signal(SIGPIPE, SIG_DFL);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
}

bool SessionChild::WaitExit(int timeoutMs, int* status) {
    if (reaped_)
        return true;
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int s = 0;
        pid_t r = waitpid(pid_, &s, WNOHANG);
        if (r == pid_ || (r < 0 && errno != EINTR)) {
            reaped_ = true;
            if (status != nullptr)
                *status = s;
            return true;
        }
        if (std::chrono::steady_clock::now() >= end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(kPollSliceMs));
    }
}

SessionChild::~SessionChild() {
    if (pid_ <= 0)
        return;
    // The group may outlive its leader (a console host), so it is signalled either way.
    kill(-pid_, SIGTERM);
    if (!WaitExit(kTermGraceMs, nullptr)) {
        kill(-pid_, SIGKILL);
        WaitExit(kTermGraceMs, nullptr);
    }
    kill(-pid_, SIGKILL);
}

ConsolePair::ConsolePair(Platform platform, const WineSetup& wine) : platform_(platform) {
    if (!terminal_.Ok())
        throw std::runtime_error("no pseudo-terminal");
    // A conclient that has ended must show as a missing answer, not end the test by SIGPIPE.
    signal(SIGPIPE, SIG_IGN);
    static std::atomic<unsigned> counter{0};
    const std::string stem = "cpair" + std::to_string(getpid()) + "_" + std::to_string(++counter);
    const std::vector<std::string> names = {stem, stem + "_req", stem + "_rep"};

    SessionChild::Options server;
    SessionChild::Options driver;
    if (platform == Platform::kLinux) {
        names_ = std::make_unique<ShmNamesGuard>(names[0], names[1], names[2]);
        server.argv = {ServerPath()};
        driver.argv = {CONCLIENT_PATH};
    } else {
        server.argv = {wine.wine, wine.programDir + "/CONPROXY.EXE"};
        driver.argv = {wine.wine, wine.programDir + "/conclient.exe"};
        server.extraEnv = wine.Environment();
        driver.extraEnv = wine.Environment();
    }
    server.argv.insert(server.argv.end(), names.begin(), names.end());
    server.ttyPath = terminal_.SlavePath();
    driver.argv.insert(driver.argv.end(), {"--attach", names[0], names[1], names[2], "--dump",
                                           "--timeout-ms", std::to_string(kDriverTimeoutMs)});

    int input[2];
    if (pipe2(input, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe");
    Fd inputRead(input[0]);
    driverInput_ = Fd(input[1]);
    driver.stdinFd = inputRead.Get();
    driver.stdoutFd = driverOutput_.WriteEnd();

    server_ = std::make_unique<SessionChild>(server);
    driver_ = std::make_unique<SessionChild>(driver);
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
    WriteAll(driverInput_.Get(), line + "\n");
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

int ConsolePair::ServerExitStatus(int timeoutMs) {
    int status = 0;
    if (!server_->WaitExit(timeoutMs, &status) || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

}  // namespace e2e

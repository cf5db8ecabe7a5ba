// One console server and one conclient that drives it, either both Linux programs or both
// Windows programs under Wine. The server owns a pseudo-terminal (its controlling terminal and
// its standard handles) whose screen libvterm keeps; conclient attaches to the server's names
// and takes one script line at a time through a pipe, so the test can type between requests.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

#include "child_process.h"
#include "e2e_support.h"

namespace e2e {

enum class Platform { kLinux, kWine };
const char* PlatformName(Platform platform);

// Where the Windows programs and the Wine prefix are; empty when the Wine tests are not built.
struct WineSetup {
    std::string wine;        // the wine program
    std::string programDir;  // CONPROXY.EXE and conclient.exe
    std::string prefix;      // this run's prefix, read from the fixture's path file
    // The environment a Windows program runs with: the prefix, quiet Wine, Russian code pages.
    std::vector<std::string> Environment() const;
};
// Throws std::runtime_error when the fixture left no prefix.
WineSetup WineSetupFromBuild();

// A Windows or Linux program of the pair on a terminal: the terminal is its controlling
// terminal and its standard descriptors; SIGTERM first at the end, so Wine tidies up.
test_support::SpawnOptions OnTerminal(std::vector<std::string> argv,
                                      std::vector<std::string> extraEnv,
                                      const std::string& ttyPath);

class ConsolePair {
  public:
    ConsolePair(Platform platform, const WineSetup& wine);
    ~ConsolePair();
    ConsolePair(const ConsolePair&) = delete;
    ConsolePair& operator=(const ConsolePair&) = delete;

    // True once conclient has printed "ready" (the server's ready signal reached it).
    bool Ready();
    // Sends one script line and returns the answer: one line, then the dump line unless the
    // answer is an error. Empty when no complete answer came within the time limit, and from
    // then on at once, so a session that went wrong ends quickly.
    std::vector<std::string> Request(const std::string& line, int timeoutMs = kWaitMs);
    // Starts a request whose answer waits for typing; Answer() collects it.
    void Send(const std::string& line);
    std::vector<std::string> Answer(int timeoutMs = kWaitMs);

    // Types the bytes once the console reads its terminal raw: Wine's console switches the
    // terminal over only when it starts reading, and bytes typed before that are lost.
    void Type(const std::string& bytes);
    EmulatedTerminal& Terminal() { return terminal_; }
    Platform Kind() const { return platform_; }

    // After "exit": waits for the server to end and gives its exit status (-1: did not end or
    // was killed).
    int ServerExitStatus(int timeoutMs = kWaitMs);
    // How the server ended, however it ended; timedOut when it still runs after timeoutMs.
    test_support::ExitInfo ServerEnd(int timeoutMs = kWaitMs);

  private:
    std::vector<std::string> Lines();

    Platform platform_;
    EmulatedTerminal terminal_;
    OutputPipe driverOutput_;
    Fd driverInput_;
    std::unique_ptr<ShmNamesGuard> names_;
    std::unique_ptr<test_support::Child> server_;
    std::unique_ptr<test_support::Child> driver_;
    size_t linesTaken_ = 0;
    bool broken_ = false;  // an answer did not come: later ones are not waited for
};

}  // namespace e2e

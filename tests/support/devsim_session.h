// Runs devsim, the simulated device, as a child on its own pseudo-terminal, and reads back what
// it received: its exit status, its summary line split into fields, and the image it kept.
#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "child_process.h"

namespace test_support {

struct DeviceRecord {
    ExitInfo exit;
    std::string summary;                        // the line as devsim wrote it
    std::map<std::string, std::string> fields;  // "result" -> "complete", "entry" -> "258", ...
    std::string image;                          // the image received, without its pad byte
};

class DevsimSession {
  public:
    // Starts the devsim program with files in dir and the extra options given; waits for its
    // slave path.
    DevsimSession(const std::string& devsimPath, const TempDir& dir,
                  const std::vector<std::string>& options,
                  std::chrono::milliseconds timeLimit = std::chrono::seconds(30));

    const std::string& SlavePath() const { return slavePath_; }
    Child& Process() { return *child_; }
    // Waits for devsim to end by itself (idle line or a complete sequence).
    DeviceRecord Finish();
    // Asks devsim to end now (SIGTERM) and reads what it received.
    DeviceRecord Stop();

  private:
    DeviceRecord Collect(const ExitInfo& exit);

    std::string summaryPath_;
    std::string outPath_;
    std::unique_ptr<Child> child_;
    std::string slavePath_;
};

struct RunResult {
    ExitInfo exit;
    std::string out;
    std::string err;
};

// Runs the portboot program with the arguments given (file first) in workDir, in the C.UTF-8
// locale, in a session of its own without a controlling terminal.
RunResult RunPortboot(const std::string& portbootPath, const std::string& workDir,
                      const std::vector<std::string>& args,
                      std::chrono::milliseconds timeLimit = std::chrono::seconds(20));

}  // namespace test_support

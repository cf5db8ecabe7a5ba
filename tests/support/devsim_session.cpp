#include "devsim_session.h"

#include <signal.h>

#include <sstream>
#include <stdexcept>

namespace test_support {

namespace {

constexpr std::chrono::milliseconds kStartWait{5000};

}  // namespace

DevsimSession::DevsimSession(const std::string& devsimPath, const TempDir& dir,
                             const std::vector<std::string>& options,
                             std::chrono::milliseconds timeLimit) {
    // Several sessions may share one directory; a counter keeps their files apart.
    static int sessionCount = 0;
    std::string tag = std::to_string(++sessionCount);
    summaryPath_ = dir.File("devsim-summary-" + tag);
    outPath_ = dir.File("devsim-image-" + tag);
    SpawnOptions spawn;
    spawn.argv = {devsimPath, "--summary", summaryPath_, "--out", outPath_};
    spawn.argv.insert(spawn.argv.end(), options.begin(), options.end());
    spawn.timeLimit = timeLimit;
    child_ = std::make_unique<Child>(spawn);
    if (!child_->FirstStdoutLine(slavePath_, kStartWait)) {
        throw std::runtime_error("devsim did not report its line: " + child_->Stderr());
    }
}

DeviceRecord DevsimSession::Finish() {
    return Collect(child_->Wait());
}

DeviceRecord DevsimSession::Stop() {
    child_->Signal(SIGTERM);
    return Collect(child_->Wait());
}

DeviceRecord DevsimSession::Collect(const ExitInfo& exit) {
    DeviceRecord record;
    record.exit = exit;
    record.summary = ReadFile(summaryPath_);
    if (!record.summary.empty() && record.summary.back() == '\n') {
        record.summary.pop_back();
    }
    std::istringstream words(record.summary);
    std::string word;
    while (words >> word) {
        std::size_t equals = word.find('=');
        if (equals != std::string::npos) {
            record.fields[word.substr(0, equals)] = word.substr(equals + 1);
        }
    }
    record.image = ReadFile(outPath_);
    return record;
}

RunResult RunPortboot(const std::string& portbootPath, const std::string& workDir,
                      const std::vector<std::string>& args, std::chrono::milliseconds timeLimit) {
    SpawnOptions spawn;
    spawn.argv = {portbootPath};
    spawn.argv.insert(spawn.argv.end(), args.begin(), args.end());
    spawn.extraEnv = {"LC_ALL=C.UTF-8"};
    spawn.workDir = workDir;
    spawn.timeLimit = timeLimit;
    Child child(spawn);
    RunResult result;
    result.exit = child.Wait();
    result.out = child.Stdout();
    result.err = child.Stderr();
    return result;
}

}  // namespace test_support

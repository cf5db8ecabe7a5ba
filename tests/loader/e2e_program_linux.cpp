// The Linux portboot: the device line is named by its path, output is UTF-8 with "\n".
#include <termios.h>

#include <chrono>
#include <thread>

#include "e2e_program.h"
#include "expected_texts.h"
#include "portboot_path.h"

namespace e2e {

namespace {

constexpr bool kUnderWine = PORTBOOT_UNDER_WINE;

class LinuxProgram : public PortbootProgram {
  public:
    const char* Name() const override { return "portboot"; }
    bool NamesPortsByPath() const override { return true; }
    bool KeepsSecondLoaderOut() const override { return true; }

    test_support::SpawnOptions Spawn(const std::vector<std::string>& args,
                                     const std::string& workDir,
                                     bool controllingPty) const override {
        test_support::SpawnOptions spawn;
        spawn.argv = {e2e::PortbootPath()};
        spawn.argv.insert(spawn.argv.end(), args.begin(), args.end());
        spawn.extraEnv = {"LC_ALL=C.UTF-8"};
        spawn.workDir = workDir;
        // The key wait reads the terminal itself, so standard input stays away from it.
        spawn.controllingPty = controllingPty;
        return spawn;
    }
    // A pty pair shares one termios: the master shows when the program has switched line input
    // off for its key wait.
    void AwaitKeyWait(test_support::Child& program) const override {
        auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        termios attributes{};
        while (std::chrono::steady_clock::now() < giveUp &&
               tcgetattr(program.PtyMaster(), &attributes) == 0 &&
               (attributes.c_lflag & ICANON) != 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    std::string AttachPort(const std::string& slavePath) const override { return slavePath; }
    std::string AbsentPortOption() const override { return "/nonexistent/tty0"; }
    std::string ShownPortName(const std::string& slavePath) const override { return slavePath; }
    std::string ShownImagePath(const std::string& dir, const std::string& file) const override {
        return dir + "/" + file;
    }
    std::string PlatformText(const std::string& linuxText) const override { return linuxText; }
    std::string EmptyFileReason() const override { return "файл пуст"; }
    std::string DirectoryReason() const override { return "Is a directory"; }
    std::string UsageNote() const override { return expected::kUsageNoteLinux; }
    bool AddsPortNotes() const override { return true; }
};

}  // namespace

const PortbootProgram& LinuxPortboot() {
    static const LinuxProgram program;
    return program;
}

const PortbootProgram& ProgramUnderTest() {
    return kUnderWine ? WinePortboot() : LinuxPortboot();
}

}  // namespace e2e

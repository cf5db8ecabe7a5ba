// The loader the end-to-end tests run: the Linux portboot, or PORTBOOT.EXE under Wine. Each kind
// says how it is started, how a device's line becomes its port, and how its output is spelt on
// its platform, so one table of cases (written in the Linux form) serves both.
#pragma once

#include <string>
#include <vector>

#include "child_process.h"

namespace e2e {

class PortbootProgram {
  public:
    virtual ~PortbootProgram() = default;

    virtual const char* Name() const = 0;
    // A port may be named by a device path, and so in any place among the options (Linux).
    virtual bool NamesPortsByPath() const = 0;
    // A second loader is kept off a port that one holds.
    virtual bool KeepsSecondLoaderOut() const = 0;
    // Start options for a run with these arguments (image file first) in workDir, in a session
    // of its own. With a controlling pty, the program has a console to wait for a key on.
    virtual test_support::SpawnOptions Spawn(const std::vector<std::string>& args,
                                             const std::string& workDir,
                                             bool controllingPty) const = 0;
    // Returns once the program, started with a controlling pty, sits in its key wait, so a key
    // typed now is read by the wait (a Ctrl+C typed before would still stop it). Gives up after
    // a while and lets the key show what happens.
    virtual void AwaitKeyWait(test_support::Child& program) const = 0;
    // Makes the device's line the port the returned option names.
    virtual std::string AttachPort(const std::string& slavePath) const = 0;
    // The option naming a port that does not exist.
    virtual std::string AbsentPortOption() const = 0;
    // The port as the information block names it.
    virtual std::string ShownPortName(const std::string& slavePath) const = 0;
    // The image's path as the information block shows it.
    virtual std::string ShownImagePath(const std::string& dir, const std::string& file) const = 0;
    // A transcript expected in its Linux form (UTF-8, "\n" line ends) as this program writes it.
    virtual std::string PlatformText(const std::string& linuxText) const = 0;
    // What follows "Не удалось загрузить файл в буфер\n: " for an empty file.
    virtual std::string EmptyFileReason() const = 0;
    // The description of a directory's failed open as an image.
    virtual std::string DirectoryReason() const = 0;
    // The paragraph under the usage text (Linux form); empty where the usage is all there is.
    virtual std::string UsageNote() const = 0;
    // A line of the system's own under a failure of the port (the device, the reason).
    virtual bool AddsPortNotes() const = 0;
};

const PortbootProgram& LinuxPortboot();
const PortbootProgram& WinePortboot();
// The one this test program was built to check.
const PortbootProgram& ProgramUnderTest();

}  // namespace e2e

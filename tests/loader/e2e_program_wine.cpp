// PORTBOOT.EXE under Wine. The Wine prefix is the test run's own (made and removed by the
// wine_prefix fixture, which leaves its path in a file); COM1 of that prefix is a symbolic link
// to the device's pseudo-terminal. Wine takes its code pages from the locale: ru_RU gives the
// program ANSI 1251 and OEM 866, so its texts come out in CP866, with "\r\n" in redirected output;
// with ru_RU.UTF-8 compiled for the C library (LOCPATH), Cyrillic arguments reach it intact.
#include <iconv.h>
#include <stdio.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <thread>

#include "e2e_program.h"

namespace e2e {

namespace {

const char kWineProgram[] = WINE_PROGRAM;
const char kWindowsPortboot[] = WINDOWS_PORTBOOT;
const char kPrefixPathFile[] = WINE_PREFIX_FILE;
const char kLocaleDir[] = WINE_LOCALE_DIR;
const char kDevicePort[] = "1";
const char kAbsentPort[] = "9";

std::string PrefixPath() {
    static const std::string path = [] {
        std::string text = test_support::ReadFile(kPrefixPathFile);
        while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) {
            text.pop_back();
        }
        if (text.empty() || access(text.c_str(), F_OK) != 0) {
            throw std::runtime_error(
                std::string("no Wine prefix named in ") + kPrefixPathFile +
                ": run these tests through ctest (fixture loader_wine_prefix)");
        }
        return text;
    }();
    return path;
}

std::string DosDevice(const char* digit) {
    return PrefixPath() + "/dosdevices/com" + digit;
}

std::string ToCp866(const std::string& utf8) {
    iconv_t converter = iconv_open("CP866", "UTF-8");
    if (converter == reinterpret_cast<iconv_t>(-1)) {
        throw std::runtime_error("iconv cannot convert UTF-8 to CP866");
    }
    std::string in = utf8;
    std::string out(in.size(), '\0');  // CP866 never needs more bytes than UTF-8
    char* inNext = in.data();
    std::size_t inLeft = in.size();
    char* outNext = out.data();
    std::size_t outLeft = out.size();
    std::size_t done = iconv(converter, &inNext, &inLeft, &outNext, &outLeft);
    iconv_close(converter);
    if (done == static_cast<std::size_t>(-1)) {
        throw std::runtime_error("not convertible to CP866: " + utf8);
    }
    out.resize(out.size() - outLeft);
    return out;
}

class WineProgram : public PortbootProgram {
  public:
    const char* Name() const override { return "PORTBOOT.EXE"; }
    // Only "1" to "9": a digit after the mode letter is an entry point.
    bool NamesPortsByPath() const override { return false; }
    // The program opens the port with no sharing, which Windows's serial driver enforces; Wine
    // lets a second process open the same COM port all the same.
    bool KeepsSecondLoaderOut() const override { return false; }

    test_support::SpawnOptions Spawn(const std::vector<std::string>& args,
                                     const std::string& workDir,
                                     bool controllingPty) const override {
        test_support::SpawnOptions spawn;
        spawn.argv = {kWineProgram, kWindowsPortboot};
        spawn.argv.insert(spawn.argv.end(), args.begin(), args.end());
        // There is no display here. Wine's console starts the desktop process (explorer) when it
        // first turns a typed key into a key event, and without a display driver it then sat
        // about 9 s before passing the key on; with explorer switched off that fails at once.
        spawn.extraEnv = {"WINEPREFIX=" + PrefixPath(),
                          "WINEDEBUG=-all",
                          "LC_ALL=ru_RU.UTF-8",
                          "LANG=ru_RU.UTF-8",
                          "WINEDLLOVERRIDES=explorer.exe=d",
                          std::string("LOCPATH=") + kLocaleDir};
        spawn.workDir = workDir;
        spawn.controllingPty = controllingPty;
        if (controllingPty) {
            // Wine gives a program a console only when its standard input is a terminal; the
            // controlling terminal alone is not enough.
            spawn.stdinPath = "/dev/tty";
        }
        return spawn;
    }

    // Wine's console puts the terminal in raw mode at start-up, long before the key wait, so
    // the terminal's mode tells nothing here. The program writes out its message just before
    // it waits (redirected output is otherwise held until the exit).
    void AwaitKeyWait(test_support::Child& program) const override {
        auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (std::chrono::steady_clock::now() < giveUp && program.Stdout().empty() &&
               program.Running()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        // From the flush to _getch is a few calls.
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }

    std::string AttachPort(const std::string& slavePath) const override {
        // Replaced in one step, so a Wine process never finds COM1 missing.
        std::string link = DosDevice(kDevicePort);
        std::string fresh = link + ".new";
        unlink(fresh.c_str());
        if (symlink(slavePath.c_str(), fresh.c_str()) != 0 ||
            rename(fresh.c_str(), link.c_str()) != 0) {
            throw std::runtime_error("cannot link " + link + ": " + std::strerror(errno));
        }
        return kDevicePort;
    }

    std::string AbsentPortOption() const override {
        unlink(DosDevice(kAbsentPort).c_str());
        return kAbsentPort;
    }

    std::string ShownPortName(const std::string&) const override {
        return std::string("COM") + kDevicePort;
    }

    // A Unix path outside the prefix's C: drive is seen on drive Z:.
    std::string ShownImagePath(const std::string& dir, const std::string& file) const override {
        std::string path = "Z:" + dir + "\\" + file;
        for (char& c : path) {
            c = c == '/' ? '\\' : c;
        }
        return path;
    }

    std::string PlatformText(const std::string& linuxText) const override {
        std::string text;
        for (char c : ToCp866(linuxText)) {
            if (c == '\n') {
                text.push_back('\r');
            }
            text.push_back(c);
        }
        return text;
    }

    // The description of errno 0: Wine's msvcrt words it so; Windows's own says "No error".
    std::string EmptyFileReason() const override { return "Success"; }
    // The run-time library's open refuses a directory.
    std::string DirectoryReason() const override { return "Permission denied"; }
    std::string UsageNote() const override { return ""; }
    bool AddsPortNotes() const override { return false; }
};

}  // namespace

const PortbootProgram& WinePortboot() {
    static const WineProgram program;
    return program;
}

}  // namespace e2e

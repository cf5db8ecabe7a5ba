// The load sequence over a fake port: its slots are scripted, so each test sees every byte the
// loader puts on the wire, when it discards the input, and how long it waits for each status,
// and decides what the device answers and how much each write moves. No terminal is involved.
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <string>
#include <vector>

#include "child_process.h"
#include "command_line.h"
#include "console_texts.h"
#include "expected_texts.h"
#include "image_file.h"
#include "load_sequence.h"
#include "loader_settings.h"

bool TestsHaveNoTerminal();

namespace {

using namespace portboot;
using namespace expected;
using Bytes = std::vector<std::uint8_t>;

constexpr int kNoAnswer = -1;    // in a status script: the read times out
constexpr int kReadFails = -2;   // in a status script: the read fails with EIO
constexpr int kWriteFails = -1;  // in a write script: the call fails with EIO

class FakePort : public ComPort {
  public:
    bool Open(const PortName& name, std::uint32_t baudRate) override {
        openedName = name.Label();
        openedBaud = baudRate;
        if (failOpenWith != 0) {
            errno = failOpenWith;
            return false;
        }
        open = true;
        return true;
    }

    // Also notes how much the load had printed by then (standard output is a captured file).
    bool DiscardInput() override {
        discardedAt.push_back(wire.size());
        std::fflush(stdout);
        printedAtDiscard.push_back(lseek(STDOUT_FILENO, 0, SEEK_CUR));
        return true;
    }

    // Block writes (more than one byte) follow the script; single bytes always go out.
    int Write(const std::uint8_t* bytes, std::uint32_t count, std::uint32_t) override {
        std::uint32_t moved = count;
        if (count == 1 && wire.size() == failByteAt) {
            errno = EIO;
            return -1;
        }
        if (count > 1) {
            blockWrites.push_back(count);
            if (!writeScript.empty()) {
                const int step = writeScript.front();
                writeScript.pop_front();
                if (step == kWriteFails) {
                    errno = EIO;
                    return -1;
                }
                moved = std::min<std::uint32_t>(count, static_cast<std::uint32_t>(step));
            }
        }
        wire.insert(wire.end(), bytes, bytes + moved);
        return static_cast<int>(moved);
    }

    bool WaitForLine(std::uint32_t) override {
        drainedAt.push_back(wire.size());
        return true;
    }

    // One scripted status per read; an empty script never answers.
    ReadResult ReadStatus(std::uint8_t& status, std::uint32_t waitMs) override {
        statusWaits.push_back(waitMs);
        const int step = statusScript.empty() ? kNoAnswer : statusScript.front();
        if (!statusScript.empty()) {
            statusScript.pop_front();
        }
        if (step == kReadFails) {
            errno = EIO;
            return ReadResult::Failed;
        }
        if (step == kNoAnswer) {
            return ReadResult::TimedOut;
        }
        status = static_cast<std::uint8_t>(step);
        return ReadResult::Received;
    }

    void Close() override { open = false; }

    bool open = false;
    std::string openedName;
    std::uint32_t openedBaud = 0;
    int failOpenWith = 0;
    std::deque<int> statusScript;
    std::deque<int> writeScript;
    std::size_t failByteAt = SIZE_MAX;  // a single-byte write at this wire position fails
    std::vector<std::uint32_t> blockWrites;
    std::vector<std::size_t> discardedAt;  // wire length at each discard of the input
    std::vector<off_t> printedAtDiscard;   // bytes of standard output at each discard
    std::vector<std::size_t> drainedAt;    // wire length at each wait for the line
    std::vector<std::uint32_t> statusWaits;
    Bytes wire;
};

Bytes Image(std::size_t size) {
    Bytes image(size);
    for (std::size_t i = 0; i < size; ++i) {
        image[i] = static_cast<std::uint8_t>(i * 7 + 1);  // never 0, so a 0 pad shows
    }
    return image;
}

// The bytes a whole load puts on the wire.
Bytes ExpectedWire(const Bytes& image, std::uint8_t lastCommand, unsigned entry) {
    const std::size_t n = image.size();
    Bytes w;
    w.reserve(n + 11);
    w.assign({DevInit, DevLoadCode, 0, 0, static_cast<std::uint8_t>(n >> 8),
              static_cast<std::uint8_t>(n & 0xFF)});
    w.insert(w.end(), image.begin(), image.end());
    if (n % 2 == 1) {
        w.push_back(0);
    }
    w.insert(w.end(), {DevEndOfCode, lastCommand, static_cast<std::uint8_t>(entry >> 8),
                       static_cast<std::uint8_t>(entry & 0xFF)});
    return w;
}

// How a stop is to be reported: the form, its text and number, and the platform's note.
struct Report {
    LoadResult::Form form;
    Text text;
    int code;
    std::string note;
};

void ExpectReport(const LoadResult& result, const Report& expected) {
    EXPECT_EQ(result.form, expected.form);
    EXPECT_EQ(result.text, expected.text);
    EXPECT_EQ(result.code, expected.code);
    // The note under "no answer" says more where ModemManager runs on the machine.
    const std::string more = result.note.substr(std::min(result.note.size(), expected.note.size()));
    EXPECT_EQ(result.note.substr(0, expected.note.size()), expected.note);
    EXPECT_TRUE(more.empty() ||
                (expected.text == Text::NoAnswer && more == expected::kNoAnswerModemNote))
        << result.note;
}

// The line the Linux port adds under a failed transfer on COM1.
const std::string kEioNote = "Порт COM1 (/dev/ttyS0): Input/output error";
const std::string kTimeoutNote = "Порт COM1 (/dev/ttyS0): Connection timed out";
// The line under "no answer" on COM1 at the default speed: what to check.
const std::string kSilenceNote =
    expected::kNoAnswerNotePort + "COM1 (/dev/ttyS0), 57600" + expected::kNoAnswerNoteAdvice;

class LoadSequenceTest : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(TestsHaveNoTerminal());
        imagePath_ = dir_.File("image.bin");
        Settings({});
    }

    void WriteImage(const Bytes& image) {
        std::ofstream out(imagePath_, std::ios::binary);
        out.write(reinterpret_cast<const char*>(image.data()),
                  static_cast<std::streamsize>(image.size()));
    }

    void Settings(std::vector<const char*> options) {
        std::vector<const char*> argv = {"portboot", "image.bin"};
        argv.insert(argv.end(), options.begin(), options.end());
        const CommandLine parsed =
            ParseCommandLine(static_cast<int>(argv.size()), argv.data(), true);
        ASSERT_EQ(parsed.refusedIndex, 0);
        settings_ = parsed.settings;
    }

    // Runs the load on a fake port; what it printed on the way (the information block, the
    // labels) and how it ended are kept for the test to compare.
    int Run(FakePort& port, const std::string& path) {
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        result_ = RunLoad(path.c_str(), settings_, port, false, texts_);
        std::fflush(stdout);
        out_ = testing::internal::GetCapturedStdout();
        err_ = testing::internal::GetCapturedStderr();
        return result_.status;
    }
    int Run(const std::string& path) { return Run(port_, path); }
    int Run() { return Run(imagePath_); }

    // The text printed before the first command: the information block.
    std::string InfoBlock(const std::string& function, unsigned length) const {
        // The image is named by its absolute path: the current directory stays out of it.
        return expected::Info(imagePath_, settings_.port.Label(), settings_.baudRate, function,
                              settings_.entryPoint, length);
    }

    const ConsoleTexts texts_;
    test_support::TempDir dir_;
    std::string imagePath_;
    LoaderSettings settings_;
    FakePort port_;
    std::string out_;
    std::string err_;
    LoadResult result_;
};

struct WireCase {
    const char* name;
    std::size_t imageSize;
    std::vector<const char*> options;
    std::uint8_t lastCommand;
    unsigned entry;
};

TEST_F(LoadSequenceTest, WholeLoadPutsTheProtocolOnTheWire) {
    const WireCase cases[] = {
        {"odd image, load mode: pad byte 0", 3, {"L"}, DevSaveCode, 0},
        {"even image, run mode, entry 258", 4, {"R", "258"}, DevExecute, 258},
        {"one byte", 1, {"r", "65534"}, DevExecute, 65534},
        {"largest image, no mode", 65534, {}, DevSaveCode, 0},
        {"odd 65533", 65533, {"l", "16"}, DevSaveCode, 16},
    };
    for (const WireCase& c : cases) {
        SCOPED_TRACE(c.name);
        Settings(c.options);
        FakePort port;
        port.statusScript = {0, 0, 0, 0};
        const Bytes image = Image(c.imageSize);
        WriteImage(image);
        EXPECT_EQ(Run(port, imagePath_), kExitDone);
        EXPECT_EQ(port.wire, ExpectedWire(image, c.lastCommand, c.entry));
        EXPECT_FALSE(port.open) << "port left open";
        EXPECT_EQ(port.openedName, "COM1");
        // Input waiting from before the load is thrown away before the first command; each
        // status is waited for once the line has carried its command, and the load ends once
        // the line has carried the entry point.
        EXPECT_EQ(port.discardedAt, std::vector<std::size_t>{0});
        const std::size_t n = port.wire.size();
        const std::vector<std::size_t> drained = {1, 2, n - 3, n - 2, n};
        EXPECT_EQ(port.drainedAt, drained);
        EXPECT_EQ(port.statusWaits, std::vector<std::uint32_t>(4, kLineTimeoutMs));
    }
}

TEST_F(LoadSequenceTest, SuccessPrintsInfoBlockAndOneLinePerCommand) {
    Settings({"7", "115200", "L", "4660"});
    port_.statusScript = {0, 0, 0, 0};
    WriteImage(Image(5));
    ASSERT_EQ(Run(), kExitDone);
    EXPECT_EQ(out_,
              InfoBlock(kLoadFunction, 5) + kInit + kLoadCode + kEndOfCode + kFinished + kSave);
    EXPECT_EQ(err_, "");
    ExpectReport(result_, {LoadResult::Form::Done, Text::Usage, 0, ""});
    EXPECT_TRUE(result_.exchangeBegun) << "main ends the last line";
    EXPECT_EQ(port_.openedName, "COM7");
}

TEST_F(LoadSequenceTest, RunModeNamesExecution) {
    Settings({"R"});
    port_.statusScript = {0, 0, 0, 0};
    WriteImage(Image(2));
    ASSERT_EQ(Run(), kExitDone);
    EXPECT_EQ(out_,
              InfoBlock(kRunFunction, 2) + kInit + kLoadCode + kEndOfCode + kFinished + kExecute);
}

struct StatusCase {
    const char* name;
    std::deque<int> statuses;
    int exitStatus;
    std::size_t wireLength;  // the failed command is the last byte sent
    std::string outputTail;  // the label of the failed command ends the output
    Report report;
};

TEST_F(LoadSequenceTest, FailedCommandStopsTheSequence) {
    const std::size_t image = 6;
    const std::size_t beforeEnd = 2 + 4 + image;
    using Form = LoadResult::Form;
    const StatusCase cases[] = {
        {"init answered 5",
         {5},
         kExitDeviceError,
         1,
         kInit,
         {Form::TextAndCode, Text::DeviceError, 5, ""}},
        {"init read fails: told apart from silence",
         {kReadFails},
         kExitNoAnswer,
         1,
         kInit,
         {Form::TextAndCode, Text::PortReadError, EIO, kEioNote}},
        {"init unanswered",
         {},
         kExitNoAnswer,
         1,
         kInit,
         {Form::Text, Text::NoAnswer, 0, kSilenceNote}},
        {"load code answered 255",
         {0, 255},
         kExitDeviceError,
         2,
         kLoadCode,
         {Form::TextAndCode, Text::DeviceError, 255, ""}},
        {"end of code unanswered",
         {0, 0, kNoAnswer},
         kExitNoAnswer,
         beforeEnd + 1,
         kEndOfCode,
         {Form::Text, Text::NoAnswer, 0, kSilenceNote}},
        {"save answered 1: no entry point sent",
         {0, 0, 0, 1},
         kExitDeviceError,
         beforeEnd + 2,
         kFinished + kSave,
         {Form::TextAndCode, Text::DeviceError, 1, ""}},
    };
    for (const StatusCase& c : cases) {
        SCOPED_TRACE(c.name);
        FakePort port;
        port.statusScript = c.statuses;
        WriteImage(Image(image));
        Settings({"L"});
        EXPECT_EQ(Run(port, imagePath_), c.exitStatus);
        EXPECT_EQ(port.wire.size(), c.wireLength);
        const std::string& tail = c.outputTail;
        ASSERT_GE(out_.size(), tail.size());
        EXPECT_EQ(out_.substr(out_.size() - tail.size()), tail);
        ExpectReport(result_, c.report);
        EXPECT_TRUE(result_.exchangeBegun);
        EXPECT_FALSE(port.open) << "port left open";
    }
}

// A board that DTR resets sends its banner while the image is read and the information block is
// printed: the input is discarded after those, right before the first command.
TEST_F(LoadSequenceTest, StaleInputIsDiscardedRightBeforeTheFirstCommand) {
    Settings({"L"});
    port_.statusScript = {0, 0, 0, 0};
    WriteImage(Image(3));
    ASSERT_EQ(Run(), kExitDone);
    EXPECT_EQ(port_.discardedAt, std::vector<std::size_t>{0});
    ASSERT_EQ(port_.printedAtDiscard.size(), 1u);
    EXPECT_EQ(port_.printedAtDiscard[0], static_cast<off_t>(InfoBlock(kLoadFunction, 3).size()));
}

TEST_F(LoadSequenceTest, PartialWritesGoOnWhereTheyStopped) {
    Settings({"L"});
    port_.statusScript = {0, 0, 0, 0};
    port_.writeScript = {1, 1000, 7, 30000};
    const Bytes image = Image(40001);
    WriteImage(image);
    ASSERT_EQ(Run(), kExitDone);
    EXPECT_EQ(port_.wire, ExpectedWire(image, DevSaveCode, 0));
    // Parts of 50 ms of line at 57600 Bd, so a progress view moves while the line carries them.
    ASSERT_GT(port_.blockWrites.size(), 4u);
    for (std::uint32_t count : port_.blockWrites) {
        EXPECT_LE(count, 288u);
    }
}

struct WriteFailureCase {
    const char* name;
    std::deque<int> writes;
    std::size_t wireLength;  // commands, length bytes and what of the image went out
    int error;
    std::string note;
};

TEST_F(LoadSequenceTest, ImageWriteThatFailsOrStallsEndsWithStatus9) {
    const WriteFailureCase cases[] = {
        {"first write fails", {kWriteFails}, 6, EIO, kEioNote},
        {"fails after a part", {100, kWriteFails}, 106, EIO, kEioNote},
        {"moves nothing in time", {0}, 6, ETIMEDOUT, kTimeoutNote},
        {"stalls after a part", {200, 0}, 206, ETIMEDOUT, kTimeoutNote},
    };
    for (const WriteFailureCase& c : cases) {
        SCOPED_TRACE(c.name);
        FakePort port;
        port.statusScript = {0, 0, 0, 0};
        port.writeScript = c.writes;
        WriteImage(Image(2000));
        Settings({"L"});
        EXPECT_EQ(Run(port, imagePath_), kExitPortWriteFailed);
        EXPECT_EQ(out_.substr(out_.rfind(kLoadCode)), kLoadCode);
        ExpectReport(result_,
                     {LoadResult::Form::TextAndCode, Text::PortWriteError, c.error, c.note});
        // Nothing follows what of the image went out: no end-of-code command.
        EXPECT_EQ(port.wire.size(), c.wireLength);
        EXPECT_FALSE(port.open) << "port left open";
    }
}

TEST_F(LoadSequenceTest, CommandLengthOrEntryByteThatFailsEndsWithStatus9) {
    struct Case {
        const char* name;
        std::size_t failByteAt;
        std::string lastLabel;
    };
    // Wire: init, load, four length bytes, 2 image bytes, end of code, save, two entry bytes.
    const Case cases[] = {
        {"first command", 0, kInit},         {"end-of-code command", 8, kEndOfCode},
        {"first length byte", 2, kLoadCode}, {"last length byte", 5, kLoadCode},
        {"first entry byte", 10, kSave},     {"last entry byte", 11, kSave},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakePort port;
        port.statusScript = {0, 0, 0, 0};
        port.failByteAt = c.failByteAt;
        WriteImage(Image(2));
        Settings({"L", "258"});
        EXPECT_EQ(Run(port, imagePath_), kExitPortWriteFailed);
        EXPECT_EQ(out_.substr(out_.rfind(c.lastLabel)), c.lastLabel);
        ExpectReport(result_, {LoadResult::Form::TextAndCode, Text::PortWriteError, EIO, kEioNote});
        EXPECT_EQ(port.wire.size(), c.failByteAt) << "nothing goes out after the failed byte";
        EXPECT_FALSE(port.open) << "port left open";
    }
}

TEST_F(LoadSequenceTest, FileOf65535BytesIsTooLarge) {
    WriteImage(Image(65535));
    EXPECT_EQ(Run(), kExitFileTooLarge);
    EXPECT_EQ(out_, "");
    ExpectReport(result_, {LoadResult::Form::Text, Text::FileTooLarge, 0, ""});
    EXPECT_FALSE(result_.exchangeBegun);
    EXPECT_TRUE(port_.wire.empty());
}

// A read that comes short sets no error number, whose description ("Success") no one should
// read under a failure: the reason says what came instead.
TEST_F(LoadSequenceTest, EmptyFileIsNotLoaded) {
    WriteImage({});
    EXPECT_EQ(Run(), kExitFileNotRead);
    EXPECT_EQ(out_, "");
    EXPECT_EQ(result_.reason, "файл пуст");
    ExpectReport(result_, {LoadResult::Form::Description, Text::FileNotLoaded, 0, ""});
    EXPECT_FALSE(result_.ownName);
    EXPECT_TRUE(port_.wire.empty());
}

// A sysfs attribute measures a page and reads a few bytes: fewer bytes than measured.
TEST_F(LoadSequenceTest, ShortReadSaysHowMuchCame) {
    const std::string attribute = "/sys/devices/system/cpu/online";
    struct stat info;
    if (stat(attribute.c_str(), &info) != 0 || info.st_size <= 0 || info.st_size > 65534) {
        GTEST_SKIP() << attribute << " is not there or measures no page";
    }
    const std::string content = test_support::ReadFile(attribute);
    ASSERT_LT(content.size(), static_cast<std::size_t>(info.st_size));
    EXPECT_EQ(Run(attribute), kExitFileNotRead);
    EXPECT_EQ(result_.reason, "прочитано " + std::to_string(content.size()) + " байт из " +
                                  std::to_string(info.st_size));
    EXPECT_TRUE(port_.wire.empty());
}

// A directory opens for reading on Linux, yet has no bytes to load: it is a file that cannot
// be opened, named with the reason, as where its open fails (Windows).
TEST_F(LoadSequenceTest, DirectoryCannotBeOpened) {
    EXPECT_EQ(Run(dir_.Path()), kExitCannotOpen);
    EXPECT_EQ(out_, "");
    EXPECT_EQ(result_.form, LoadResult::Form::Description);
    EXPECT_TRUE(result_.ownName);
    EXPECT_EQ(result_.name, dir_.Path());
    EXPECT_EQ(result_.code, EISDIR);
    EXPECT_FALSE(port_.open);
    EXPECT_TRUE(port_.wire.empty());
}

// The current directory goes before a relative name only; on Windows a name with its own root,
// drive or server is one too.
TEST(ShownImagePathTest, DirectoryOnlyBeforeARelativeName) {
    struct Case {
        PathStyle style;
        const char* name;
        const char* shown;
    };
    const Case cases[] = {
        {PathStyle::Posix, "image.bin", "/w/image.bin"},
        {PathStyle::Posix, "sub/image.bin", "/w/sub/image.bin"},
        {PathStyle::Posix, "../image.bin", "/w/../image.bin"},
        {PathStyle::Posix, "/tmp/image.bin", "/tmp/image.bin"},
        {PathStyle::Posix, "C:image.bin", "/w/C:image.bin"},
        {PathStyle::Posix, "\\image.bin", "/w/\\image.bin"},
        {PathStyle::Windows, "image.bin", "C:\\w\\image.bin"},
        {PathStyle::Windows, "sub\\image.bin", "C:\\w\\sub\\image.bin"},
        {PathStyle::Windows, "sub/image.bin", "C:\\w\\sub/image.bin"},
        {PathStyle::Windows, "C:\\tmp\\image.bin", "C:\\tmp\\image.bin"},
        {PathStyle::Windows, "z:/tmp/image.bin", "z:/tmp/image.bin"},
        {PathStyle::Windows, "\\tmp\\image.bin", "\\tmp\\image.bin"},
        {PathStyle::Windows, "/tmp/image.bin", "/tmp/image.bin"},
        {PathStyle::Windows, "D:image.bin", "D:image.bin"},
        {PathStyle::Windows, "\\\\server\\share\\image.bin", "\\\\server\\share\\image.bin"},
        {PathStyle::Windows, "\\\\?\\C:\\image.bin", "\\\\?\\C:\\image.bin"},
        {PathStyle::Windows, "1:image.bin", "C:\\w\\1:image.bin"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string dir = c.style == PathStyle::Posix ? "/w" : "C:\\w";
        EXPECT_EQ(ShownImagePath(dir, c.name, c.style), c.shown);
    }
}

TEST_F(LoadSequenceTest, MissingFileClosesThePortAndNamesTheFile) {
    const std::string missing = dir_.File("missing.bin");
    EXPECT_EQ(Run(missing), kExitCannotOpen);
    EXPECT_EQ(out_, "");
    EXPECT_EQ(result_.form, LoadResult::Form::Description);
    EXPECT_TRUE(result_.ownName);
    EXPECT_EQ(result_.name, missing);
    EXPECT_EQ(result_.code, ENOENT);
    EXPECT_FALSE(port_.open);
    EXPECT_TRUE(port_.wire.empty());
}

// The fixed text with the system's code, and under it the line the Linux port adds: the device,
// the system's reason, and what a person can do about it.
TEST_F(LoadSequenceTest, PortThatCannotOpenGivesItsErrorCodeAndANote) {
    // A file stands for a device that only its group may open.
    const std::string device = dir_.File("ttyUSB7");
    test_support::WriteFile(device, "");
    const struct group* dialout = getgrnam("dialout");
    if (getuid() == 0 && dialout != nullptr) {
        ASSERT_EQ(chown(device.c_str(), static_cast<uid_t>(-1), dialout->gr_gid), 0);
    }
    struct stat info;
    ASSERT_EQ(stat(device.c_str(), &info), 0);
    const struct group* owner = getgrgid(info.st_gid);
    ASSERT_NE(owner, nullptr);
    const std::string group = owner->gr_name;
    struct Case {
        const char* name;
        std::string port;
        int error;
        std::string note;  // how the line under the fixed text begins
        bool whole;        // the note is all of that line
    };
    const Case cases[] = {
        {"no permission: the group and how to join it", device, EACCES,
         "Порт " + device + ": Permission denied; он открыт группе " + group +
             ": sudo usermod -aG " + group + " $USER, затем войдите в систему заново",
         true},
        {"no such device: the serial ports there are", "/dev/no-such-port", ENOENT,
         "Порт /dev/no-such-port: No such file or directory; ", false},
        {"a port digit names its device", "3", EIO, "Порт COM3 (/dev/ttyS2): Input/output error",
         true},
        {"in use by a program nobody can see", device, EBUSY,
         "Порт " + device + ": Device or resource busy; его держит другая программа", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakePort port;
        port.failOpenWith = c.error;
        WriteImage(Image(2));
        Settings({c.port.c_str()});
        EXPECT_EQ(Run(port, imagePath_), kExitCannotOpen);
        EXPECT_EQ(out_, "");
        EXPECT_EQ(result_.form, LoadResult::Form::TextAndCode);
        EXPECT_EQ(result_.text, Text::PortOpenError);
        EXPECT_EQ(result_.code, c.error);
        const std::string& note = result_.note;
        EXPECT_EQ(note.substr(0, c.note.size()), c.note);
        EXPECT_EQ(std::count(note.begin(), note.end(), '\n'), 0) << note;
        if (c.whole) {
            EXPECT_EQ(note, c.note);
        }
        EXPECT_EQ(port.openedName, c.port == "3" ? "COM3" : c.port);
    }
}

TEST_F(LoadSequenceTest, CodeWithoutLabelIsNotSent) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(SendCommand(port_, 7, texts_).status, kExitDone);
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "\n 7 ???");
    EXPECT_TRUE(port_.wire.empty());
}

}  // namespace

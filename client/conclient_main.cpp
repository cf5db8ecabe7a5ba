// conclient: runs a script of console requests against conproxy, one request per line, and
// prints one stable line per answer. It starts conproxy itself (the one beside this program,
// else on PATH, unless --server says otherwise) or attaches to one already started with
// --attach. With --dump each answer is followed by the raw bytes the reply left in the region
// (status, result and the command's data area as hex), so that two servers can be compared byte
// for byte.
// Scripts and answers are the user's text (Windows: UTF-8; Linux: the locale's encoding, UTF-8
// as a rule; a byte order mark before the first line is skipped); `write` sends it to the server
// in the console's code page (conproxy_text.h), `writehex` and `raw` send bytes as given.
// Every script line and option is checked before it is used: a bad one is named, with the form
// it should have, and never reaches the library as a number it did not mean.
#include <cctype>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "conclient_text.h"
#include "conproxy_client.h"
#include "conproxy_text.h"

namespace {

using conclient::ConproxyClient;
using conclient::WaitResult;
using conclient_text::Shown;

constexpr int kExitOk = 0;
constexpr int kExitNoServer = 1;
constexpr int kExitBadScript = 2;
constexpr int kExitUsage = 3;

void Usage(std::FILE* to) {
    std::fprintf(to,
                 "usage: conclient [--server PATH] [--attach SUFFIX REQUEST REPLY]\n"
                 "                 [--out FILE] [--timeout-ms N] [--dump] [SCRIPT]\n"
                 "       conclient --help | --version\n"
                 "script lines: write TEXT | writehex HEX.. | cursor COL ROW | info | peek |\n"
                 "              read | readtext COUNT | clear | nop | nop10 | exit |\n"
                 "              raw CMD OFFSET COUNT | sleep MS   (# starts a comment)\n"
                 "the script comes from SCRIPT, or from standard input when that is a file or a "
                 "pipe\n"
                 "read, readtext, raw 7 and raw 8 wait for a key without a time-out unless "
                 "--timeout-ms is given\n");
}

std::string FormatRecord(const conclient::InputRecord& r) {
    char line[160];
    if (r.eventType == conclient::kKeyEvent) {
        // The character as the user's text, as readtext shows it, not as a code page's byte.
        const std::string character =
            conclient_text::ShownConsoleText(std::string(1, static_cast<char>(r.asciiChar)));
        std::snprintf(line, sizeof line,
                      "key %s vk=0x%x scan=0x%x char=\"%s\" state=0x%x repeat=%u",
                      r.keyDown ? "down" : "up", r.virtualKeyCode, r.virtualScanCode,
                      character.c_str(), static_cast<unsigned>(r.controlKeyState), r.repeatCount);
    } else if (r.eventType == conclient::kWindowBufferSizeEvent) {
        std::snprintf(line, sizeof line, "resize %dx%d", r.sizeX, r.sizeY);
    } else {
        std::snprintf(line, sizeof line, "event type=%u", r.eventType);
    }
    return line;
}

// A whole decimal number from min to max, nothing before or after it.
bool ParseWhole(const std::string& word, long long min, long long max, long long* value) {
    if (word.empty() || word.size() > 20)
        return false;
    errno = 0;
    char* end = nullptr;
    const long long v = std::strtoll(word.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || !(std::isdigit(static_cast<unsigned char>(word.back()))) ||
        v < min || v > max)
        return false;
    *value = v;
    return true;
}

// The bytes of writehex: each word one byte in hexadecimal, 00 to FF.
bool ParseHex(const std::vector<std::string>& words, std::string* bytes) {
    for (const std::string& word : words) {
        char* end = nullptr;
        const unsigned long v = std::strtoul(word.c_str(), &end, 16);
        if (word.empty() || word[0] == '-' || word[0] == '+' || *end != '\0' || v > 0xFF)
            return false;
        bytes->push_back(static_cast<char>(v));
    }
    return true;
}

// The reply as it stands in the region: the record's status and result, and dataBytes bytes at
// the data offset.
std::string DumpLine(ConproxyClient& client, size_t dataBytes) {
    const uint8_t* region = client.Region();
    conclient::ConsoleRequest record;
    std::memcpy(&record, region, sizeof record);
    std::string line = "dump status=" + std::to_string(record.status) +
                       " result=" + std::to_string(record.result) + " data=";
    char hex[4];
    for (size_t i = 0; i < dataBytes; ++i) {
        std::snprintf(hex, sizeof hex, "%02x", region[conclient::kDefaultDataOffset + i]);
        line += hex;
    }
    return line + "\n";
}

// One script line's words after the verb, and what a verb tells the runner back.
struct Step {
    const std::vector<std::string>& words;  // the arguments
    const std::string& rest;                // the text after the verb and one blank (write)
    WaitResult result = WaitResult::kReplied;
    size_t dataBytes = 0;                 // the data area this command's reply fills (--dump)
    bool requested = true;                // a request went out (not a sleep)
    bool bad = false;                     // the arguments do not have the verb's form
    std::string refused = std::string();  // why the line was not sent (the script goes on)

    // The arguments as whole numbers within their ranges, exactly as many as given; else the
    // step is bad.
    bool Numbers(std::initializer_list<std::pair<long long, long long>> ranges,
                 std::vector<long long>* values) {
        bad = words.size() != ranges.size();
        size_t i = 0;
        for (const auto& range : ranges) {
            long long v = 0;
            if (bad || !ParseWhole(words[i++], range.first, range.second, &v)) {
                bad = true;
                return false;
            }
            values->push_back(v);
        }
        return !bad;
    }
};

constexpr std::pair<long long, long long> kInt16Range{INT16_MIN, INT16_MAX};
constexpr std::pair<long long, long long> kInt32Range{INT32_MIN, INT32_MAX};
constexpr std::pair<long long, long long> kUint32Range{0, UINT32_MAX};
constexpr std::pair<long long, long long> kMsRange{0, INT_MAX};

struct Runner;
using VerbAction = void (*)(Runner&, const std::string& verb, Step&);

struct Runner {
    ConproxyClient& client;
    std::ostream& out;
    bool started;
    int timeoutMs;
    // Reads wait for the person at the keyboard: no time-out unless one was given.
    int keyTimeoutMs;
    bool dump;
    unsigned long lineNumber = 0;

    // Runs one script line; false once the server can no longer be reached.
    bool Line(const std::string& line, bool* badLine);
};

void DoWrite(Runner& r, const std::string& verb, Step& step) {
    std::string bytes;
    if (verb == "writehex") {
        if (!ParseHex(step.words, &bytes)) {
            step.bad = true;
            return;
        }
    } else if (!conclient::TextToConsole(step.rest, &bytes, &step.refused)) {
        return;
    }
    step.result = r.client.WriteText(bytes);
    if (step.result == WaitResult::kReplied)
        r.out << verb << " ok\n";
}

void DoCursor(Runner& r, const std::string&, Step& step) {
    std::vector<long long> v;
    if (!step.Numbers({kInt16Range, kInt16Range}, &v))
        return;
    step.result = r.client.SetCursor(static_cast<int16_t>(v[0]), static_cast<int16_t>(v[1]));
    if (step.result == WaitResult::kReplied)
        r.out << "cursor " << v[0] << "," << v[1] << " ok\n";
}

void DoInfo(Runner& r, const std::string&, Step& step) {
    conclient::ScreenInfo s;
    step.result = r.client.GetScreenInfo(&s);
    step.dataBytes = conclient::kScreenInfoBytes;
    if (step.result == WaitResult::kReplied) {
        char text[160];
        std::snprintf(text, sizeof text,
                      "info size=%dx%d cursor=%d,%d attr=0x%x window=%d,%d,%d,%d max=%dx%d\n",
                      s.sizeX, s.sizeY, s.cursorX, s.cursorY, s.attributes, s.left, s.top, s.right,
                      s.bottom, s.maxX, s.maxY);
        r.out << text;
    }
}

void DoInputRecord(Runner& r, const std::string& verb, Step& step) {
    conclient::InputRecord record;
    uint32_t result = 0;
    step.result = verb == "peek" ? r.client.PeekInput(&record, &result)
                                 : r.client.ReadInput(&record, &result, r.keyTimeoutMs);
    step.dataBytes = conclient::kInputRecordBytes;
    if (step.result == WaitResult::kReplied) {
        r.out << verb << " result=" << result;
        if (result == 1)
            r.out << " " << FormatRecord(record);
        r.out << "\n";
    }
}

void DoReadText(Runner& r, const std::string&, Step& step) {
    std::vector<long long> v;
    if (!step.Numbers({kUint32Range}, &v))
        return;
    std::string text;
    step.result = r.client.ReadText(static_cast<uint32_t>(v[0]), &text, r.keyTimeoutMs);
    step.dataBytes = text.size();
    if (step.result == WaitResult::kReplied) {
        r.out << "readtext result=" << text.size() << " text=\""
              << conclient_text::ShownConsoleText(text) << "\"\n";
    }
}

void DoClear(Runner& r, const std::string&, Step& step) {
    int32_t status = -1;
    step.result = r.client.ClearScreen(&status);
    if (step.result == WaitResult::kReplied)
        r.out << "clear status=" << status << "\n";
}

void DoNop(Runner& r, const std::string& verb, Step& step) {
    step.result = r.client.Nop(verb == "nop" ? conclient::ConNop5 : conclient::ConNop10);
    if (step.result == WaitResult::kReplied)
        r.out << verb << " ok\n";
}

void DoExit(Runner& r, const std::string&, Step& step) {
    int32_t status = -1;
    step.result = r.client.Exit(&status);
    if (step.result != WaitResult::kReplied)
        return;
    r.out << "exit status=" << status;
    if (r.started) {
        conclient::ServerExit e = r.client.WaitServerExit(r.timeoutMs);
        if (e.ended && e.exited)
            r.out << " server-exit=" << e.code;
        else if (e.ended)
            r.out << " server-signal=" << e.signal;
        else
            r.out << " server-running";
    }
    r.out << "\n";
}

void DoRaw(Runner& r, const std::string&, Step& step) {
    std::vector<long long> v;
    if (!step.Numbers({kInt32Range, kInt32Range, kUint32Range}, &v))
        return;
    conclient::ConsoleRequest record{};
    // Reading an input record or text waits for the keyboard, as read and readtext do.
    const bool keyWait = v[0] == conclient::ConReadInput || v[0] == conclient::ConReadText;
    step.result = r.client.Raw(static_cast<int32_t>(v[0]), static_cast<int32_t>(v[1]),
                               static_cast<uint32_t>(v[2]), &record,
                               keyWait ? r.keyTimeoutMs : conclient::kClientReplyTimeout);
    if (step.result == WaitResult::kReplied) {
        r.out << "raw cmd=" << record.command << " status=" << record.status
              << " result=" << record.result << "\n";
    }
}

void DoSleep(Runner& r, const std::string&, Step& step) {
    std::vector<long long> v;
    if (!step.Numbers({kMsRange}, &v))
        return;
    std::this_thread::sleep_for(std::chrono::milliseconds(v[0]));
    r.out << "sleep ok\n";
    step.requested = false;
}

// A verb that takes no arguments.
void DoBare(Runner& r, const std::string& verb, Step& step, VerbAction action) {
    if (!step.words.empty()) {
        step.bad = true;
        return;
    }
    action(r, verb, step);
}

struct Verb {
    const char* name;
    VerbAction action;
    bool bare;         // takes no arguments
    const char* form;  // as a bad line's error names it
};
constexpr Verb kVerbs[] = {
    {"write", DoWrite, false, "write TEXT"},
    {"writehex", DoWrite, false, "writehex HEX.., bytes 00 to FF"},
    {"cursor", DoCursor, false, "cursor COL ROW, whole numbers from -32768 to 32767"},
    {"info", DoInfo, true, "info"},
    {"peek", DoInputRecord, true, "peek"},
    {"read", DoInputRecord, true, "read"},
    {"readtext", DoReadText, false, "readtext COUNT, a whole number from 0 to 4294967295"},
    {"clear", DoClear, true, "clear"},
    {"nop", DoNop, true, "nop"},
    {"nop10", DoNop, true, "nop10"},
    {"exit", DoExit, true, "exit"},
    {"raw", DoRaw, false, "raw CMD OFFSET COUNT, whole numbers"},
    {"sleep", DoSleep, false, "sleep MS, a whole number from 0 to 2147483647"},
};

bool Runner::Line(const std::string& line, bool* badLine) {
    std::istringstream in(line);
    std::string verb;
    in >> verb;
    std::vector<std::string> words;
    for (std::string word; in >> word;) words.push_back(word);
    std::string rest;
    if (line.size() > verb.size() + 1)
        rest = line.substr(verb.size() + 1);
    Step step{words, rest};
    const Verb* known = nullptr;
    for (const Verb& v : kVerbs) {
        if (verb == v.name)
            known = &v;
    }
    if (known != nullptr && known->bare)
        DoBare(*this, verb, step, known->action);
    else if (known != nullptr)
        known->action(*this, verb, step);
    if (known == nullptr || step.bad || !step.refused.empty()) {
        out << "error ";
        if (!step.refused.empty())
            out << verb << ": " << Shown(step.refused) << "\n";
        else if (known == nullptr)
            out << "bad line " << lineNumber << ": " << Shown(line)
                << " (unknown request: see conclient --help)\n";
        else
            out << "bad line " << lineNumber << ": " << Shown(line) << " (expected: " << known->form
                << ")\n";
        out.flush();
        *badLine = true;
        return true;
    }
    if (dump && step.requested && step.result == WaitResult::kReplied)
        out << DumpLine(client, step.dataBytes);
    out.flush();
    if (step.result != WaitResult::kReplied) {
        out << "error " << verb << ": " << conclient::WaitResultName(step.result) << "\n";
        out.flush();
        return false;
    }
    return true;
}

// What the command line asks for.
struct Options {
    std::string serverPath;
    std::string outPath;
    std::string scriptPath;
    conclient::ClientNames names;
    bool attach = false;
    bool dump = false;
    int timeoutMs = conclient::kDefaultReplyTimeoutMs;
    bool timeoutGiven = false;
};

enum class Parsed { kRun, kHelp, kVersion, kBad };

// The options into *o, each checked before anything starts; kBad with *error naming the option.
Parsed ParseOptions(int argc, char** argv, Options* o, std::string* error) {
    const auto value = [&](int i, const char* what) {
        if (i + 1 < argc && argv[i + 1][0] != '\0')
            return true;
        *error = std::string(argv[i]) + " needs " + what;
        return false;
    };
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help") {
            return Parsed::kHelp;
        } else if (a == "--version") {
            return Parsed::kVersion;
        } else if (a == "--server") {
            if (!value(i, "a PATH"))
                return Parsed::kBad;
            o->serverPath = argv[++i];
        } else if (a == "--attach") {
            if (i + 3 >= argc || !value(i, "three names: SUFFIX REQUEST REPLY") ||
                argv[i + 2][0] == '\0' || argv[i + 3][0] == '\0') {
                *error = "--attach needs three names: SUFFIX REQUEST REPLY";
                return Parsed::kBad;
            }
            o->attach = true;
            o->names = {argv[i + 1], argv[i + 2], argv[i + 3]};
            i += 3;
        } else if (a == "--out") {
            if (!value(i, "a FILE"))
                return Parsed::kBad;
            o->outPath = argv[++i];
        } else if (a == "--timeout-ms") {
            long long ms = 0;
            if (!value(i, "a number of milliseconds"))
                return Parsed::kBad;
            if (!ParseWhole(argv[++i], 1, INT_MAX, &ms)) {
                *error = "--timeout-ms takes a whole number of milliseconds from 1 to " +
                         std::to_string(INT_MAX) + ", not \"" + argv[i] + "\"";
                return Parsed::kBad;
            }
            o->timeoutMs = static_cast<int>(ms);
            o->timeoutGiven = true;
        } else if (a == "--dump") {
            o->dump = true;
        } else if (a.size() > 1 && a[0] == '-') {
            *error = "unknown option " + a;
            return Parsed::kBad;
        } else if (o->scriptPath.empty()) {
            o->scriptPath = a;
        } else {
            *error = "one script only: " + o->scriptPath + " and " + a;
            return Parsed::kBad;
        }
    }
    return Parsed::kRun;
}

// Lines of a script file or of standard input, read as they come (a pipe may feed them slowly).
class ScriptReader {
  public:
    explicit ScriptReader(std::FILE* from) : from_(from) {}
    ~ScriptReader() {
        if (from_ != nullptr && from_ != stdin)
            std::fclose(from_);
    }
    ScriptReader(const ScriptReader&) = delete;
    ScriptReader& operator=(const ScriptReader&) = delete;

    // The next line without its line end (LF or CR LF); false at the end.
    bool Next(std::string* line) {
        line->clear();
        int c = EOF;
        while ((c = std::getc(from_)) != EOF && c != '\n') line->push_back(static_cast<char>(c));
        if (c == EOF && line->empty())
            return false;
        if (!line->empty() && line->back() == '\r')
            line->pop_back();
        // An editor's byte order mark before the first line is no part of the script.
        if (first_ && line->compare(0, 3, "\xEF\xBB\xBF") == 0)
            line->erase(0, 3);
        first_ = false;
        return true;
    }

  private:
    std::FILE* from_;
    bool first_ = true;
};

// The script named (or standard input) opened and its first byte read, so that a folder or an
// unreadable file is refused before the server starts; nullptr with *error naming the reason.
std::FILE* OpenScript(const std::string& path, std::string* error) {
    if (path.empty())
        return stdin;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    int c = EOF;
    if (file != nullptr && (c = std::getc(file)) == EOF && std::ferror(file)) {
        const int reason = errno;
        std::fclose(file);
        file = nullptr;
        errno = reason;
    }
    if (file == nullptr) {
        *error = "cannot read " + path + ": " + std::strerror(errno);
        return nullptr;
    }
    if (c != EOF)
        std::ungetc(c, file);
    return file;
}

// A line on standard error. Its names come from the command line or the system, so it is shown
// as they are (escaped where they could drive the terminal).
void Complain(const std::string& message) {
    std::fprintf(stderr, "conclient: %s\n", conclient_text::ShownArgument(message).c_str());
}

// The client's server started (or attached to) and ready; false once an error line is printed.
bool StartClient(ConproxyClient& client, const Options& o, std::ostream& out) {
    // Ctrl+C or a hang-up ends the waits; the client then stops its server and removes its names.
    conclient::StopWaitingOnSignals();
    std::string error;
    if (!client.Open(o.names, &error)) {
        Complain(error);
        return false;
    }
    if (!o.attach) {
        conclient::StartOptions options;
        options.serverPath = o.serverPath;
        if (!client.StartServer(options, &error)) {
            Complain(error);
            return false;
        }
    }
    client.SetReplyTimeout(o.timeoutMs);
    const WaitResult ready = client.WaitReady();
    if (ready != WaitResult::kReplied) {
        out << "error ready: " << conclient::WaitResultName(ready) << "\n";
        return false;
    }
    out << "ready\n";
    out.flush();
    return true;
}

// The script's lines, one request each; the program's exit status.
int RunScript(Runner& runner, ScriptReader& script) {
    bool badLine = false;
    std::string line;
    while (script.Next(&line)) {
        ++runner.lineNumber;
        const size_t first = line.find_first_not_of(" \t");
        if (first == std::string::npos || line[first] == '#')
            continue;
        if (!runner.Line(line.substr(first), &badLine))
            return kExitNoServer;
    }
    return badLine ? kExitBadScript : kExitOk;
}

int UsageError(const std::string& error) {
    if (!error.empty())
        Complain(error);
    Usage(stderr);
    return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
    conclient_text::UseLocale();
    Options options;
    options.serverPath = conclient::DefaultServerPath(argv[0]);
    options.names = conclient::UniqueNames();
    std::string error;
    switch (ParseOptions(argc, argv, &options, &error)) {
        case Parsed::kHelp:
            Usage(stdout);
            return kExitOk;
        case Parsed::kVersion:
            std::printf("conclient %s\n", PROGRAM_VERSION);
            return kExitOk;
        case Parsed::kBad:
            return UsageError(error);
        case Parsed::kRun:
            break;
    }
    // The server takes the keys of this terminal: nothing typed here would reach the script.
    if (options.scriptPath.empty() && conclient_text::StdinIsTerminal())
        return UsageError("");
    std::FILE* scriptFile = OpenScript(options.scriptPath, &error);
    if (scriptFile == nullptr) {
        Complain(error);
        return kExitUsage;
    }
    ScriptReader script(scriptFile);
    std::ofstream outFile;
    if (!options.outPath.empty()) {
        errno = 0;
        outFile.open(options.outPath);
        if (!outFile) {
            Complain("cannot write " + options.outPath + ": " +
                     std::strerror(errno != 0 ? errno : EACCES));
            return kExitUsage;
        }
    }
    std::ostream& out = options.outPath.empty() ? std::cout : outFile;

    ConproxyClient client;
    if (!StartClient(client, options, out))
        return kExitNoServer;
    Runner runner{client,
                  out,
                  !options.attach,
                  options.timeoutMs,
                  options.timeoutGiven ? options.timeoutMs : conclient::kNoTimeout,
                  options.dump};
    return RunScript(runner, script);
}

// conclient: runs a script of console requests against conproxy, one request per line, and
// prints one stable line per answer. It starts conproxy itself (the one beside this program,
// else on PATH, unless --server says otherwise) or attaches to one already started with
// --attach. With --dump each answer is followed by the raw bytes the reply left in the region
// (status, result and the command's data area as hex), so that two servers can be compared byte
// for byte.
// Scripts and answers are the user's text (on Linux the locale's encoding, UTF-8 as a rule);
// `write` sends it to the server in code page 866, `writehex` and `raw` send bytes as given.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>

#include "conclient_text.h"
#include "conproxy_client.h"

namespace {

using conclient::ConproxyClient;
using conclient::WaitResult;

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

// Text from the server (code page 866) as the user's text; escapes only for control bytes,
// the quote and the backslash, and characters the locale cannot show.
std::string Escape(const std::string& bytes) {
    std::string out;
    char hex[8];
    for (unsigned char c : bytes) {
        const std::string shown = c >= 0x80 ? conclient_text::Shown866(c) : std::string();
        if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\\' || c == '"')
            out += std::string("\\") + static_cast<char>(c);
        else if (c >= 0x20 && c < 0x7F)
            out += static_cast<char>(c);
        else if (!shown.empty())
            out += shown;
        else {
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        }
    }
    return out;
}

std::string FormatRecord(const conclient::InputRecord& r) {
    char line[160];
    if (r.eventType == conclient::kKeyEvent) {
        std::snprintf(line, sizeof line, "key %s vk=0x%x scan=0x%x char=0x%x state=0x%x repeat=%u",
                      r.keyDown ? "down" : "up", r.virtualKeyCode, r.virtualScanCode, r.asciiChar,
                      static_cast<unsigned>(r.controlKeyState), r.repeatCount);
    } else if (r.eventType == conclient::kWindowBufferSizeEvent) {
        std::snprintf(line, sizeof line, "resize %dx%d", r.sizeX, r.sizeY);
    } else {
        std::snprintf(line, sizeof line, "event type=%u", r.eventType);
    }
    return line;
}

bool ParseHex(const std::string& text, std::string* bytes) {
    std::istringstream in(text);
    std::string token;
    while (in >> token) {
        char* end = nullptr;
        unsigned long v = std::strtoul(token.c_str(), &end, 16);
        if (token.empty() || *end != '\0' || v > 0xFF)
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
    std::istringstream& in;   // the arguments, for >> parsing
    const std::string& rest;  // the text after the verb and one blank (write)
    WaitResult result = WaitResult::kReplied;
    size_t dataBytes = 0;                 // the data area this command's reply fills (--dump)
    bool requested = true;                // a request went out (not a sleep)
    bool bad = false;                     // the arguments did not parse
    std::string refused = std::string();  // why the line was not sent (the script goes on)
};

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

    // Runs one script line; false once the server can no longer be reached.
    bool Line(const std::string& line, bool* badLine);
};

void DoWrite(Runner& r, const std::string& verb, Step& step) {
    std::string bytes;
    if (verb == "writehex") {
        if (!ParseHex(step.rest, &bytes)) {
            step.bad = true;
            return;
        }
    } else if (!conclient_text::To866(step.rest, &bytes, &step.refused)) {
        return;
    }
    step.result = r.client.WriteText(bytes);
    if (step.result == WaitResult::kReplied)
        r.out << verb << " ok\n";
}

void DoCursor(Runner& r, const std::string&, Step& step) {
    int col = 0, row = 0;
    if (!(step.in >> col >> row)) {
        step.bad = true;
        return;
    }
    step.result = r.client.SetCursor(static_cast<int16_t>(col), static_cast<int16_t>(row));
    if (step.result == WaitResult::kReplied)
        r.out << "cursor " << col << "," << row << " ok\n";
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
    unsigned long count = 0;
    if (!(step.in >> count)) {
        step.bad = true;
        return;
    }
    std::string text;
    step.result = r.client.ReadText(static_cast<uint32_t>(count), &text, r.keyTimeoutMs);
    step.dataBytes = text.size();
    if (step.result == WaitResult::kReplied)
        r.out << "readtext result=" << text.size() << " text=\"" << Escape(text) << "\"\n";
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
    long long cmd = 0, offset = 0;
    unsigned long long count = 0;
    if (!(step.in >> cmd >> offset >> count)) {
        step.bad = true;
        return;
    }
    conclient::ConsoleRequest record{};
    // Reading an input record or text waits for the keyboard, as read and readtext do.
    const bool keyWait = cmd == conclient::ConReadInput || cmd == conclient::ConReadText;
    step.result = r.client.Raw(static_cast<int32_t>(cmd), static_cast<int32_t>(offset),
                               static_cast<uint32_t>(count), &record,
                               keyWait ? r.keyTimeoutMs : conclient::kClientReplyTimeout);
    if (step.result == WaitResult::kReplied) {
        r.out << "raw cmd=" << record.command << " status=" << record.status
              << " result=" << record.result << "\n";
    }
}

void DoSleep(Runner& r, const std::string&, Step& step) {
    int ms = 0;
    if (!(step.in >> ms)) {
        step.bad = true;
        return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    r.out << "sleep ok\n";
    step.requested = false;
}

struct Verb {
    const char* name;
    VerbAction action;
};
constexpr Verb kVerbs[] = {
    {"write", DoWrite},      {"writehex", DoWrite},   {"cursor", DoCursor},     {"info", DoInfo},
    {"peek", DoInputRecord}, {"read", DoInputRecord}, {"readtext", DoReadText}, {"clear", DoClear},
    {"nop", DoNop},          {"nop10", DoNop},        {"exit", DoExit},         {"raw", DoRaw},
    {"sleep", DoSleep},
};

bool Runner::Line(const std::string& line, bool* badLine) {
    std::istringstream in(line);
    std::string verb;
    in >> verb;
    std::string rest;
    if (line.size() > verb.size() + 1)
        rest = line.substr(line.find(verb) + verb.size() + 1);
    Step step{in, rest};
    VerbAction action = nullptr;
    for (const Verb& v : kVerbs) {
        if (verb == v.name)
            action = v.action;
    }
    if (action != nullptr)
        action(*this, verb, step);
    if (action == nullptr || step.bad || !step.refused.empty()) {
        if (step.refused.empty())
            out << "error bad line: " << line << "\n";
        else
            out << "error " << verb << ": " << step.refused << "\n";
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

}  // namespace

int main(int argc, char** argv) {
    conclient_text::UseLocale();
    std::string serverPath = conclient::DefaultServerPath(argv[0]);
    std::string outPath, scriptPath;
    conclient::ClientNames names = conclient::UniqueNames();
    bool attach = false;
    bool dump = false;
    int timeoutMs = conclient::kDefaultReplyTimeoutMs;
    bool timeoutGiven = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--help") {
            Usage(stdout);
            return kExitOk;
        } else if (a == "--version") {
            std::printf("conclient %s\n", PROGRAM_VERSION);
            return kExitOk;
        } else if (a == "--server" && i + 1 < argc) {
            serverPath = argv[++i];
        } else if (a == "--attach" && i + 3 < argc) {
            attach = true;
            names = {argv[i + 1], argv[i + 2], argv[i + 3]};
            i += 3;
        } else if (a == "--out" && i + 1 < argc) {
            outPath = argv[++i];
        } else if (a == "--timeout-ms" && i + 1 < argc) {
            timeoutMs = std::atoi(argv[++i]);
            timeoutGiven = true;
        } else if (a == "--dump") {
            dump = true;
        } else if (a.size() > 1 && a[0] == '-') {
            Usage(stderr);
            return kExitUsage;
        } else if (scriptPath.empty()) {
            scriptPath = a;
        } else {
            Usage(stderr);
            return kExitUsage;
        }
    }

    // The server takes the keys of this terminal: nothing typed here would reach the script.
    if (scriptPath.empty() && conclient_text::StdinIsTerminal()) {
        Usage(stderr);
        return kExitUsage;
    }
    std::ifstream scriptFile;
    if (!scriptPath.empty()) {
        scriptFile.open(scriptPath);
        if (!scriptFile) {
            std::fprintf(stderr, "conclient: cannot read %s\n", scriptPath.c_str());
            return kExitUsage;
        }
    }
    std::istream& script = scriptPath.empty() ? std::cin : scriptFile;
    std::ofstream outFile;
    if (!outPath.empty()) {
        outFile.open(outPath);
        if (!outFile) {
            std::fprintf(stderr, "conclient: cannot write %s\n", outPath.c_str());
            return kExitUsage;
        }
    }
    std::ostream& out = outPath.empty() ? std::cout : outFile;

    // Ctrl+C or a hang-up ends the waits; the client then stops its server and removes its names.
    conclient::StopWaitingOnSignals();
    ConproxyClient client;
    std::string error;
    if (!client.Open(names, &error)) {
        std::fprintf(stderr, "conclient: %s\n", error.c_str());
        return kExitNoServer;
    }
    if (!attach) {
        conclient::StartOptions options;
        options.serverPath = serverPath;
        if (!client.StartServer(options, &error)) {
            std::fprintf(stderr, "conclient: %s\n", error.c_str());
            return kExitNoServer;
        }
    }
    client.SetReplyTimeout(timeoutMs);
    WaitResult ready = client.WaitReady();
    if (ready != WaitResult::kReplied) {
        out << "error ready: " << conclient::WaitResultName(ready) << "\n";
        return kExitNoServer;
    }
    out << "ready\n";
    out.flush();

    Runner runner{client, out, !attach, timeoutMs, timeoutGiven ? timeoutMs : conclient::kNoTimeout,
                  dump};
    bool badLine = false;
    std::string line;
    while (std::getline(script, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        size_t first = line.find_first_not_of(" \t");
        if (first == std::string::npos || line[first] == '#')
            continue;
        if (!runner.Line(line.substr(first), &badLine))
            return kExitNoServer;
    }
    return badLine ? kExitBadScript : kExitOk;
}

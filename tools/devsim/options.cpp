#include "options.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace devsim {

const char kUsageText[] =
    "usage: devsim [options]\n"
    "Simulates the target device on a pseudo-terminal. Prints the slave path as the first line\n"
    "of stdout, then the summary line when it ends.\n"
    "  --link PATH         also make a symlink PATH to the slave (removed at the end)\n"
    "  --out FILE          write the image received (without the pad byte) to FILE\n"
    "  --summary FILE      write the summary line to FILE as well\n"
    "  --status CMD=VALUE  answer command CMD (0, 1, 2, 4, 13) with status VALUE (0..255)\n"
    "  --silent CMD        do not answer command CMD\n"
    "  --delay-ms N        wait N ms before each status answer\n"
    "  --stale BYTE        put BYTE in the line before any host opens it (a banner, noise)\n"
    "  --unasked BYTE      send BYTE once when the host's first byte arrives, ahead of the\n"
    "                      answer to it: the host takes it as that command's status\n"
    "  --garbage BYTE      send BYTE over and over from the start, as fast as the line takes\n"
    "                      it, and answer no command (the host reads the stream instead)\n"
    "  --pace BAUD         take bytes no faster than BAUD allows (10 bits per byte)\n"
    "  --close-after N     close the line after N image bytes\n"
    "  --idle-ms N         end N ms after the last byte received (default 3000)\n"
    "  --timeout-ms N      end N ms after the first byte in any case (default 60000, plus the\n"
    "                      line time of the largest load at the --pace speed)\n"
    "  --sink              no protocol: count the bytes received until the line is idle\n"
    "  --cooked            leave the slave as the kernel opens it (canonical, echo): the host\n"
    "                      must make the line raw itself\n"
    "  --help, --version   this text, or the version; nothing else is done\n"
    "Numbers are decimal or 0x-prefixed hexadecimal.\n"
    "Exit status: 0 complete sequence, 2 incomplete, 3 unexpected bytes, 4 line closed by\n"
    "--close-after, 1 devsim's own error (bad option, no pseudo-terminal, file not written).\n";

namespace {

constexpr std::uint32_t kBaseTimeLimitMs = 60000;
// The most a host sends: two commands, the length, the largest padded image, two commands and
// the entry point.
constexpr std::uint64_t kLargestLoadBytes = 2 + 4 + 65534 + 2 + 2;
constexpr std::uint64_t kBitsPerByte = 10;

// Options that take a value after them.
bool TakesValue(const std::string& name) {
    for (const char* known :
         {"--link", "--out", "--summary", "--status", "--silent", "--delay-ms", "--stale",
          "--unasked", "--garbage", "--pace", "--close-after", "--idle-ms", "--timeout-ms"}) {
        if (name == known) {
            return true;
        }
    }
    return false;
}

// Whole text as a number: decimal, or hexadecimal after 0x. Rejects signs, blanks and junk.
bool ParseNumber(const char* text, std::uint32_t maxValue, std::uint32_t& value) {
    int base = 10;
    if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text += 2;
    }
    if (*text == '\0' || !std::isxdigit(static_cast<unsigned char>(*text))) {
        return false;
    }
    errno = 0;
    char* end = nullptr;
    unsigned long long parsed = std::strtoull(text, &end, base);
    if (errno != 0 || *end != '\0' || parsed > maxValue) {
        return false;
    }
    value = static_cast<std::uint32_t>(parsed);
    return true;
}

bool ParseCommand(const char* text, std::uint8_t& code) {
    std::uint32_t value = 0;
    if (!ParseNumber(text, 255, value)) {
        return false;
    }
    code = static_cast<std::uint8_t>(value);
    return code == 0 || code == 1 || code == 2 || code == 4 || code == 13;
}

}  // namespace

ParseResult ParseOptions(int argc, char** argv, Options& options, std::string& message) {
    for (int i = 1; i < argc; ++i) {
        std::string name = argv[i];
        if (name == "--help" || name == "-h") {
            return ParseResult::Help;
        }
        if (name == "--version") {
            return ParseResult::Version;
        }
        if (name == "--sink") {
            options.sink = true;
            continue;
        }
        if (name == "--cooked") {
            options.cooked = true;
            continue;
        }
        if (!TakesValue(name)) {
            message = "unknown option " + name;
            return ParseResult::Error;
        }
        if (i + 1 >= argc) {
            message = "missing value after " + name;
            return ParseResult::Error;
        }
        const char* value = argv[++i];
        std::uint32_t number = 0;
        bool ok = true;
        if (name == "--link") {
            options.linkPath = value;
        } else if (name == "--out") {
            options.outPath = value;
        } else if (name == "--summary") {
            options.summaryPath = value;
        } else if (name == "--status") {
            const char* equals = std::strchr(value, '=');
            std::uint8_t code = 0;
            ok = equals != nullptr && ParseCommand(std::string(value, equals).c_str(), code) &&
                 ParseNumber(equals + 1, 255, number);
            if (ok) {
                options.statusFor[code] = static_cast<std::uint8_t>(number);
            }
        } else if (name == "--silent") {
            std::uint8_t code = 0;
            ok = ParseCommand(value, code);
            if (ok) {
                options.silentOn[code] = true;
            }
        } else if (name == "--delay-ms") {
            ok = ParseNumber(value, 600000, options.delayMs);
        } else if (name == "--stale") {
            ok = ParseNumber(value, 255, number);
            options.stale = static_cast<std::uint8_t>(number);
        } else if (name == "--unasked") {
            ok = ParseNumber(value, 255, number);
            options.unasked = static_cast<std::uint8_t>(number);
        } else if (name == "--garbage") {
            ok = ParseNumber(value, 255, number);
            options.garbage = static_cast<std::uint8_t>(number);
        } else if (name == "--pace") {
            ok = ParseNumber(value, 100000000, options.paceBaud) && options.paceBaud > 0;
        } else if (name == "--close-after") {
            ok = ParseNumber(value, 65534, number);
            options.closeAfter = number;
        } else if (name == "--idle-ms") {
            ok = ParseNumber(value, 3600000, options.idleMs);
        } else {  // --timeout-ms, the last one TakesValue knows
            ok = ParseNumber(value, 86400000, number);
            options.timeoutMs = number;
        }
        if (!ok) {
            message = "bad value for " + name + ": '" + value + "'";
            return ParseResult::Error;
        }
    }
    return ParseResult::Run;
}

std::uint32_t TimeLimitMs(const Options& options) {
    if (options.timeoutMs) {
        return *options.timeoutMs;
    }
    if (options.paceBaud == 0) {
        return kBaseTimeLimitMs;
    }
    const std::uint64_t lineMs = kLargestLoadBytes * kBitsPerByte * 1000 / options.paceBaud;
    return static_cast<std::uint32_t>(kBaseTimeLimitMs + lineMs);
}

}  // namespace devsim

// Command-line options of devsim and their parser.
// Every number is checked whole and against its range; a bad option is reported, not guessed.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace devsim {

struct Options {
    std::string linkPath;     // --link: symlink to the slave made here
    std::string outPath;      // --out: the image received, without its pad byte
    std::string summaryPath;  // --summary: the summary line, also printed on stdout
    std::array<std::uint8_t, 256> statusFor{};  // --status CMD=VALUE, 0 = success
    std::array<bool, 256> silentOn{};           // --silent CMD
    std::uint32_t delayMs = 0;                  // --delay-ms, before each status answer
    std::optional<std::uint8_t> stale;        // --stale BYTE, in the line before the host opens it
    std::optional<std::uint8_t> unasked;      // --unasked BYTE, ahead of the first answer
    std::optional<std::uint8_t> garbage;      // --garbage BYTE, sent non-stop instead of answers
    std::uint32_t paceBaud = 0;               // --pace BAUD, 0 = read as fast as bytes come
    std::optional<std::uint32_t> closeAfter;  // --close-after N image bytes
    std::uint32_t idleMs = 3000;              // --idle-ms: end this long after the last byte
    std::optional<std::uint32_t> timeoutMs;   // --timeout-ms: end this long after the first byte
    bool sink = false;                        // --sink: only count bytes, no protocol
    bool cooked = false;                      // --cooked: leave the slave's defaults alone
};

enum class ParseResult { Run, Help, Version, Error };

// The time limit: as given, else long enough for the slowest load at the pace chosen.
std::uint32_t TimeLimitMs(const Options& options);

// Fills options from argv. On Error, message says what was wrong.
ParseResult ParseOptions(int argc, char** argv, Options& options, std::string& message);

extern const char kUsageText[];

}  // namespace devsim

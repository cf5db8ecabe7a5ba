// Arbitrary option vectors through ParseArgument and FillDefaults, checked against a small
// model of the option rules written here from scratch: the same accept/reject at every option
// and the same settings in the end. Each option also goes through ShownText, as an option is
// shown in a note: what comes out is well-formed UTF-8 (the C library's decoder says so) with no
// C0, DEL or C1 control in it. The input is the options separated by NUL bytes; each one is
// copied into an allocation of exactly its size, so a read past its end is caught.
#include <cctype>
#include <clocale>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "command_line.h"
#include "loader_settings.h"
#include "shown_text.h"

namespace {

using namespace portboot;

constexpr std::size_t kMaxOptions = 64;  // far beyond any real command line

// The rules as a user reads them: port (digit or, on Linux, a device path) and baud before the
// mode letter, entry point after it, each at most once.
struct Model {
    std::optional<int> portDigit;
    std::optional<std::string> devicePath;
    std::optional<std::uint32_t> baud;
    LoadMode mode = ModeUnset;
    std::optional<std::uint32_t> entry;

    // C's %u: blanks, one sign, digits; wraps modulo 2^32, '-' negates.
    static std::optional<std::uint32_t> ReadNumber(const std::string& text) {
        std::size_t i = 0;
        while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) {
            ++i;
        }
        bool minus = false;
        if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
            minus = text[i] == '-';
            ++i;
        }
        if (i >= text.size() || !std::isdigit(static_cast<unsigned char>(text[i]))) {
            return std::nullopt;
        }
        std::uint64_t value = 0;
        while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
            value = (value * 10 + static_cast<std::uint64_t>(text[i] - '0')) & 0xFFFFFFFFu;
            ++i;
        }
        if (minus) {
            value = (0x100000000u - value) & 0xFFFFFFFFu;
        }
        return static_cast<std::uint32_t>(value);
    }

    bool PortGiven() const { return portDigit.has_value() || devicePath.has_value(); }

    bool Accept(const std::string& text) {
        const char first = text.empty() ? '\0' : text[0];
        if (first == '/') {
            if (PortGiven() || text.size() + 1 > kPortPathSize) {
                return false;
            }
            devicePath = text;
            return true;
        }
        if (std::strchr("LlRr", first) != nullptr && first != '\0') {
            if (mode != ModeUnset) {
                return false;
            }
            mode = std::toupper(static_cast<unsigned char>(first)) == 'L' ? ModeLoad : ModeRun;
            return true;
        }
        const std::optional<std::uint32_t> number = ReadNumber(text);
        if (!number) {
            return false;
        }
        if (mode == ModeUnset) {
            if (*number < 10) {
                if (PortGiven()) {
                    return false;
                }
                portDigit = static_cast<int>(*number);
                return true;
            }
            if (baud || *number < 9600 || *number > 921600) {
                return false;
            }
            baud = *number;
            return true;
        }
        if (entry || *number > 65534) {
            return false;
        }
        entry = *number;
        return true;
    }

    std::string PortName() const {
        if (devicePath) {
            return *devicePath;
        }
        return "COM" + std::string(1, static_cast<char>('0' + portDigit.value_or(1)));
    }
};

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "fuzz_command_line: %s\n", what);
    std::abort();
}

// Nothing in the shown text can drive a terminal.
void CheckShown(const std::string& option) {
    const std::string shown = ShownText(option);
    std::mbstate_t state{};
    for (std::size_t at = 0; at < shown.size();) {
        wchar_t c = 0;
        const std::size_t length = std::mbrtowc(&c, shown.data() + at, shown.size() - at, &state);
        if (length == 0 || length > 4) {
            Fail("the shown text is not well-formed UTF-8");
        }
        if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) {
            Fail("the shown text holds a control character");
        }
        at += length;
    }
}

std::vector<std::string> SplitOptions(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> options;
    std::string current;
    for (std::size_t i = 0; i < size && options.size() < kMaxOptions; ++i) {
        if (data[i] == 0) {
            options.push_back(current);
            current.clear();
        } else {
            current.push_back(static_cast<char>(data[i]));
        }
    }
    if (options.size() < kMaxOptions && !current.empty()) {
        options.push_back(current);
    }
    return options;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool utf8 = std::setlocale(LC_ALL, "C.UTF-8") != nullptr;
    const std::vector<std::string> options = SplitOptions(data, size);
    if (utf8) {
        for (const std::string& option : options) {
            CheckShown(option);
        }
    }
    LoaderSettings s;
    Model model;
    bool allAccepted = true;
    for (const std::string& option : options) {
        // Exactly the option and its terminator, as argv holds it.
        std::unique_ptr<char[]> text(new char[option.size() + 1]);
        std::memcpy(text.get(), option.c_str(), option.size() + 1);
        const bool accepted = ParseArgument(text.get(), s, true);
        if (accepted != model.Accept(option)) {
            Fail(accepted ? "an option the rules refuse was accepted"
                          : "an option the rules accept was refused");
        }
        if (!accepted) {
            allAccepted = false;
            break;  // the program stops at the first refused option
        }
    }
    if (!allAccepted) {
        return 0;
    }
    FillDefaults(s);
    if (model.PortName() != s.port.Label()) {
        Fail("wrong port name");
    }
    if (s.baudRate != model.baud.value_or(kDefaultBaudRate)) {
        Fail("wrong baud rate");
    }
    if (s.mode != model.mode || s.entryPoint != model.entry.value_or(0)) {
        Fail("wrong mode or entry point");
    }
    return 0;
}

// Windows prints the fixed texts alone, as it always has.
#include "port_notes.h"

namespace portboot {

std::string PortOpenNote(const ConsoleTexts&, const PortName&, int, PortRefusal) {
    return std::string();
}

std::string PortTransferNote(const ConsoleTexts&, const PortName&, int) {
    return std::string();
}

std::string NoAnswerNote(const ConsoleTexts&, const PortName&, std::uint32_t) {
    return std::string();
}

TextBytes PortNoteText(Text) {
    return TextBytes{"", 0};
}

}  // namespace portboot

// Windows prints the fixed texts alone, as it always has.
#include "port_notes.h"

namespace portboot {

std::string PortOpenNote(const char*, int) {
    return std::string();
}

std::string PortTransferNote(const char*, int) {
    return std::string();
}

}  // namespace portboot

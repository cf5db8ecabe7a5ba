// portboot: sends a program image to a target device over a serial line.
#include "command_line.h"

int main(int argc, char** argv) {
    return RunPortboot(argc, argv);
}

// The one table of portboot runs: each row starts the program against devsim on a real
// pseudo-terminal and checks the exit status, the output, the time it took and what the device
// received. e2e_load_test.cpp holds the harness and the rows that run under Wine too;
// e2e_fault_test.cpp adds the rows of a faulty device.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "expected_texts.h"

namespace e2e {

using Fields = std::map<std::string, std::string>;

// What the device sees when the host never got as far as the first command.
inline const Fields kNothingSent = {{"commands", "none"}, {"length", "none(0/4)"}, {"extra", "0"}};

// Rows name their fields; what a row leaves out is not checked, or is empty.
struct RunCase {
    const char* name = "";
    std::vector<std::string> devsimOptions{};
    long imageSize = 3;  // bytes in the image file; -1: no file
    // The image file's name ({file}), and the folder, under the test's own, that the program
    // runs in and the file lies in ("": the test's folder itself).
    const char* imageName = "image.bin";
    const char* folder = "";
    // After the program name: {file}, {port}, {absentport}, {fifo}, {dir} (the test's folder),
    // {subdir} (a directory in the run's folder), {abspath} (the image's absolute path, as the
    // program's platform writes it).
    std::vector<std::string> args{};
    int exitStatus = 0;
    std::string out{};         // standard output, byte for byte ({path} and {port} filled in)
    bool outIsPrefix = false;  // out is only the start; outAlso must follow somewhere
    std::string outAlso{};
    std::string outEnd{};        // with outIsPrefix: how the output ends
    std::string err{};           // standard error must start with this ("" = must be empty)
    std::string deviceResult{};  // devsim's result word; "": not checked
    Fields device{};             // further summary fields the device must report
    int minElapsedMs = 0;        // loose lower bound on portboot's run time; 0 = none
    // Upper bound on the run time; 0: the lower bound and the start-up allowance, if any.
    int maxElapsedMs = 0;
    bool needsPortPath = false;  // the port is named by a path, where only a path can stand
    bool linuxOnly = false;      // checks what only the Linux program has
    const char* locale = "";     // LC_ALL for the run; "": the program's usual one
    // Where out holds "{note}", a program that adds notes prints one line there that begins
    // with this ({port}, {absentport} filled in); the others print nothing there.
    const char* note = "";
    int noteLines = 1;  // the lines "{note}" stands for
};

inline std::ostream& operator<<(std::ostream& stream, const RunCase& row) {
    return stream << row.name;
}

// The information block with placeholders for the image's path and the port.
inline std::string Info(unsigned baud, const std::string& function, unsigned entry,
                        unsigned length) {
    return expected::Info("{path}", "{port}", baud, function, entry, length);
}

class PortbootRun : public ::testing::TestWithParam<RunCase> {};

inline std::string RowName(const ::testing::TestParamInfo<RunCase>& caseInfo) {
    return caseInfo.param.name;
}

}  // namespace e2e

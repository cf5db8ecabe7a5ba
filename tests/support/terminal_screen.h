// A terminal's screen kept by a real terminal emulator (libvterm): the bytes a terminal receives
// go in, the text and the cursor as a person would see them come out. Answers the terminal gives
// to the program's queries (cursor position reports and the like) go to the answer function.
// Not thread-safe: a caller that feeds it from a reader thread holds its own lock.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

struct VTerm;
struct VTermScreen;

namespace test_support {

class TerminalScreen {
  public:
    using Answer = std::function<void(const char* bytes, std::size_t length)>;

    TerminalScreen(int rows, int cols, Answer answer = {});
    ~TerminalScreen();
    TerminalScreen(const TerminalScreen&) = delete;
    TerminalScreen& operator=(const TerminalScreen&) = delete;

    void Feed(const char* bytes, std::size_t length);
    void Feed(const std::string& bytes) { Feed(bytes.data(), bytes.size()); }
    void Resize(int rows, int cols);

    // The row as UTF-8, trailing blanks removed.
    std::string Row(int row) const;
    std::vector<std::string> Rows() const;
    // All rows joined with '\n'.
    std::string Text() const;
    void Cursor(int* row, int* col) const;

  private:
    static void Output(const char* bytes, std::size_t length, void* user);

    Answer answer_;
    VTerm* vt_ = nullptr;
    VTermScreen* screen_ = nullptr;
};

}  // namespace test_support

// The program itself, run as a child in its own session (no terminal, so no key wait) with a
// time limit: the exits decided before or right at the port, with their exact output.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "expected_usage.h"

namespace {

constexpr int kChildLimitMs = 10000;

struct Outcome {
    int status = -1;  // exit status, or -1 when killed or not started
    std::string out;
    std::string err;
};

// Runs portboot with `args` and the locale `lcAll`; kills it when the limit passes.
Outcome RunPortboot(const std::vector<std::string>& args, const char* lcAll) {
    Outcome result;
    int outPipe[2];
    int errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0) {
        return result;
    }
    const pid_t pid = fork();
    if (pid == 0) {
        setsid();
        dup2(outPipe[1], STDOUT_FILENO);
        dup2(errPipe[1], STDERR_FILENO);
        const int devNull = open("/dev/null", O_RDONLY);
        dup2(devNull, STDIN_FILENO);
        setenv("LC_ALL", lcAll, 1);
        std::vector<char*> argv = {const_cast<char*>(PORTBOOT_PATH)};
        for (const std::string& a : args) {
            argv.push_back(const_cast<char*>(a.c_str()));
        }
        argv.push_back(nullptr);
        execv(PORTBOOT_PATH, argv.data());
        _exit(127);
    }
    close(outPipe[1]);
    close(errPipe[1]);
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kChildLimitMs);
    struct pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int openPipes = 2;
    bool killed = false;
    while (openPipes > 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) {
            kill(pid, SIGKILL);
            killed = true;
            break;
        }
        if (poll(fds, 2, static_cast<int>(left)) < 0) {
            continue;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd >= 0 && (fds[i].revents & (POLLIN | POLLHUP)) != 0) {
                char buf[4096];
                const ssize_t n = read(fds[i].fd, buf, sizeof buf);
                if (n > 0) {
                    sinks[i]->append(buf, static_cast<std::size_t>(n));
                } else {
                    close(fds[i].fd);
                    fds[i].fd = -1;
                    --openPipes;
                }
            }
        }
    }
    for (const auto& f : fds) {
        if (f.fd >= 0) {
            close(f.fd);
        }
    }
    int status = 0;
    waitpid(pid, &status, 0);
    if (!killed && WIFEXITED(status)) {
        result.status = WEXITSTATUS(status);
    }
    return result;
}

class PortbootExitTest : public testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/portboot_exit_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        image_ = dir_ + "/k2m.bin";
        std::ofstream(image_, std::ios::binary) << "abc";
        int slave = -1;
        ASSERT_EQ(openpty(&master_, &slave, nullptr, nullptr, nullptr), 0);
        line_ = ttyname(slave);
        close(slave);
    }
    void TearDown() override {
        close(master_);
        std::remove(image_.c_str());
        rmdir(dir_.c_str());
    }

    std::string dir_;
    std::string image_;
    int master_ = -1;
    std::string line_;
};

TEST_F(PortbootExitTest, ExitsBeforeTheDeviceIsAsked) {
    struct Case {
        const char* name;
        std::vector<std::string> args;
        const char* locale;
        int status;
        std::string out;
        std::string err;
    };
    const std::string missing = dir_ + "/none.bin";
    // Only a regular file has a length to load: the others are refused at once, as a file whose
    // length cannot be found, and a FIFO with no writer must not block the open.
    const std::string fifo = dir_ + "/fifo.bin";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string tooLarge = "Слишком большой файл\n";
    const Case cases[] = {
        {"FIFO image", {fifo, line_}, "C.UTF-8", 4, tooLarge, ""},
        {"directory image", {dir_, line_}, "C.UTF-8", 4, tooLarge, ""},
        {"device node image", {"/dev/null", line_}, "C.UTF-8", 4, tooLarge, ""},
        {"file alone: usage", {image_}, "C.UTF-8", 1, std::string(kUsage) + "\n", ""},
        {"usage in the C locale is UTF-8 too", {image_}, "C", 1, std::string(kUsage) + "\n", ""},
        {"second port digit", {image_, "5", "7"}, "C.UTF-8", 2, "Неверный в параметр 3: '7'\n", ""},
        {"no number", {image_, "x", "7"}, "C", 2, "Неверный в параметр 2: 'x'\n", ""},
        {"COM0 names no device",
         {image_, "0"},
         "C.UTF-8",
         3,
         "Невозможно открыть COM-порт, ошибка: 2\n",
         ""},
        {"missing image",
         {missing, line_},
         "C.UTF-8",
         3,
         "",
         missing + ": No such file or directory\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome o = RunPortboot(c.args, c.locale);
        EXPECT_EQ(o.status, c.status);
        EXPECT_EQ(o.out, c.out);
        EXPECT_EQ(o.err, c.err);
    }
    std::remove(fifo.c_str());
}

TEST_F(PortbootExitTest, SilentDeviceEndsWithStatus7AfterTheTimeOut) {
    const auto start = std::chrono::steady_clock::now();
    const Outcome o = RunPortboot({image_, line_, "R", "258"}, "C.UTF-8");
    const double waited =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(o.status, 7);
    EXPECT_GE(waited, 1.5);
    const std::string tail = "\nИнициализация Нет ответа в течение таймаута\n\n";
    ASSERT_GE(o.out.size(), tail.size());
    EXPECT_EQ(o.out.substr(o.out.size() - tail.size()), tail);
    EXPECT_NE(o.out.find("\nПорт " + line_ +
                         ":57600\nФункция выполнение\nТочка входа 258\n"
                         "Длина файла 3"),
              std::string::npos)
        << o.out;
    char sent[8];
    struct pollfd p = {master_, POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 1000), 1);
    EXPECT_EQ(read(master_, sent, sizeof sent), 1);
    EXPECT_EQ(sent[0], 0);  // only the init command went out
}

}  // namespace

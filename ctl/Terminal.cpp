#include "ctl/Terminal.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>

namespace kbr::ctl {

namespace {

// The controlling terminal, opened for one question and closed again.
class TerminalDevice {
public:
    TerminalDevice() : fd_(::open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY)) {}
    ~TerminalDevice() {
        if (fd_ >= 0) ::close(fd_);
    }
    TerminalDevice(const TerminalDevice&) = delete;
    TerminalDevice& operator=(const TerminalDevice&) = delete;

    // Only for a person at the keyboard: standard input must be the terminal too.
    bool Usable() const { return fd_ >= 0 && ::isatty(fd_) && ::isatty(STDIN_FILENO); }

    void Write(std::string_view text) const {
        size_t written = 0;
        while (written < text.size()) {
            const ssize_t n = ::write(fd_, text.data() + written, text.size() - written);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return;
            written += static_cast<size_t>(n);
        }
    }

    // One line without its end; nothing at the end of input.
    std::optional<std::string> ReadLine() const {
        std::string line;
        for (;;) {
            char c;
            const ssize_t n = ::read(fd_, &c, 1);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return line.empty() ? std::nullopt : std::optional<std::string>(line);
            if (c == '\n') return line;
            if (c != '\r') line.push_back(c);
        }
    }

    int Fd() const { return fd_; }

private:
    int fd_;
};

std::string WithoutLineEnd(std::string line) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    return line;
}

}  // namespace

bool IsTerminal(int fd) { return ::isatty(fd) == 1; }

std::optional<std::string> ReadSecretFromTerminal(std::string_view prompt) {
    const TerminalDevice terminal;
    if (!terminal.Usable()) return std::nullopt;
    termios saved{};
    const bool haveSettings = ::tcgetattr(terminal.Fd(), &saved) == 0;
    if (haveSettings) {
        termios quiet = saved;
        quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
        quiet.c_lflag |= ECHONL;
        ::tcsetattr(terminal.Fd(), TCSAFLUSH, &quiet);
    }
    terminal.Write(prompt);
    std::optional<std::string> line = terminal.ReadLine();
    if (haveSettings) {
        ::tcsetattr(terminal.Fd(), TCSAFLUSH, &saved);
    } else {
        terminal.Write("\n");
    }
    return line;
}

std::optional<bool> AskOnTerminal(std::string_view question) {
    const TerminalDevice terminal;
    if (!terminal.Usable()) return std::nullopt;
    terminal.Write(std::string(question) + " [y/N] ");
    const std::optional<std::string> answer = terminal.ReadLine();
    return answer && !answer->empty() && (answer->front() == 'y' || answer->front() == 'Y');
}

std::optional<std::string> ReadFirstLine(const std::string& path, std::string* error) {
    std::string line;
    if (path == "-") {
        if (!std::getline(std::cin, line)) {
            if (error) *error = "standard input is empty";
            return std::nullopt;
        }
        return WithoutLineEnd(line);
    }
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        if (error) *error = path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    std::getline(file, line);
    return WithoutLineEnd(line);
}

}  // namespace kbr::ctl

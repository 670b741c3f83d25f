#include "platform/Terminal.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>

namespace kbr::platform {

namespace {

constexpr size_t MAX_LINE = 4096;  // a password or an answer; the rest of a longer line is dropped

// What a signal handler needs to put the terminal back: plain values, set before the handler is.
volatile sig_atomic_t g_restoreFd = -1;
termios g_savedMode{};
std::atomic<int> g_interrupts{0};

void RestoreAndRaise(int signal) {
    if (g_restoreFd >= 0) ::tcsetattr(g_restoreFd, TCSANOW, &g_savedMode);
    // The signal's own action now, so that the shell sees how the program ended.
    std::signal(signal, SIG_DFL);
    ::raise(signal);
}

void CountInterrupt(int) { g_interrupts.fetch_add(1); }

// Sets `handler` for SIGINT and SIGTERM, keeping what was there to put back.
class SignalHandlers {
public:
    explicit SignalHandlers(void (*handler)(int)) {
        struct sigaction action {};
        action.sa_handler = handler;
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGINT, &action, &savedInt_);
        ::sigaction(SIGTERM, &action, &savedTerm_);
    }
    ~SignalHandlers() {
        ::sigaction(SIGINT, &savedInt_, nullptr);
        ::sigaction(SIGTERM, &savedTerm_, nullptr);
    }
    SignalHandlers(const SignalHandlers&) = delete;
    SignalHandlers& operator=(const SignalHandlers&) = delete;

private:
    struct sigaction savedInt_ {};
    struct sigaction savedTerm_ {};
};

// The controlling terminal, opened for one line and closed again.
class TerminalDevice {
public:
    TerminalDevice() : fd_(::open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY)) {}
    ~TerminalDevice() {
        if (fd_ >= 0) ::close(fd_);
    }
    TerminalDevice(const TerminalDevice&) = delete;
    TerminalDevice& operator=(const TerminalDevice&) = delete;

    bool Usable() const { return fd_ >= 0 && ::isatty(fd_) && ::isatty(STDIN_FILENO); }
    int Fd() const { return fd_; }

    void Write(std::string_view text) const {
        size_t written = 0;
        while (written < text.size()) {
            const ssize_t n = ::write(fd_, text.data() + written, text.size() - written);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return;
            written += static_cast<size_t>(n);
        }
    }

    std::optional<std::string> ReadLine() const {
        std::string line;
        for (;;) {
            char c = 0;
            const ssize_t n = ::read(fd_, &c, 1);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return line.empty() ? std::nullopt : std::optional<std::string>(line);
            if (c == '\n') return line;
            if (c != '\r' && line.size() < MAX_LINE) line.push_back(c);
        }
    }

private:
    int fd_;
};

}  // namespace

bool IsTerminal(StandardStream stream) {
    switch (stream) {
        case StandardStream::Input: return ::isatty(STDIN_FILENO) == 1;
        case StandardStream::Output: return ::isatty(STDOUT_FILENO) == 1;
        case StandardStream::Error: return ::isatty(STDERR_FILENO) == 1;
    }
    return false;
}

std::optional<std::string> ReadTerminalLine(std::string_view prompt, bool echo) {
    const TerminalDevice terminal;
    if (!terminal.Usable()) return std::nullopt;
    if (echo) {
        terminal.Write(prompt);
        return terminal.ReadLine();
    }
    termios saved{};
    if (::tcgetattr(terminal.Fd(), &saved) != 0) return std::nullopt;  // no mode to hide the input with
    g_savedMode = saved;
    g_restoreFd = terminal.Fd();
    std::optional<std::string> line;
    {
        const SignalHandlers handlers(RestoreAndRaise);
        termios quiet = saved;
        quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
        quiet.c_lflag |= ECHONL;
        ::tcsetattr(terminal.Fd(), TCSAFLUSH, &quiet);
        terminal.Write(prompt);
        line = terminal.ReadLine();
        ::tcsetattr(terminal.Fd(), TCSAFLUSH, &saved);
    }
    g_restoreFd = -1;
    return line;
}

namespace {
std::optional<SignalHandlers>& CatcherHandlers() {
    static std::optional<SignalHandlers> handlers;
    return handlers;
}
}  // namespace

InterruptCatcher::InterruptCatcher() {
    g_interrupts = 0;
    CatcherHandlers().emplace(CountInterrupt);
}

InterruptCatcher::~InterruptCatcher() { CatcherHandlers().reset(); }

int InterruptCatcher::Count() const { return g_interrupts.load(); }

}  // namespace kbr::platform

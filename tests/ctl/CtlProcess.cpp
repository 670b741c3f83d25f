#include "tests/ctl/CtlProcess.h"

#ifdef _WIN32
#include "platform/WinSupport.h"

#include <windows.h>

#include <thread>
#else
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>  // NOLINT(modernize-deprecated-headers): POSIX kill() and sigaction() are declared here
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#endif

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#ifndef _WIN32
extern char** environ;  // NOLINT(readability-redundant-declaration): POSIX has the program declare it
#endif

namespace kbr::ctl::test {

namespace {

using Clock = std::chrono::steady_clock;

bool NamesLoopback(const std::vector<std::string>& args) {
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--address" && i + 1 < args.size() && args[i + 1].rfind("127.0.0.1:", 0) == 0) return true;
        if (args[i].rfind("--address=127.0.0.1:", 0) == 0) return true;
    }
    return false;
}

}  // namespace

std::vector<std::string> LoopbackAddress(uint16_t port) { return {"--address", "127.0.0.1:" + std::to_string(port)}; }

#ifdef _WIN32
CtlResult RunCtl(const CtlRun& run) {
    CtlResult result;
    if (!NamesLoopback(run.args)) {
        ADD_FAILURE() << "kbr3300ctl is only run against --address 127.0.0.1:PORT";
        return result;
    }
    if (run.errorOnTerminal || !run.interruptOn.empty()) {
        ADD_FAILURE() << "no terminal and no Ctrl-C for a test program on Windows";
        return result;
    }
    // The environment without KBR3300_PASSWORD, plus the run's: a block of NAME=VALUE texts.
    std::string environment;
    if (char* strings = ::GetEnvironmentStringsA()) {
        for (const char* entry = strings; *entry; entry += std::strlen(entry) + 1) {
            if (_strnicmp(entry, "KBR3300_PASSWORD=", 17) != 0) environment.append(entry).push_back('\0');
        }
        ::FreeEnvironmentStringsA(strings);
    }
    for (const auto& [name, value] : run.environment) environment.append(name + "=" + value).push_back('\0');
    environment.push_back('\0');

    std::string commandLine = platform::win::CommandLine(KBR_CTL_PATH, run.args);

    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE inRead = nullptr, inWrite = nullptr, outRead = nullptr, outWrite = nullptr, errRead = nullptr,
           errWrite = nullptr;
    if (!::CreatePipe(&inRead, &inWrite, &inherit, 0) || !::CreatePipe(&outRead, &outWrite, &inherit, 0) ||
        !::CreatePipe(&errRead, &errWrite, &inherit, 0)) {
        return result;
    }
    ::SetHandleInformation(inWrite, HANDLE_FLAG_INHERIT, 0);
    ::SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
    ::SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = inRead;
    startup.hStdOutput = outWrite;
    startup.hStdError = errWrite;
    PROCESS_INFORMATION process{};
    const bool started = ::CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                                          environment.data(), nullptr, &startup, &process);
    ::CloseHandle(inRead);
    ::CloseHandle(outWrite);
    ::CloseHandle(errWrite);
    if (!started) {
        ::CloseHandle(inWrite);
        ::CloseHandle(outRead);
        ::CloseHandle(errRead);
        ADD_FAILURE() << "cannot start " << KBR_CTL_PATH;
        return result;
    }
    auto reader = [](HANDLE pipe, std::string* into) {
        char buffer[4096];
        DWORD n = 0;
        while (::ReadFile(pipe, buffer, sizeof buffer, &n, nullptr) && n > 0) into->append(buffer, n);
    };
    std::thread outReader(reader, outRead, &result.out);
    std::thread errReader(reader, errRead, &result.err);
    if (run.input) {
        DWORD written = 0;
        ::WriteFile(inWrite, run.input->data(), static_cast<DWORD>(run.input->size()), &written, nullptr);
    }
    ::CloseHandle(inWrite);
    if (::WaitForSingleObject(process.hProcess, static_cast<DWORD>(run.limit.count())) != WAIT_OBJECT_0) {
        ::TerminateProcess(process.hProcess, 1);
        ::WaitForSingleObject(process.hProcess, INFINITE);
        ADD_FAILURE() << "kbr3300ctl did not end within " << run.limit.count() << " ms";
    } else {
        DWORD code = 0;
        if (::GetExitCodeProcess(process.hProcess, &code)) result.exitCode = static_cast<int>(code);
    }
    outReader.join();
    errReader.join();
    ::CloseHandle(outRead);
    ::CloseHandle(errRead);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    // The C runtime writes "\r\n" on Windows; the tests compare lines.
    for (std::string* text : {&result.out, &result.err}) {
        for (size_t at = text->find("\r\n"); at != std::string::npos; at = text->find("\r\n", at)) text->erase(at, 1);
    }
    return result;
}

#else
CtlResult RunCtl(const CtlRun& run) {
    CtlResult result;
    if (!NamesLoopback(run.args)) {
        ADD_FAILURE() << "kbr3300ctl is only run against --address 127.0.0.1:PORT";
        return result;
    }
    std::vector<std::string> environment;
    for (char** entry = environ; *entry; ++entry) {
        if (std::strncmp(*entry, "KBR3300_PASSWORD=", 17) != 0) environment.emplace_back(*entry);
    }
    for (const auto& [name, value] : run.environment) environment.push_back(name + "=" + value);
    std::vector<char*> envp;
    envp.reserve(environment.size() + 1);
    for (auto& entry : environment) envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::vector<std::string> all = {KBR_CTL_PATH};
    all.insert(all.end(), run.args.begin(), run.args.end());
    std::vector<char*> argv;
    argv.reserve(all.size() + 1);
    for (auto& arg : all) argv.push_back(arg.data());
    argv.push_back(nullptr);

    int in[2], out[2], err[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) return result;
    int controller = -1;  // terminalInput: the master side of the program's terminal
    int controlled = -1;
    if (run.terminalInput) {
        if (::openpty(&controller, &controlled, nullptr, nullptr, nullptr) != 0) return result;
        ::fcntl(controller, F_SETFD, FD_CLOEXEC);
        ::fcntl(controlled, F_SETFD, FD_CLOEXEC);
    }
    int terminal = -1;
    if (run.errorOnTerminal) {
        int child = -1;
        if (::openpty(&terminal, &child, nullptr, nullptr, nullptr) != 0) return result;
        ::fcntl(terminal, F_SETFD, FD_CLOEXEC);
        ::fcntl(child, F_SETFD, FD_CLOEXEC);
        err[0] = terminal;
        err[1] = child;
    } else if (::pipe2(err, O_CLOEXEC) != 0) {
        return result;
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (controlled >= 0) {
            // A session of its own with the terminal as its controlling one, as in a shell.
            ::setsid();
            ::ioctl(controlled, TIOCSCTTY, 0);
            ::dup2(controlled, STDIN_FILENO);
        } else {
            ::dup2(run.input ? in[0] : ::open("/dev/null", O_RDONLY), STDIN_FILENO);
        }
        ::dup2(out[1], STDOUT_FILENO);
        ::dup2(err[1], STDERR_FILENO);
        ::execve(KBR_CTL_PATH, argv.data(), envp.data());
        ::_exit(127);
    }
    if (controlled >= 0) ::close(controlled);
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    if (run.input) {
        size_t written = 0;
        while (written < run.input->size()) {
            const ssize_t n = ::write(in[1], run.input->data() + written, run.input->size() - written);
            if (n <= 0) break;
            written += static_cast<size_t>(n);
        }
    }
    ::close(in[1]);

    const auto deadline = Clock::now() + run.limit;
    pollfd fds[3] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}, {controller, POLLIN, 0}};
    bool open[2] = {true, true};
    size_t interrupts = 0;
    while ((open[0] || open[1]) && Clock::now() < deadline) {
        for (int i = 0; i < 2; ++i) fds[i].fd = open[i] ? (i == 0 ? out[0] : err[0]) : -1;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        fds[2].revents = 0;
        if (::poll(fds, controller >= 0 ? 3 : 2, static_cast<int>(std::max<int64_t>(left, 0))) < 0 && errno != EINTR) {
            break;
        }
        if (controller >= 0 && (fds[2].revents & POLLIN)) {
            char buffer[512];
            const ssize_t n = ::read(controller, buffer, sizeof buffer);
            if (n > 0) result.terminal.append(buffer, static_cast<size_t>(n));
        }
        for (int i = 0; i < 2; ++i) {
            if (!open[i] || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            char buffer[4096];
            const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n <= 0) {
                open[i] = false;  // a pseudo-terminal reads EIO once the child has gone
            } else {
                (i == 0 ? result.out : result.err).append(buffer, static_cast<size_t>(n));
            }
        }
        while (interrupts < run.interruptOn.size() &&
               (result.out.find(run.interruptOn[interrupts]) != std::string::npos ||
                result.err.find(run.interruptOn[interrupts]) != std::string::npos ||
                result.terminal.find(run.interruptOn[interrupts]) != std::string::npos)) {
            ::kill(pid, SIGINT);
            ++interrupts;
        }
    }
    int status = 0;
    if (open[0] || open[1]) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        ADD_FAILURE() << "kbr3300ctl did not end within " << run.limit.count() << " ms";
    } else {
        ::waitpid(pid, &status, 0);
        if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
    }
    ::close(out[0]);
    ::close(err[0]);
    if (controller >= 0) {
        termios mode{};
        if (::tcgetattr(controller, &mode) == 0) result.echoAfter = (mode.c_lflag & ECHO) != 0;
        ::close(controller);
    }
    return result;
}

#endif

}  // namespace kbr::ctl::test

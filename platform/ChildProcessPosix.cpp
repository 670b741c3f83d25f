// A child program with piped output on Linux: posix_spawn, pipes, poll, waitpid.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>  // NOLINT(modernize-deprecated-headers): POSIX kill() and sigaction() are declared here
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "platform/ChildProcess.h"

extern char** environ;  // NOLINT(readability-redundant-declaration): POSIX has the program declare it

namespace kbr::platform {

namespace {

// What one Read takes at most.
constexpr size_t READ_MAX = 256 * 1024;

}  // namespace

ChildProcess::~ChildProcess() {
    if (Started() && !Wait(0)) {
        Kill();
        Wait(-1);
    }
    ClosePipes();
}

bool ChildProcess::Started() const { return pid_ > 0; }

bool ChildProcess::Start(const std::string& program, const std::vector<std::string>& args, std::string* error,
                         bool searchPath) {
    Options options;
    options.searchPath = searchPath;
    return Start(program, args, error, options);
}

bool ChildProcess::Start(const std::string& program, const std::vector<std::string>& args, std::string* error,
                         const Options& options) {
    if (Started() && !exitCode_) {
        if (error) *error = "a program is already running";
        return false;
    }
    ClosePipes();
    pid_ = 0;
    exitCode_.reset();
    int out[2] = {-1, -1};
    int err[2] = {-1, -1};
    if (!options.discardOutput) {
        if (::pipe2(out, O_CLOEXEC) != 0) {
            if (error) *error = std::string("pipe failed: ") + std::strerror(errno);
            return false;
        }
        if (::pipe2(err, O_CLOEXEC) != 0) {
            if (error) *error = std::string("pipe failed: ") + std::strerror(errno);
            ::close(out[0]);
            ::close(out[1]);
            return false;
        }
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (options.discardOutput) {
        // A program left running must not die writing to a pipe nobody reads.
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    } else {
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    }

    std::vector<std::string> all = {program};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    argv.reserve(all.size() + 1);
    for (auto& arg : all) argv.push_back(arg.data());
    argv.push_back(nullptr);
    std::vector<std::string> environment = options.environment.value_or(std::vector<std::string>{});
    std::vector<char*> envp;
    envp.reserve(environment.size() + 1);
    for (auto& entry : environment) envp.push_back(entry.data());
    envp.push_back(nullptr);
    char** const useEnvironment = options.environment ? envp.data() : environ;
    pid_t pid = 0;
    const int rc = (options.searchPath ? ::posix_spawnp : ::posix_spawn)(&pid, program.c_str(), &actions, nullptr,
                                                                         argv.data(), useEnvironment);
    posix_spawn_file_actions_destroy(&actions);
    if (!options.discardOutput) {
        ::close(out[1]);
        ::close(err[1]);
        output_ = out[0];
        error_ = err[0];
        ::fcntl(out[0], F_SETFL, O_NONBLOCK);
        ::fcntl(err[0], F_SETFL, O_NONBLOCK);
    }
    if (rc != 0) {
        ClosePipes();
        if (error) *error = "cannot start " + program + ": " + std::strerror(rc);
        return false;
    }
    pid_ = pid;
    return true;
}

bool ChildProcess::Read(Stream stream, std::string& into, int timeoutMs) {
    const int fd = static_cast<int>(stream == Stream::Output ? output_ : error_);
    if (fd < 0) return false;
    pollfd entry{fd, POLLIN, 0};
    if (::poll(&entry, 1, timeoutMs < 0 ? -1 : timeoutMs) <= 0) return true;
    char buffer[4096];
    // Bounded, so that a writer that never pauses cannot keep the caller from its deadline.
    for (size_t taken = 0; taken < READ_MAX;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            into.append(buffer, static_cast<size_t>(n));
            taken += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);  // 0: the end of the stream
    }
    return true;
}

void ChildProcess::RequestStop() {
    if (Started() && !exitCode_) ::kill(static_cast<pid_t>(pid_), SIGTERM);
}

void ChildProcess::Kill() {
    if (Started() && !exitCode_) ::kill(static_cast<pid_t>(pid_), SIGKILL);
}

std::optional<int> ChildProcess::Wait(int timeoutMs) {
    if (!Started() || exitCode_) return exitCode_;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int status = 0;
        const pid_t done = ::waitpid(static_cast<pid_t>(pid_), &status, WNOHANG);
        if (done == static_cast<pid_t>(pid_)) {
            exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            return exitCode_;
        }
        if (done < 0 && errno != EINTR) {
            exitCode_ = -1;  // not ours to wait for any more
            return exitCode_;
        }
        if (timeoutMs >= 0 && std::chrono::steady_clock::now() >= deadline) return std::nullopt;
        ::usleep(1000);
    }
}

void ChildProcess::Detach() {
    ClosePipes();
    pid_ = 0;
    exitCode_.reset();
}

void ChildProcess::ClosePipes() {
    for (intptr_t* fd : {&output_, &error_}) {
        if (*fd >= 0) ::close(static_cast<int>(*fd));
        *fd = -1;
    }
}

}  // namespace kbr::platform

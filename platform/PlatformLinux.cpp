// Linux: processes from /proc, detached starts with posix_spawn, documents through xdg-open, files
// through open/read.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>  // NOLINT(modernize-deprecated-headers): POSIX kill() and sigaction() are declared here
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/FileAccess.h"
#include "platform/Platform.h"
#include "platform/ProcessFacts.h"
#include "platform/SafeFile.h"

extern char** environ;  // NOLINT(readability-redundant-declaration): POSIX has the program declare it

namespace kbr::platform {

namespace {

std::string ExecutableBaseName(const std::filesystem::path& procDir) {
    std::error_code ec;
    auto target = std::filesystem::read_symlink(procDir / "exe", ec);
    if (!ec && !target.empty()) {
        std::string name = target.filename().string();
        // A replaced or removed executable reads as "name (deleted)".
        constexpr std::string_view DELETED = " (deleted)";
        if (name.size() > DELETED.size() && name.ends_with(DELETED)) name.resize(name.size() - DELETED.size());
        return name;
    }
    // Not ours to read (another user's): the kernel's short name is all there is.
    std::ifstream comm(procDir / "comm");
    std::string name;
    std::getline(comm, name);
    return name;
}

// A process that has ended but not yet been reaped by its parent (state Z in /proc/PID/stat, the
// letter after the command name's closing parenthesis) runs nothing any more.
bool IsDefunct(const std::filesystem::path& procDir) {
    std::ifstream stat(procDir / "stat");
    std::string line;
    std::getline(stat, line);
    const auto close = line.rfind(')');
    return close != std::string::npos && close + 2 < line.size() && line[close + 2] == 'Z';
}

bool ProcessExists(pid_t pid) {
    // A zombie child of ours still answers kill(0): reap it if it is ours.
    int status;
    if (::waitpid(pid, &status, WNOHANG) == pid) return false;
    if (::kill(pid, 0) == 0) return !IsDefunct("/proc/" + std::to_string(pid));
    return errno == EPERM;
}

}  // namespace

std::vector<ProcessInfo> ListProcesses() {
    std::vector<ProcessInfo> list;
    for (const int64_t pid : ProcessIds()) {
        const std::filesystem::path folder = "/proc/" + std::to_string(pid);
        if (IsDefunct(folder)) continue;
        ProcessInfo info;
        info.pid = pid;
        info.executableName = ExecutableBaseName(folder);
        if (!info.executableName.empty()) list.push_back(std::move(info));
    }
    return list;
}

namespace {

// A descriptor of the process itself (Linux 5.3 and later), -1 where the system has none. Signals
// sent through it reach that process even if its number has been given to another meanwhile, and
// it becomes readable the moment the process ends, whoever its parent is.
int OpenProcessDescriptor(pid_t pid) {
#if defined(SYS_pidfd_open) && defined(SYS_pidfd_send_signal)
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
#else
    (void)pid;
    errno = ENOSYS;
    return -1;
#endif
}

bool SignalThroughDescriptor(int pidfd, int signal) {
#if defined(SYS_pidfd_send_signal)
    return ::syscall(SYS_pidfd_send_signal, pidfd, signal, nullptr, 0) == 0;
#else
    (void)pidfd;
    (void)signal;
    return false;
#endif
}

// Waits until the process behind pidfd has ended, at most until the deadline.
bool WaitForEnd(int pidfd, std::chrono::steady_clock::time_point deadline) {
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd fd{pidfd, POLLIN, 0};
        const int ready = ::poll(&fd, 1, static_cast<int>(std::max<int64_t>(0, left.count())));
        if (ready > 0) return true;
        if (ready == 0) return false;
        if (errno != EINTR) return false;
    }
}

// Ends the process through its descriptor; -1 when the descriptor cannot be used for it.
int TerminateThroughDescriptor(int pidfd, pid_t pid, uint32_t timeoutMs) {
    if (!SignalThroughDescriptor(pidfd, SIGTERM)) return errno == ESRCH ? 0 : -1;
    bool ended = WaitForEnd(pidfd, std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs));
    if (!ended) {
        // It ignored the request: end it for good and give it a moment more.
        (void)SignalThroughDescriptor(pidfd, SIGKILL);
        ended = WaitForEnd(pidfd, std::chrono::steady_clock::now() + std::chrono::milliseconds(1000));
    }
    // One of our own children is reaped here, so that it does not linger as a zombie.
    int status;
    if (ended) (void)::waitpid(pid, &status, WNOHANG);
    return ended ? 1 : 0;
}

}  // namespace

bool TerminateAndWait(int64_t pid, uint32_t timeoutMs) {
    if (pid <= 0) return false;
    // The descriptor first: the owner checked below is then the owner of the process we signal.
    const int pidfd = OpenProcessDescriptor(static_cast<pid_t>(pid));
    struct stat st {};
    if (::stat(("/proc/" + std::to_string(pid)).c_str(), &st) != 0 ||
        st.st_uid != ::getuid()) {  // only the current user's processes are ended
        if (pidfd >= 0) ::close(pidfd);
        return false;
    }
    if (pidfd >= 0) {
        // Woken the moment it ends, rather than by looking again every few milliseconds.
        const int ended = TerminateThroughDescriptor(pidfd, static_cast<pid_t>(pid), timeoutMs);
        ::close(pidfd);
        if (ended >= 0) return ended == 1;
    }
    if (::kill(static_cast<pid_t>(pid), SIGTERM) != 0) return false;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    bool killed = false;
    while (ProcessExists(static_cast<pid_t>(pid))) {
        if (std::chrono::steady_clock::now() >= deadline) {
            if (killed) return false;
            // It ignored the request: end it for good and give it a moment more.
            ::kill(static_cast<pid_t>(pid), SIGKILL);
            killed = true;
            deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(1000);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

int64_t CurrentProcessId() { return ::getpid(); }

std::string CurrentExecutableName() { return ExecutableBaseName("/proc/self"); }

StartResult StartProcess(const std::string& program, const std::vector<std::string>& args,
                         const StartOptions& options) {
    StartResult result;
    std::string path = program;
    // Without the search path a bare name means the file in the working directory.
    if (!options.searchPath && path.find('/') == std::string::npos) path = "./" + path;

    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (options.hidden) {
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    }
    if (!options.workingDirectory.empty()) {
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 29))
        posix_spawn_file_actions_addchdir_np(&actions, options.workingDirectory.c_str());
#endif
    }
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    // Its own process group: a detached program outlives a terminal's hang-up of ours.
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attr, 0);

    pid_t pid = 0;
    int rc = options.searchPath ? ::posix_spawnp(&pid, path.c_str(), &actions, &attr, argv.data(), environ)
                                : ::posix_spawn(&pid, path.c_str(), &actions, &attr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) {
        result.error = std::strerror(rc);
        return result;
    }
    result.started = true;
    result.pid = pid;
    if (options.wait) {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    } else {
        // Nobody waits for a detached program: let a thread reap it so it never lingers as a
        // zombie that still counts as running.
        std::thread([pid] {
            int status;
            while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
        }).detach();
    }
    return result;
}

bool OpenDocument(const std::string& pathOrUrl) {
    StartOptions options;
    options.searchPath = true;
    return StartProcess("xdg-open", {pathOrUrl}, options).started;
}

namespace {

void (*g_stopHandler)() = nullptr;

void OnStopSignal(int) {
    if (g_stopHandler) g_stopHandler();
}

}  // namespace

void CallOnStopRequest(void (*handler)()) {
    g_stopHandler = handler;
    struct sigaction action = {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

bool StandardErrorWritable() {
    pollfd fd{STDERR_FILENO, POLLOUT, 0};
    return ::poll(&fd, 1, 0) == 1 && (fd.revents & POLLOUT);
}

void WriteStandardError(std::string_view text) {
    size_t written = 0;
    while (written < text.size()) {
        const ssize_t n = ::write(STDERR_FILENO, text.data() + written, text.size() - written);
        if (n <= 0) return;
        written += static_cast<size_t>(n);
    }
}

SystemVersion RunningSystemVersion() { return {}; }

std::optional<std::string> SystemErrorText(uint32_t code) {
    // What Windows' message table says for the codes a page call can fail with.
    switch (code) {
        case 0x80020009u: return "Exception occurred.\r\n";
        case 0x80020006u: return "Unknown name.\r\n";
        case 0x80020005u: return "Type mismatch.\r\n";
        case 0x8002000Eu: return "Invalid number of parameters.\r\n";
        case 0x80004005u: return "Unspecified error\r\n";
        case 0x80004001u: return "Not implemented\r\n";
        case 0x80070057u: return "The parameter is incorrect.\r\n";
        case 0x8007000Eu: return "Not enough memory resources are available to complete this operation.\r\n";
        default: return std::nullopt;
    }
}

bool RunsAsSuperuser() { return ::geteuid() == 0; }

namespace file {

// Non-blocking, so that naming a pipe cannot hang the caller in open(); it is refused by its kind.
int OpenForReading(const std::string& path) { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK); }

int RegularFileSize(int fd, uint64_t& size) {
    struct stat info {};
    if (::fstat(fd, &info) != 0) return errno;
    if (S_ISDIR(info.st_mode)) return EISDIR;
    if (!S_ISREG(info.st_mode)) return ESPIPE;
    size = static_cast<uint64_t>(info.st_size);
    return 0;
}

long ReadSome(int fd, void* buffer, size_t size) { return ::read(fd, buffer, size); }

void Close(int fd) { ::close(fd); }

}  // namespace file

}  // namespace kbr::platform

#include "platform/ProblemLog.h"

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <filesystem>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#else
#include <fstream>
#endif

namespace kbr::platform {

namespace {

constexpr size_t MESSAGE_MAX = 2000;

// Control characters would split or garble a log line.
std::string OneLine(std::string_view text) {
    std::string line;
    for (char c : text.substr(0, MESSAGE_MAX)) line += (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) ? ' ' : c;
    return line;
}

std::string Timestamp() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
#ifndef _WIN32
    localtime_r(&now, &local);
#else
    localtime_s(&local, &now);
#endif
    char text[32] = "";
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

#ifndef _WIN32

// The journal's native protocol: one datagram of FIELD=value lines.
bool SendToJournal(const std::string& socketPath, std::string_view program, const std::string& message) {
    sockaddr_un address{};
    if (socketPath.empty() || socketPath.size() >= sizeof address.sun_path) return false;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size());
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    const std::string datagram = "PRIORITY=4\nSYSLOG_IDENTIFIER=" + OneLine(program) + "\nMESSAGE=" + message + "\n";
    const ssize_t sent = ::sendto(fd, datagram.data(), datagram.size(), MSG_NOSIGNAL,
                                  reinterpret_cast<const sockaddr*>(&address), sizeof address);
    ::close(fd);
    return sent == static_cast<ssize_t>(datagram.size());
}

bool AppendToFile(const std::string& path, const std::string& line) {
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    std::error_code error;
    if (!folder.empty() && !std::filesystem::is_directory(folder, error)) {
        // Made for this user alone, as the state folder is meant to be.
        std::filesystem::create_directories(folder, error);
        if (error) return false;
        ::chmod(folder.c_str(), 0700);
    }
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600);
    if (fd < 0) return false;
    struct stat info {};
    bool written = false;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == ::geteuid()) {
        written = ::write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
    }
    ::close(fd);
    return written;
}

#else

bool SendToJournal(const std::string&, std::string_view, const std::string&) { return false; }

bool AppendToFile(const std::string& path, const std::string& line) {
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), error);
    std::ofstream file(path, std::ios::app | std::ios::binary);
    return static_cast<bool>(file << line);
}

#endif

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

}  // namespace

ProblemLogTargets DefaultProblemLogTargets() {
    ProblemLogTargets targets;
#ifndef _WIN32
    constexpr const char* JOURNAL_SOCKET = "/run/systemd/journal/socket";
    struct stat info {};
    if (::stat(JOURNAL_SOCKET, &info) == 0 && S_ISSOCK(info.st_mode)) targets.journalSocket = JOURNAL_SOCKET;
    std::string state = Environment("XDG_STATE_HOME");
    // Only an absolute path counts (as the base directory rules say).
    if (state.empty() || state[0] != '/') {
        const std::string home = Environment("HOME");
        if (!home.empty()) state = home + "/.local/state";
    }
    if (!state.empty()) targets.logFile = state + "/kbr3300/log";
#else
    const std::string local = Environment("LOCALAPPDATA");
    if (!local.empty()) targets.logFile = local + "\\kbr3300\\log.txt";
#endif
    return targets;
}

bool LogProblemTo(const ProblemLogTargets& targets, std::string_view program, std::string_view message) {
    const std::string text = OneLine(message);
    bool logged = false;
    if (!targets.journalSocket.empty()) logged = SendToJournal(targets.journalSocket, program, text) || logged;
    if (!targets.logFile.empty()) {
        logged = AppendToFile(targets.logFile, Timestamp() + " " + OneLine(program) + ": " + text + "\n") || logged;
    }
    return logged;
}

bool LogProblem(std::string_view program, std::string_view message) {
    return LogProblemTo(DefaultProblemLogTargets(), program, message);
}

}  // namespace kbr::platform

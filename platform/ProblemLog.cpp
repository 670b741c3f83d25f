#include "platform/ProblemLog.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <filesystem>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#else
#include <fstream>
#include <iterator>
#endif

namespace kbr::platform {

namespace {

// Length of the UTF-8 sequence that starts text[at], or 0 when none does (a stray or cut byte).
size_t Utf8SequenceLength(std::string_view text, size_t at) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    size_t length = 0;
    unsigned char low = 0x80;  // the second byte's range, narrowed to refuse overlong and surrogate forms
    unsigned char high = 0xBF;
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (at + length > text.size()) return 0;
    if (byte(at + 1) < low || byte(at + 1) > high) return 0;
    for (size_t i = 2; i < length; ++i) {
        if (byte(at + i) < 0x80 || byte(at + i) > 0xBF) return 0;
    }
    return length;
}

// Control characters would split or garble a log line: C0, DEL and C1 (U+0080 to U+009F, or a
// stray byte 0x80 to 0x9F, which is a C1 control in the 8-bit sets) become blanks. At most
// MAX_PROBLEM_MESSAGE_SIZE bytes of the text are taken, never half of a character.
std::string OneLine(std::string_view text) {
    std::string line;
    size_t at = 0;
    while (at < text.size()) {
        const auto c = static_cast<unsigned char>(text[at]);
        const size_t length = Utf8SequenceLength(text, at);
        const size_t taken = length == 0 ? 1 : length;
        if (at + taken > MAX_PROBLEM_MESSAGE_SIZE) break;
        const bool c1 = (length == 2 && c == 0xC2 && static_cast<unsigned char>(text[at + 1]) <= 0x9F) ||
                        (length == 0 && c >= 0x80 && c <= 0x9F);
        if ((length == 1 && (c < 0x20 || c == 0x7f)) || c1) {
            line += ' ';
        } else {
            line.append(text.substr(at, taken));
        }
        at += taken;
    }
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

// Makes room for `adding` more bytes in the log open as fd: when the file would pass maxSize, the
// older half goes (cut at a line's end) and the newer lines stay at its start. Works on the
// descriptor alone, so no path can be swapped in meanwhile.
void KeepWithin(int fd, off_t size, size_t adding, size_t maxSize) {
    if (static_cast<size_t>(size) + adding <= maxSize) return;
    const size_t keep = std::min(static_cast<size_t>(size), maxSize / 2);
    std::string tail(keep, '\0');
    const ssize_t got = ::pread(fd, tail.data(), keep, size - static_cast<off_t>(keep));
    tail.resize(got > 0 ? static_cast<size_t>(got) : 0);
    const size_t lineStart = tail.find('\n');
    tail.erase(0, lineStart == std::string::npos ? tail.size() : lineStart + 1);
    if (tail.size() + adding > maxSize) tail.clear();
    if (::ftruncate(fd, 0) != 0) return;
    if (!tail.empty()) (void)::write(fd, tail.data(), tail.size());  // O_APPEND: from the start again
}

bool AppendToFile(const std::string& path, const std::string& line, size_t maxSize) {
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
        // Two programs logging at once must not cut the file under each other's line.
        (void)::flock(fd, LOCK_EX);
        if (::fstat(fd, &info) == 0) KeepWithin(fd, info.st_size, line.size(), maxSize);
        written = ::write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
        (void)::flock(fd, LOCK_UN);
    }
    ::close(fd);
    return written;
}

#else

bool SendToJournal(const std::string&, std::string_view, const std::string&) { return false; }

bool AppendToFile(const std::string& path, const std::string& line, size_t maxSize) {
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), error);
    const uintmax_t size = std::filesystem::file_size(path, error);
    if (!error && size + line.size() > maxSize) {
        // The older half goes, cut at a line's end; the newer lines stay.
        std::string tail;
        {
            std::ifstream old(path, std::ios::binary);
            const size_t keep = std::min(static_cast<size_t>(size), maxSize / 2);
            old.seekg(static_cast<std::streamoff>(size - keep));
            tail.assign(std::istreambuf_iterator<char>(old), {});
        }
        const size_t lineStart = tail.find('\n');
        tail.erase(0, lineStart == std::string::npos ? tail.size() : lineStart + 1);
        if (tail.size() + line.size() > maxSize) tail.clear();
        std::ofstream cut(path, std::ios::trunc | std::ios::binary);
        cut << tail;
    }
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
        logged = AppendToFile(targets.logFile, Timestamp() + " " + OneLine(program) + ": " + text + "\n",
                              targets.maxFileSize) ||
                 logged;
    }
    return logged;
}

bool LogProblem(std::string_view program, std::string_view message) {
    return LogProblemTo(DefaultProblemLogTargets(), program, message);
}

}  // namespace kbr::platform

// Linux: /proc/PID opened once as a folder; every file in it read relative to that descriptor,
// bounded, never following a link that was planted in place of one.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>

#include "platform/Descriptor.h"
#include "platform/ProcessFacts.h"

namespace kbr::platform {

namespace {

constexpr size_t PROC_FILE_MAX = 64 * 1024;
// Field 22 of /proc/PID/stat, counted after the closing parenthesis of the name (state is first).
constexpr size_t START_TIME_FIELD = 19;

std::optional<std::string> ReadAt(int directory, const char* name) {
    const Descriptor fd(::openat(directory, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (!fd.Valid()) return std::nullopt;
    std::string content;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd.Get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return std::nullopt;
        if (n == 0) return content;
        content.append(buffer, static_cast<size_t>(n));
        if (content.size() > PROC_FILE_MAX) return std::nullopt;
    }
}

// State letter and start time from /proc/PID/stat (the name before them may hold anything).
bool ReadStat(int directory, ProcessFacts& facts) {
    const auto stat = ReadAt(directory, "stat");
    if (!stat) return false;
    const size_t open = stat->find('(');
    const size_t close = stat->rfind(')');
    if (open == std::string::npos || close == std::string::npos || close < open) return false;
    facts.shortName = stat->substr(open + 1, close - open - 1);
    std::vector<std::string_view> fields;
    const std::string_view rest = std::string_view(*stat).substr(close + 1);
    size_t at = 0;
    while (at < rest.size() && fields.size() <= START_TIME_FIELD) {
        while (at < rest.size() && rest[at] == ' ') ++at;
        const size_t end = std::min(rest.find(' ', at), rest.size());
        if (end > at) fields.push_back(rest.substr(at, end - at));
        at = end;
    }
    if (fields.size() <= START_TIME_FIELD) return false;
    facts.defunct = fields[0] == "Z" || fields[0] == "X";
    facts.startTime = std::strtoull(std::string(fields[START_TIME_FIELD]).c_str(), nullptr, 10);
    return true;
}

// Real and effective user from the "Uid:" line of /proc/PID/status.
bool ReadUsers(int directory, ProcessFacts& facts) {
    const auto status = ReadAt(directory, "status");
    if (!status) return false;
    const size_t at = status->find("\nUid:");
    if (at == std::string::npos) return false;
    unsigned long real = 0;
    unsigned long effective = 0;
    if (std::sscanf(status->c_str() + at + 5, "%lu %lu", &real, &effective) != 2) return false;
    facts.realUser = static_cast<uint32_t>(real);
    facts.effectiveUser = static_cast<uint32_t>(effective);
    return true;
}

std::optional<ProcessFacts> Describe(const std::string& folder, int64_t pid) {
    const Descriptor directory(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!directory.Valid()) return std::nullopt;
    ProcessFacts facts;
    facts.pid = pid;
    if (!ReadStat(directory.Get(), facts) || !ReadUsers(directory.Get(), facts)) return std::nullopt;
    if (const auto commandLine = ReadAt(directory.Get(), "cmdline")) facts.commandLine = SplitCommandLine(*commandLine);
    struct stat exe {};
    if (::fstatat(directory.Get(), "exe", &exe, 0) == 0) {
        facts.executable = FileIdentity{static_cast<uint64_t>(exe.st_dev), static_cast<uint64_t>(exe.st_ino)};
    }
    char link[256];
    const ssize_t n = ::readlinkat(directory.Get(), "ns/net", link, sizeof link - 1);
    if (n > 0) facts.networkNamespace = std::string(link, static_cast<size_t>(n));
    return facts;
}

}  // namespace

std::optional<FileIdentity> IdentityOfFile(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return std::nullopt;
    return FileIdentity{static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino)};
}

std::vector<int64_t> ProcessIds() {
    std::vector<int64_t> pids;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
        const std::string name = entry.path().filename().string();
        if (!name.empty() && name.size() < 19 &&
            std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; })) {
            pids.push_back(std::stoll(name));
        }
    }
    return pids;
}

std::optional<ProcessFacts> DescribeProcess(int64_t pid) {
    if (pid <= 0) return std::nullopt;
    return Describe("/proc/" + std::to_string(pid), pid);
}

// (Not through /proc/self: that is a link, and the folder is opened without following links.)
std::optional<ProcessFacts> DescribeThisProcess() { return DescribeProcess(::getpid()); }

}  // namespace kbr::platform

#pragma once
// What the system says about one running process, read through one descriptor of its /proc
// folder so that every fact is about the same process (Linux only; no Qt): for programs that
// must decide whether a process is the one they take it for (its owner, its executable file, its
// network namespace, its start) rather than trust its name or its arguments.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kbr::platform {

// A file as the system knows it, whatever its path: device and inode.
struct FileIdentity {
    uint64_t device = 0;
    uint64_t inode = 0;
    bool operator==(const FileIdentity&) const = default;
};
std::optional<FileIdentity> IdentityOfFile(const std::string& path);

struct ProcessFacts {
    int64_t pid = 0;
    std::string shortName;   // the kernel's name for it (at most 15 characters; the process may set it)
    bool defunct = false;    // ended, not yet reaped
    uint64_t startTime = 0;  // clock ticks after boot
    uint32_t realUser = 0;
    uint32_t effectiveUser = 0;
    // Its arguments, argv[0] first (bounded); the process may have changed them.
    std::vector<std::string> commandLine;
    // Its executable and its network namespace: readable only for one's own processes, or as root.
    std::optional<FileIdentity> executable;
    std::optional<std::string> networkNamespace;  // "net:[4026531840]"
};

// Splits a command line as /proc/PID/cmdline holds it: arguments separated, and usually ended, by
// NUL.
std::vector<std::string> SplitCommandLine(std::string_view nulSeparated);

// The ids of every process this process can see (its pid namespace's), in no set order.
std::vector<int64_t> ProcessIds();
// The facts of the process `pid` now; nothing when it is gone or cannot be read.
std::optional<ProcessFacts> DescribeProcess(int64_t pid);
// Of this very process.
std::optional<ProcessFacts> DescribeThisProcess();

}  // namespace kbr::platform

#pragma once
// The few operating-system facts and actions the programs need, behind one small header: one
// implementation per operating system (Linux: PlatformLinux.cpp; Windows: PlatformWin.cpp, not
// built here). No Qt.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kbr::platform {

struct ProcessInfo {
    int64_t pid = 0;
    std::string executableName;  // base name of the process's executable (Linux: of /proc/PID/exe,
                                 // falling back to /proc/PID/comm)
};

// Every process this user can see that is still running (an ended process that its parent has
// not yet reaped is not).
std::vector<ProcessInfo> ListProcesses();
// Processes whose executable base name equals `name`, compared case-insensitively (ASCII).
std::vector<ProcessInfo> FindProcessesByName(std::string_view name);
// Ends the process and waits until it has gone (at most timeoutMs). False when it cannot be
// signalled (another user's, already gone) or did not end in time. Only the current user's
// processes are ended.
bool TerminateAndWait(int64_t pid, uint32_t timeoutMs = 5000);
int64_t CurrentProcessId();
// Base name of this program's executable.
std::string CurrentExecutableName();

struct StartOptions {
    bool hidden = true;          // no console window / no output to the caller's terminal
    bool searchPath = false;     // false: `program` is a path (relative to the current directory)
    bool wait = false;           // wait for the process to end
    std::string workingDirectory;  // empty: the caller's
};
struct StartResult {
    bool started = false;
    int64_t pid = 0;
    int exitCode = -1;  // when waited for
    std::string error;  // why it did not start
};
// Starts a program with arguments (no shell). Detached unless `wait` is set.
StartResult StartProcess(const std::string& program, const std::vector<std::string>& args,
                         const StartOptions& options = {});
// Opens a document or URL with the desktop's default handler (xdg-open on Linux).
bool OpenDocument(const std::string& pathOrUrl);

}  // namespace kbr::platform

#pragma once
// The few operating-system facts and actions the programs need, behind one small header: one
// implementation per operating system (Linux: PlatformLinux.cpp; Windows: PlatformWin.cpp), and
// what both share in PlatformCommon.cpp. Sockets are in Socket.h. No Qt.

#include <cstdint>
#include <optional>
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
    bool hidden = true;            // no console window / no output to the caller's terminal
    bool searchPath = false;       // false: `program` is a path (relative to the current directory)
    bool wait = false;             // wait for the process to end
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
// Opens a document or URL with the desktop's default handler (xdg-open on Linux, the shell's
// "open" verb on Windows).
bool OpenDocument(const std::string& pathOrUrl);

// Calls handler (from a signal handler, or on Windows from a thread of the system's) when the
// program is asked to end: Ctrl-C, SIGTERM, Ctrl-Break, the console window closed. The handler
// may only do what is safe there, such as making a SocketWakeUp readable.
void CallOnStopRequest(void (*handler)());

// Standard error as a program that must never stall on it writes it: whether a write would not
// block now (a pipe that its reader does not empty fills up; where that cannot be told, true), and
// one write of a whole text, repeated only for the part the system did not take.
bool StandardErrorWritable();
void WriteStandardError(std::string_view text);

// ---- The running system ------------------------------------------------------------------------

struct SystemVersion {
    bool windows = false;
    // Windows: the major version as the version query reports it (the low byte of GetVersion: 5
    // for XP, 6 for Vista to 8 without a compatibility manifest). Elsewhere 0.
    int major = 0;
};
SystemVersion RunningSystemVersion();

// The system's own text for a result or error code (an HRESULT or a system error code), as its
// message table words it, line end included; nothing when the system has no text for it. Where
// there is no message table (Linux) the texts of the codes a page call can fail with.
std::optional<std::string> SystemErrorText(uint32_t code);

// True when this program runs as the superuser (root; never on Windows, where an administrator
// is still an ordinary account to the programs that check this).
bool RunsAsSuperuser();

// ---- Files -------------------------------------------------------------------------------------

struct WholeFile {
    std::vector<uint8_t> bytes;
    int error = 0;          // errno value when it could not be read (then bytes is empty)
    bool tooLarge = false;  // larger than the bound (then bytes is empty and error 0)
};
// Reads a regular file whole, never more than maxSize bytes (the file may grow while it is read).
// A folder gives EISDIR, anything else that is not a regular file (a pipe, a device) ESPIPE,
// without waiting for it; no memory gives ENOMEM.
WholeFile ReadWholeFile(const std::string& path, uint64_t maxSize);
// A new, empty folder in parent whose name starts with prefix and is nobody else's (made in one
// step, so two callers never get the same one). Its path, or empty on failure.
std::string MakeFreshFolder(const std::string& parent, std::string_view prefix);
// (A file is replaced in one step, never written through a link, with ReplaceFile in SafeFile.h.)

}  // namespace kbr::platform

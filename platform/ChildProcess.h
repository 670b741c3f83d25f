#pragma once
// A program started with its standard output and standard error coming back through pipes (its
// standard input is empty), for tools and tests that run another program and read what it says.
// Every wait is bounded by the caller's time limit.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kbr::platform {

struct ProgramRun {
    bool started = false;
    int exitCode = -1;         // -1 also when it had to be ended at the time limit
    bool timedOut = false;     // it was ended at the time limit
    bool leftRunning = false;  // still running at the time limit and, as asked, left so
    std::string output;        // what it wrote to standard output (at most RunOptions::outputMax)
    std::string errors;        // to standard error, or why it could not be started
    bool Finished() const { return started && !timedOut && !leftRunning; }
};

struct RunOptions {
    // A program named without a folder is looked up as ChildProcess::Start does.
    bool searchPath = false;
    // The program's whole environment, NAME=VALUE each; nothing: this program's own.
    std::optional<std::vector<std::string>> environment;
    // A program that goes on in the background (a DHCP client that gets its lease later): its
    // output goes nowhere, and at the time limit it is left running instead of being ended.
    bool leaveRunning = false;
    // What is kept of each stream; the rest is read and dropped, so the program never stalls.
    size_t outputMax = 1024 * 1024;
};

// Runs the program to its end, at most timeoutMs (then it is ended, unless leaveRunning), and
// collects both streams: what it wrote until it ended. A program it started that keeps the pipes
// open is not waited for: every wait ends at the time limit.
ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& args, int timeoutMs,
                      const RunOptions& options);
// The same with the caller's environment.
ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& args, int timeoutMs,
                      bool searchPath = false);

class ChildProcess {
public:
    enum class Stream { Output, Error };

    ChildProcess() = default;
    // Ends a program that still runs (Kill) and closes the pipes.
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts the program with the arguments: a path, or with searchPath a program named without a
    // folder is looked up on the search path (Windows: the system's CreateProcess search, which
    // also adds ".exe"). False with the reason when it could not be started (or one is already
    // running).
    [[nodiscard]] bool Start(const std::string& program, const std::vector<std::string>& args, std::string* error,
                             bool searchPath = false);
    struct Options {
        bool searchPath = false;
        // The program's whole environment, NAME=VALUE each; nothing: this program's own.
        std::optional<std::vector<std::string>> environment;
        // Its output goes to the null device instead of the pipes (nothing to Read then).
        bool discardOutput = false;
    };
    [[nodiscard]] bool Start(const std::string& program, const std::vector<std::string>& args, std::string* error,
                             const Options& options);
    bool Started() const;
    int64_t Pid() const { return pid_; }

    // Appends to `into` what the stream holds, waiting up to timeoutMs for the first byte (0: only
    // what is there now). False once the stream has ended: the program closed it or has ended.
    bool Read(Stream stream, std::string& into, int timeoutMs);

    // Asks the program to end as a user would (SIGTERM; on Windows Ctrl-Break and the stop event
    // that CallOnStopRequest waits for) without waiting.
    void RequestStop();
    // Ends it at once (SIGKILL; TerminateProcess).
    void Kill();
    // Waits up to timeoutMs for the program to end: its exit code, -1 when a signal ended it, or
    // nothing while it still runs. Once it has ended, the same answer every time.
    std::optional<int> Wait(int timeoutMs);
    // Lets the program run on by itself: it is no longer ended, waited for or read from.
    void Detach();

private:
    void ClosePipes();

    int64_t pid_ = 0;
    std::optional<int> exitCode_;
    // Read ends of the two pipes (descriptors on Linux, handles on Windows); on Windows also the
    // process handle and the event of a stop request.
    intptr_t output_ = -1;
    intptr_t error_ = -1;
    intptr_t process_ = -1;
    intptr_t stopEvent_ = -1;
};

}  // namespace kbr::platform

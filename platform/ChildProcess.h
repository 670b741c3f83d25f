#pragma once
// A program started with its standard output and standard error coming back through pipes (its
// standard input is empty), for tools and tests that run another program and read what it says.
// Every wait is bounded by the caller's time limit.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kbr::platform {

struct ProgramRun {
    bool started = false;
    int exitCode = -1;      // -1 also when it had to be ended at the time limit
    bool timedOut = false;  // it was ended at the time limit
    std::string output;     // what it wrote to standard output
    std::string errors;     // to standard error, or why it could not be started
};

// Runs the program to its end, at most timeoutMs (then it is ended), and collects both streams:
// what it wrote until it ended (a program that it started and that keeps the pipes open is not
// waited for). With searchPath, a program named without a folder is looked up as Start does.
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

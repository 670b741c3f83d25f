#pragma once
// On Windows: what the platform's Windows files share (the functions are defined in
// PlatformWin.cpp). Outside platform/ only tests use it, to start programs as the platform does.

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace kbr::platform::win {

// Closes a handle on every way out.
class Handle {
public:
    explicit Handle(HANDLE handle) : handle_(handle) {}
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() { Close(); }
    bool Valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
    HANDLE Get() const { return handle_; }
    // Closes it now; false when the system reports a failure (a write it could not finish).
    bool Close() {
        const bool closed = !Valid() || ::CloseHandle(handle_);
        handle_ = nullptr;
        return closed;
    }

private:
    HANDLE handle_;
};

// The program and its arguments as one command line that the C runtime splits back into the
// same argv: an argument is quoted when it holds a blank, a tab or a quote (or is empty), quotes
// are escaped, and backslashes doubled where they come before a quote.
std::string CommandLine(const std::string& program, const std::vector<std::string>& args);
// The system's text for GetLastError(), without its line end.
std::string LastErrorText();
// The name of the event that asks the program with this process id to end (CallOnStopRequest
// waits for it; ChildProcess::RequestStop sets it).
std::string StopRequestEventName(int64_t pid);

}  // namespace kbr::platform::win

// A child program with piped output on Windows: CreateProcess with inherited pipe ends; the pipes
// are read with PeekNamedPipe, as anonymous pipes cannot be waited on.

#include <windows.h>

#include <chrono>
#include <thread>

#include "platform/ChildProcess.h"
#include "platform/WinSupport.h"

namespace kbr::platform {

namespace {

HANDLE AsHandle(intptr_t value) { return reinterpret_cast<HANDLE>(value); }

intptr_t FromHandle(HANDLE handle) { return reinterpret_cast<intptr_t>(handle); }

void CloseIfOpen(intptr_t& value) {
    if (value != -1) ::CloseHandle(AsHandle(value));
    value = -1;
}

}  // namespace

ChildProcess::~ChildProcess() {
    if (Started() && !Wait(0)) {
        Kill();
        Wait(-1);
    }
    ClosePipes();
    CloseIfOpen(process_);
    CloseIfOpen(stopEvent_);
}

bool ChildProcess::Started() const { return pid_ > 0; }

bool ChildProcess::Start(const std::string& program, const std::vector<std::string>& args, std::string* error,
                         bool searchPath) {
    Options options;
    options.searchPath = searchPath;
    return Start(program, args, error, options);
}

bool ChildProcess::Start(const std::string& program, const std::vector<std::string>& args, std::string* error,
                         const Options& options) {
    const bool searchPath = options.searchPath;
    if (Started() && !exitCode_) {
        if (error) *error = "a program is already running";
        return false;
    }
    ClosePipes();
    CloseIfOpen(process_);
    CloseIfOpen(stopEvent_);
    pid_ = 0;
    exitCode_.reset();

    SECURITY_ATTRIBUTES inherited{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE outRead = nullptr, outWrite = nullptr, errRead = nullptr, errWrite = nullptr;
    if (!::CreatePipe(&outRead, &outWrite, &inherited, 0) || !::CreatePipe(&errRead, &errWrite, &inherited, 0)) {
        if (error) *error = "pipe failed: " + win::LastErrorText();
        for (HANDLE h : {outRead, outWrite}) {
            if (h) ::CloseHandle(h);
        }
        return false;
    }
    // Only the child's ends are inherited.
    ::SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
    ::SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0);
    output_ = FromHandle(outRead);
    error_ = FromHandle(errRead);
    const HANDLE input =
        ::CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited, OPEN_EXISTING, 0, nullptr);

    std::string commandLine = win::CommandLine(program, args);
    const HANDLE discard = options.discardOutput
                               ? ::CreateFileA("NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited,
                                               OPEN_EXISTING, 0, nullptr)
                               : INVALID_HANDLE_VALUE;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input;
    startup.hStdOutput = options.discardOutput ? discard : outWrite;
    startup.hStdError = options.discardOutput ? discard : errWrite;
    // An environment block: NAME=VALUE entries, each ended by a NUL, and one more NUL at the end.
    std::string environment;
    if (options.environment) {
        for (const std::string& entry : *options.environment) environment += entry + '\0';
        environment += '\0';
    }
    PROCESS_INFORMATION started{};
    // A process group of its own, so that a Ctrl-Break can be sent to it alone. Without an
    // application name the system looks the program up from the command line's first word.
    const BOOL ok = ::CreateProcessA(searchPath ? nullptr : program.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                                     CREATE_NEW_PROCESS_GROUP, options.environment ? environment.data() : nullptr,
                                     nullptr, &startup, &started);
    const std::string reason = ok ? std::string() : win::LastErrorText();
    ::CloseHandle(outWrite);
    ::CloseHandle(errWrite);
    if (input != INVALID_HANDLE_VALUE) ::CloseHandle(input);
    if (discard != INVALID_HANDLE_VALUE) ::CloseHandle(discard);
    if (options.discardOutput) ClosePipes();
    if (!ok) {
        ClosePipes();
        if (error) *error = "cannot start " + program + ": " + reason;
        return false;
    }
    ::CloseHandle(started.hThread);
    process_ = FromHandle(started.hProcess);
    pid_ = started.dwProcessId;
    return true;
}

bool ChildProcess::Read(Stream stream, std::string& into, int timeoutMs) {
    const intptr_t pipe = stream == Stream::Output ? output_ : error_;
    if (pipe == -1) return false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    bool gotSome = false;
    for (;;) {
        DWORD available = 0;
        if (!::PeekNamedPipe(AsHandle(pipe), nullptr, 0, nullptr, &available, nullptr)) return false;  // ended
        if (available > 0) {
            char buffer[4096];
            DWORD n = 0;
            if (!::ReadFile(AsHandle(pipe), buffer, available < sizeof buffer ? available : sizeof buffer, &n,
                            nullptr)) {
                return false;
            }
            into.append(buffer, n);
            gotSome = true;
            continue;
        }
        if (gotSome) return true;
        if (timeoutMs >= 0 && std::chrono::steady_clock::now() >= deadline) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

void ChildProcess::RequestStop() {
    if (!Started() || exitCode_) return;
    // A program of ours without a console waits for its stop event; made here if it has not made
    // it yet, and kept open until the program ends, so that the request cannot get lost.
    if (stopEvent_ == -1) {
        const HANDLE event = ::CreateEventA(nullptr, TRUE, FALSE, win::StopRequestEventName(pid_).c_str());
        if (event) stopEvent_ = FromHandle(event);
    }
    if (stopEvent_ != -1) ::SetEvent(AsHandle(stopEvent_));
    ::GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, static_cast<DWORD>(pid_));
}

void ChildProcess::Kill() {
    if (Started() && !exitCode_) ::TerminateProcess(AsHandle(process_), 1);
}

std::optional<int> ChildProcess::Wait(int timeoutMs) {
    if (!Started() || exitCode_) return exitCode_;
    if (::WaitForSingleObject(AsHandle(process_), timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs)) !=
        WAIT_OBJECT_0) {
        return std::nullopt;
    }
    DWORD code = 0;
    exitCode_ = ::GetExitCodeProcess(AsHandle(process_), &code) ? static_cast<int>(code) : -1;
    return exitCode_;
}

void ChildProcess::Detach() {
    ClosePipes();
    CloseIfOpen(process_);
    CloseIfOpen(stopEvent_);
    pid_ = 0;
    exitCode_.reset();
}

void ChildProcess::ClosePipes() {
    CloseIfOpen(output_);
    CloseIfOpen(error_);
}

}  // namespace kbr::platform

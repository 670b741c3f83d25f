// Windows: processes from a Toolhelp snapshot, starts with CreateProcess, documents through the
// shell's "open" verb, files through the C runtime's _open/_read.

#include <windows.h>
#include <shellapi.h>
#include <tlhelp32.h>

#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "platform/FileAccess.h"
#include "platform/Platform.h"
#include "platform/WinSupport.h"

namespace kbr::platform {

namespace {

using win::Handle;

std::string BaseName(const std::string& path) {
    const size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool IsRelative(const std::string& path) {
    const bool drive = path.size() >= 2 && path[1] == ':';
    const bool rooted = !path.empty() && (path[0] == '\\' || path[0] == '/');
    return !drive && !rooted;
}

void AppendArgument(std::string& line, const std::string& argument) {
    if (!line.empty()) line += ' ';
    if (!argument.empty() && argument.find_first_of(" \t\n\v\"") == std::string::npos) {
        line += argument;
        return;
    }
    line += '"';
    size_t backslashes = 0;
    for (const char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        line.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        line += c;
    }
    line.append(backslashes * 2, '\\');
    line += '"';
}

}  // namespace

namespace win {

std::string CommandLine(const std::string& program, const std::vector<std::string>& args) {
    std::string line;
    AppendArgument(line, program);
    for (const auto& arg : args) AppendArgument(line, arg);
    return line;
}

std::string LastErrorText() {
    const DWORD code = ::GetLastError();
    std::string text = SystemErrorText(code).value_or("error " + std::to_string(code));
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
    return text;
}

}  // namespace win

using win::LastErrorText;

std::vector<ProcessInfo> ListProcesses() {
    std::vector<ProcessInfo> list;
    Handle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot.Valid()) return list;
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Process32First(snapshot.Get(), &entry); more; more = ::Process32Next(snapshot.Get(), &entry)) {
        ProcessInfo info;
        info.pid = entry.th32ProcessID;
        info.executableName = BaseName(entry.szExeFile);
        if (!info.executableName.empty()) list.push_back(std::move(info));
    }
    return list;
}

bool TerminateAndWait(int64_t pid, uint32_t timeoutMs) {
    if (pid <= 0 || pid > 0xFFFFFFFFll) return false;
    Handle process(::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE,
                                 static_cast<DWORD>(pid)));
    if (!process.Valid()) return false;  // another user's, or gone
    DWORD exitCode = 0;
    if (::GetExitCodeProcess(process.Get(), &exitCode) && exitCode != STILL_ACTIVE) return false;
    if (!::TerminateProcess(process.Get(), 1)) return false;
    return ::WaitForSingleObject(process.Get(), timeoutMs) == WAIT_OBJECT_0;
}

int64_t CurrentProcessId() { return ::GetCurrentProcessId(); }

std::string CurrentExecutableName() {
    char path[MAX_PATH + 1] = {};
    const DWORD length = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    return BaseName(std::string(path, length));
}

StartResult StartProcess(const std::string& program, const std::vector<std::string>& args,
                         const StartOptions& options) {
    StartResult result;
    std::string commandLine = win::CommandLine(program, args);

    // Without the search path the program is a file name: relative to the working directory the
    // program gets (as on Linux), and taken as it is, with no ".exe" added.
    std::string application;
    if (!options.searchPath) {
        application = program;
        if (!options.workingDirectory.empty() && IsRelative(program)) {
            application = options.workingDirectory + "\\" + program;
        }
    }

    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    DWORD flags = 0;
    if (options.hidden) {
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = SW_HIDE;
        flags |= CREATE_NO_WINDOW;
    }
    PROCESS_INFORMATION started{};
    if (!::CreateProcessA(application.empty() ? nullptr : application.c_str(), commandLine.data(), nullptr, nullptr,
                          FALSE, flags, nullptr,
                          options.workingDirectory.empty() ? nullptr : options.workingDirectory.c_str(), &startup,
                          &started)) {
        result.error = LastErrorText();
        return result;
    }
    Handle process(started.hProcess);
    Handle thread(started.hThread);
    result.started = true;
    result.pid = started.dwProcessId;
    if (options.wait) {
        ::WaitForSingleObject(process.Get(), INFINITE);
        DWORD exitCode = 0;
        if (::GetExitCodeProcess(process.Get(), &exitCode)) result.exitCode = static_cast<int>(exitCode);
    }
    return result;
}

bool OpenDocument(const std::string& pathOrUrl) {
    const auto code =
        reinterpret_cast<INT_PTR>(::ShellExecuteA(nullptr, "open", pathOrUrl.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
    return code > 32;  // the shell's way of saying it worked
}

namespace {

void (*g_stopHandler)() = nullptr;

BOOL WINAPI OnConsoleControl(DWORD) {
    if (!g_stopHandler) return FALSE;
    g_stopHandler();
    return TRUE;  // handled: the program ends by itself
}

// Standard error through a bounded buffer that a thread of its own writes out, so that a reader
// that does not read stalls that thread only. The buffer plays the part of a pipe's room, which
// Windows cannot report for an anonymous pipe.
class ErrorWriter {
public:
    static constexpr size_t CAPACITY = 64 * 1024;

    static ErrorWriter& Shared() {
        static ErrorWriter writer;
        return writer;
    }
    bool HasRoom() {
        std::lock_guard lock(mutex_);
        return pending_.size() < CAPACITY;
    }
    void Add(std::string_view text) {
        std::lock_guard lock(mutex_);
        pending_.append(text);
        changed_.notify_all();
    }
    ~ErrorWriter() {
        // What is still waiting goes out if the reader takes it soon; the process does not wait
        // for one that never reads.
        std::unique_lock lock(mutex_);
        flushed_.wait_for(lock, std::chrono::seconds(2), [&] { return pending_.empty() && !writing_; });
        ending_ = true;
        changed_.notify_all();
        lock.unlock();
        thread_.detach();
    }

private:
    ErrorWriter() : thread_([this] { Run(); }) {}

    void Run() {
        const HANDLE error = ::GetStdHandle(STD_ERROR_HANDLE);
        std::unique_lock lock(mutex_);
        for (;;) {
            changed_.wait(lock, [&] { return ending_ || !pending_.empty(); });
            if (ending_) return;
            std::string text;
            text.swap(pending_);
            writing_ = true;
            lock.unlock();
            for (size_t written = 0; error && error != INVALID_HANDLE_VALUE && written < text.size();) {
                DWORD n = 0;
                if (!::WriteFile(error, text.data() + written, static_cast<DWORD>(text.size() - written), &n,
                                 nullptr) ||
                    n == 0) {
                    break;
                }
                written += n;
            }
            lock.lock();
            writing_ = false;
            flushed_.notify_all();
        }
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::condition_variable flushed_;
    std::string pending_;
    bool writing_ = false;
    bool ending_ = false;
    std::thread thread_;
};

}  // namespace

std::string win::StopRequestEventName(int64_t pid) { return "Local\\kbr-stop-request-" + std::to_string(pid); }

void CallOnStopRequest(void (*handler)()) {
    g_stopHandler = handler;
    ::SetConsoleCtrlHandler(OnConsoleControl, TRUE);
    // A program without a console (started by another with pipes) is asked through a named event
    // instead: ChildProcess::RequestStop sets it.
    const HANDLE event = ::CreateEventA(nullptr, TRUE, FALSE, win::StopRequestEventName(CurrentProcessId()).c_str());
    if (event == nullptr) return;
    std::thread([event] {
        if (::WaitForSingleObject(event, INFINITE) == WAIT_OBJECT_0 && g_stopHandler) g_stopHandler();
    }).detach();
}

bool StandardErrorWritable() { return ErrorWriter::Shared().HasRoom(); }

void WriteStandardError(std::string_view text) { ErrorWriter::Shared().Add(text); }

SystemVersion RunningSystemVersion() {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    const DWORD version = ::GetVersion();
#pragma GCC diagnostic pop
    return {true, LOBYTE(LOWORD(version))};
}

std::optional<std::string> SystemErrorText(uint32_t code) {
    char* buffer = nullptr;
    const DWORD length =
        ::FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code,
                         MAKELANGID(LANG_NEUTRAL, SUBLANG_SYS_DEFAULT), reinterpret_cast<char*>(&buffer), 0, nullptr);
    if (length == 0 || !buffer) return std::nullopt;
    std::string text(buffer, length);
    ::LocalFree(buffer);
    return text;
}

bool RunsAsSuperuser() { return false; }

namespace file {

int OpenForReading(const std::string& path) {
    int fd = -1;
    errno = ::_sopen_s(&fd, path.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT, _SH_DENYNO, 0);
    return errno == 0 ? fd : -1;
}

int RegularFileSize(int fd, uint64_t& size) {
    struct _stat64 info {};
    if (::_fstat64(fd, &info) != 0) return errno;
    if ((info.st_mode & _S_IFMT) == _S_IFDIR) return EISDIR;
    if ((info.st_mode & _S_IFMT) != _S_IFREG) return ESPIPE;
    size = static_cast<uint64_t>(info.st_size);
    return 0;
}

long ReadSome(int fd, void* buffer, size_t size) {
    return ::_read(fd, buffer, static_cast<unsigned>(size > (1u << 30) ? (1u << 30) : size));
}

void Close(int fd) { ::_close(fd); }

}  // namespace file

}  // namespace kbr::platform

#include <windows.h>

#include <io.h>

#include <atomic>
#include <cstdio>

#include "platform/Terminal.h"
#include "platform/WinSupport.h"

namespace kbr::platform {

namespace {

constexpr size_t MAX_LINE = 4096;  // a password or an answer; the rest of a longer line is dropped

std::atomic<int> g_interrupts{0};
// The console input's mode while a line is read without echo, for the handler to put back.
std::atomic<HANDLE> g_restoreHandle{nullptr};
std::atomic<DWORD> g_savedMode{0};

BOOL WINAPI RestoreOnControl(DWORD) {
    if (HANDLE input = g_restoreHandle.load()) ::SetConsoleMode(input, g_savedMode.load());
    return FALSE;  // then the default handling: the program ends
}

BOOL WINAPI CountControl(DWORD type) {
    if (type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT) {
        g_interrupts.fetch_add(1);
        return TRUE;
    }
    return FALSE;
}

}  // namespace

bool IsTerminal(StandardStream stream) {
    switch (stream) {
        case StandardStream::Input: return ::_isatty(_fileno(stdin)) != 0;
        case StandardStream::Output: return ::_isatty(_fileno(stdout)) != 0;
        case StandardStream::Error: return ::_isatty(_fileno(stderr)) != 0;
    }
    return false;
}

std::optional<std::string> ReadTerminalLine(std::string_view prompt, bool echo) {
    const win::Handle input(::CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                          nullptr, OPEN_EXISTING, 0, nullptr));
    const win::Handle output(::CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                           nullptr, OPEN_EXISTING, 0, nullptr));
    DWORD mode = 0;
    if (!input.Valid() || !output.Valid() || !::GetConsoleMode(input.Get(), &mode) || ::_isatty(_fileno(stdin)) == 0) {
        return std::nullopt;
    }
    DWORD written = 0;
    ::WriteConsoleA(output.Get(), prompt.data(), static_cast<DWORD>(prompt.size()), &written, nullptr);
    if (!echo) {
        g_savedMode = mode;
        g_restoreHandle = input.Get();
        ::SetConsoleCtrlHandler(RestoreOnControl, TRUE);
        ::SetConsoleMode(input.Get(), mode & ~static_cast<DWORD>(ENABLE_ECHO_INPUT));
    }
    std::string line;
    bool ended = false;
    for (;;) {
        char c = 0;
        DWORD read = 0;
        if (!::ReadConsoleA(input.Get(), &c, 1, &read, nullptr) || read == 0) {
            ended = true;
            break;
        }
        if (c == '\n') break;
        if (c != '\r' && line.size() < MAX_LINE) line.push_back(c);
    }
    if (!echo) {
        ::SetConsoleMode(input.Get(), mode);
        ::SetConsoleCtrlHandler(RestoreOnControl, FALSE);
        g_restoreHandle = nullptr;
        ::WriteConsoleA(output.Get(), "\r\n", 2, &written, nullptr);
    }
    if (ended && line.empty()) return std::nullopt;
    return line;
}

InterruptCatcher::InterruptCatcher() {
    g_interrupts = 0;
    ::SetConsoleCtrlHandler(CountControl, TRUE);
}

InterruptCatcher::~InterruptCatcher() { ::SetConsoleCtrlHandler(CountControl, FALSE); }

int InterruptCatcher::Count() const { return g_interrupts.load(); }

}  // namespace kbr::platform

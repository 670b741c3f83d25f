#include "platform/SafeFile.h"

#include <cerrno>
#include <cstring>
#include <random>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/Descriptor.h"
#else
#include <windows.h>

#include <algorithm>
#include <filesystem>

#include "platform/WinSupport.h"
// windows.h makes ReplaceFile a macro for a function of its own (ReplaceFileA): not ours.
#undef ReplaceFile
#endif

namespace kbr::platform {

#ifndef _WIN32

namespace {

bool WriteAll(int fd, std::string_view content) {
    while (!content.empty()) {
        const ssize_t n = ::write(fd, content.data(), content.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        content.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

}  // namespace

std::optional<std::string> ReadRegularFile(const std::string& path, size_t maxBytes, bool ownedByUs) {
    // Non-blocking: opening a FIFO for reading would otherwise wait for a writer.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return std::nullopt;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || (ownedByUs && info.st_uid != ::geteuid())) {
        ::close(fd);
        return std::nullopt;
    }
    std::string content(maxBytes, '\0');
    size_t got = 0;
    while (got < maxBytes) {
        const ssize_t n = ::read(fd, content.data() + got, maxBytes - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0) break;
        got += static_cast<size_t>(n);
    }
    ::close(fd);
    content.resize(got);
    return content;
}

bool ReplaceFileAt(int directory, const std::string& shownDirectory, const std::string& name, std::string_view content,
                   unsigned mode, std::string* error) {
    const std::string base = shownDirectory + "/";
    const auto fail = [error](const std::string& what, int code) {
        if (error) *error = what + ": " + std::strerror(code);
        return false;
    };
    std::random_device rng;
    for (int attempt = 0; attempt < 16; ++attempt) {
        const std::string temporary = "." + name + "." + std::to_string(rng()) + ".new";
        const int fd = ::openat(directory, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                                static_cast<mode_t>(mode));
        if (fd < 0) {
            if (errno == EEXIST) continue;
            return fail("cannot write " + base + temporary, errno);
        }
        const bool written = WriteAll(fd, content) && ::fchmod(fd, static_cast<mode_t>(mode)) == 0 && ::fsync(fd) == 0;
        int code = errno;
        const bool closed = ::close(fd) == 0;
        if (written && !closed) code = errno;
        // renameat() replaces a link named `name` itself; it never writes to the link's target.
        if (written && closed) {
            if (::renameat(directory, temporary.c_str(), directory, name.c_str()) == 0) return true;
            code = errno;
            ::unlinkat(directory, temporary.c_str(), 0);
            return fail("cannot replace " + base + name, code);
        }
        ::unlinkat(directory, temporary.c_str(), 0);
        return fail("cannot write " + base + temporary, code);
    }
    return fail("cannot write a new file beside " + base + name, EEXIST);
}

bool ReplaceFile(const std::string& directory, const std::string& name, std::string_view content, unsigned mode,
                 std::string* error) {
    const std::string shown = directory.empty() ? std::string(".") : directory;
    const Descriptor folder(::open(shown.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder.Valid()) {
        if (error) *error = "cannot write in " + shown + ": " + std::strerror(errno);
        return false;
    }
    return ReplaceFileAt(folder.Get(), shown, name, content, mode, error);
}

bool EnsurePrivateDirectory(const std::string& path) {
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return false;
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::geteuid() &&
           (info.st_mode & 0077) == 0;
}

#else  // Windows: links (reparse points) refused or replaced, never followed; no FIFOs to fear.

namespace {

using win::Handle;

bool WriteAll(HANDLE file, std::string_view content) {
    while (!content.empty()) {
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(content.size(), 1u << 30));
        DWORD written = 0;
        if (!::WriteFile(file, content.data(), chunk, &written, nullptr) || written == 0) return false;
        content.remove_prefix(written);
    }
    return true;
}

}  // namespace

std::optional<std::string> ReadRegularFile(const std::string& path, size_t maxBytes, bool) {
    // The link itself is opened, not what it points to, and then refused.
    Handle file(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    BY_HANDLE_FILE_INFORMATION information{};
    if (!file.Valid() || ::GetFileType(file.Get()) != FILE_TYPE_DISK ||
        !::GetFileInformationByHandle(file.Get(), &information) ||
        (information.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
        return std::nullopt;
    }
    std::string content(maxBytes, '\0');
    size_t got = 0;
    while (got < maxBytes) {
        DWORD n = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(maxBytes - got, 1u << 30));
        if (!::ReadFile(file.Get(), content.data() + got, chunk, &n, nullptr)) return std::nullopt;
        if (n == 0) break;
        got += n;
    }
    content.resize(got);
    return content;
}

bool ReplaceFile(const std::string& directory, const std::string& name, std::string_view content, unsigned,
                 std::string* error) {
    const std::string base = (directory.empty() ? std::string(".") : directory) + "\\";
    const auto fail = [error](const std::string& what) {
        if (error) *error = what + ": " + win::LastErrorText();
        return false;
    };
    std::random_device rng;
    for (int attempt = 0; attempt < 16; ++attempt) {
        const std::string temporary = base + "." + name + "." + std::to_string(rng()) + ".new";
        // CREATE_NEW: a name that is taken, by a file or a link, is never opened.
        Handle file(
            ::CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file.Valid()) {
            if (::GetLastError() == ERROR_FILE_EXISTS) continue;
            return fail("cannot write " + temporary);
        }
        const bool written = WriteAll(file.Get(), content) && ::FlushFileBuffers(file.Get());
        DWORD code = ::GetLastError();
        const bool closed = file.Close();
        if (written && !closed) code = ::GetLastError();
        // Renaming over a link replaces the link itself; it never writes to the link's target.
        if (written && closed) {
            if (::MoveFileExA(temporary.c_str(), (base + name).c_str(),
                              MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
                return true;
            }
            code = ::GetLastError();
            ::DeleteFileA(temporary.c_str());
            ::SetLastError(code);
            return fail("cannot replace " + base + name);
        }
        ::DeleteFileA(temporary.c_str());
        ::SetLastError(code);
        return fail("cannot write " + temporary);
    }
    ::SetLastError(ERROR_FILE_EXISTS);
    return fail("cannot write a new file beside " + base + name);
}

bool EnsurePrivateDirectory(const std::string& path) {
    std::error_code error;
    std::filesystem::create_directories(path, error);
    return std::filesystem::is_directory(path, error);
}

#endif

}  // namespace kbr::platform

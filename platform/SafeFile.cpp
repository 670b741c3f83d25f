#include "platform/SafeFile.h"

#include <cerrno>
#include <cstring>
#include <random>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#else
#include <filesystem>
#include <fstream>
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

bool ReplaceFile(const std::string& directory, const std::string& name, std::string_view content, unsigned mode,
                 std::string* error) {
    const std::string base = (directory.empty() ? std::string(".") : directory) + "/";
    const auto fail = [error](const std::string& what, int code) {
        if (error) *error = what + ": " + std::strerror(code);
        return false;
    };
    std::random_device rng;
    for (int attempt = 0; attempt < 16; ++attempt) {
        const std::string temporary = base + "." + name + "." + std::to_string(rng()) + ".new";
        const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                              static_cast<mode_t>(mode));
        if (fd < 0) {
            if (errno == EEXIST) continue;
            return fail("cannot write " + temporary, errno);
        }
        const bool written = WriteAll(fd, content) && ::fchmod(fd, static_cast<mode_t>(mode)) == 0 && ::fsync(fd) == 0;
        int code = errno;
        const bool closed = ::close(fd) == 0;
        if (written && !closed) code = errno;
        // rename() replaces a link named `name` itself; it never writes to the link's target.
        if (written && closed) {
            if (::rename(temporary.c_str(), (base + name).c_str()) == 0) return true;
            code = errno;
            ::unlink(temporary.c_str());
            return fail("cannot replace " + base + name, code);
        }
        ::unlink(temporary.c_str());
        return fail("cannot write " + temporary, code);
    }
    return fail("cannot write a new file beside " + base + name, EEXIST);
}

bool EnsurePrivateDirectory(const std::string& path) {
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return false;
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::geteuid() &&
           (info.st_mode & 0077) == 0;
}

#else  // Windows: no FIFOs or links to fear in the run folder; plain file operations.

std::optional<std::string> ReadRegularFile(const std::string& path, size_t maxBytes, bool) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) return std::nullopt;
    std::ifstream file(path, std::ios::binary);
    if (!file) return std::nullopt;
    std::string content(maxBytes, '\0');
    file.read(content.data(), static_cast<std::streamsize>(maxBytes));
    content.resize(static_cast<size_t>(file.gcount()));
    return content;
}

bool ReplaceFile(const std::string& directory, const std::string& name, std::string_view content, unsigned,
                 std::string* error) {
    const std::filesystem::path target = std::filesystem::path(directory.empty() ? "." : directory) / name;
    std::filesystem::path temporary = target;
    temporary += ".new";
    {
        std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
        if (!file.write(content.data(), static_cast<std::streamsize>(content.size()))) {
            if (error) *error = "cannot write " + temporary.string();
            return false;
        }
    }
    std::error_code failure;
    std::filesystem::rename(temporary, target, failure);
    if (!failure) return true;
    if (error) *error = "cannot replace " + target.string() + ": " + failure.message();
    std::filesystem::remove(temporary, failure);
    return false;
}

bool EnsurePrivateDirectory(const std::string& path) {
    std::error_code error;
    std::filesystem::create_directories(path, error);
    return std::filesystem::is_directory(path, error);
}

#endif

}  // namespace kbr::platform

#include "platform/PrivateFolder.h"
#include "platform/SafeFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <random>

namespace kbr::platform {

namespace {

constexpr const char* FOLDER_NAME = "kbr3300";
constexpr const char* ROOT_RUN = "/run";
constexpr int DIRECTORY_FLAGS = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

bool Fail(std::string* why, const std::string& reason) {
    if (why) *why = reason;
    return false;
}

std::string ErrnoText(int code) { return std::strerror(code); }

// A name inside the folder: one plain component.
bool PlainName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

bool TrustedParent(int fd, PrivateFolder::Parent parent, const std::string& path, std::string* why) {
    struct stat info {};
    if (::fstat(fd, &info) != 0) return Fail(why, "cannot check " + path + ": " + ErrnoText(errno));
    if (parent == PrivateFolder::Parent::System) {
        if (info.st_uid != 0 || (info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
            return Fail(why, path + " is not root's alone");
        }
    } else if (info.st_uid != ::geteuid() || (info.st_mode & 0077) != 0) {
        return Fail(why, path + " is not this user's private folder");
    }
    return true;
}

}  // namespace

PrivateFolder PrivateFolder::ForThisUser(std::string* why) {
    if (::geteuid() == 0) {
        // Never the environment's folder: it may be the user's who ran su or sudo -E.
        return Open(ROOT_RUN, Parent::System, FOLDER_NAME, why);
    }
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime == nullptr || runtime[0] != '/') {
        if (why) *why = "XDG_RUNTIME_DIR is not set";
        return {};
    }
    return Open(runtime, Parent::Private, FOLDER_NAME, why);
}

PrivateFolder PrivateFolder::Open(const std::string& parentPath, Parent parent, const std::string& name,
                                  std::string* why) {
    PrivateFolder folder;
    if (!PlainName(name)) {
        Fail(why, "not a folder name: " + name);
        return folder;
    }
    // The parent itself may be reached through links (/var/run); from here on only descriptors.
    const Descriptor parentFd(::open(parentPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!parentFd.Valid()) {
        Fail(why, "cannot open " + parentPath + ": " + ErrnoText(errno));
        return folder;
    }
    if (!TrustedParent(parentFd.Get(), parent, parentPath, why)) return folder;
    const std::string path = parentPath + (parentPath.back() == '/' ? "" : "/") + name;
    if (::mkdirat(parentFd.Get(), name.c_str(), 0700) != 0 && errno != EEXIST) {
        Fail(why, "cannot make " + path + ": " + ErrnoText(errno));
        return folder;
    }
    Descriptor fd(::openat(parentFd.Get(), name.c_str(), DIRECTORY_FLAGS));
    if (!fd.Valid()) {
        // ELOOP or ENOTDIR: a link or a file planted under the name.
        Fail(why, path + " is not a folder (" + ErrnoText(errno) + ")");
        return folder;
    }
    struct stat info {};
    if (::fstat(fd.Get(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        Fail(why, "cannot check " + path);
        return folder;
    }
    if (info.st_uid != ::geteuid()) {
        Fail(why, path + " belongs to another user");
        return folder;
    }
    // Ours, in a parent nobody else can write to: an older launcher's `mkdir -p` left it 0755.
    if ((info.st_mode & 0077) != 0 && ::fchmod(fd.Get(), 0700) != 0) {
        Fail(why, "cannot make " + path + " private: " + ErrnoText(errno));
        return folder;
    }
    folder.fd_ = std::move(fd);
    folder.path_ = path;
    return folder;
}

std::optional<std::string> PrivateFolder::Read(const std::string& name, size_t maxBytes, bool* missing) const {
    if (missing) *missing = false;
    if (!Valid() || !PlainName(name)) return std::nullopt;
    // Non-blocking: opening a FIFO for reading would otherwise wait for a writer.
    const Descriptor fd(::openat(fd_.Get(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (!fd.Valid()) {
        if (missing) *missing = errno == ENOENT;
        return std::nullopt;
    }
    struct stat info {};
    if (::fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::geteuid()) return std::nullopt;
    std::string content(maxBytes, '\0');
    size_t got = 0;
    while (got < maxBytes) {
        const ssize_t n = ::read(fd.Get(), content.data() + got, maxBytes - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return std::nullopt;
        if (n == 0) break;
        got += static_cast<size_t>(n);
    }
    content.resize(got);
    return content;
}

bool PrivateFolder::Replace(const std::string& name, std::string_view content, std::string* error) const {
    if (!Valid() || !PlainName(name)) return Fail(error, "no folder to write " + name + " in");
    return ReplaceFileAt(fd_.Get(), path_, name, content, 0600, error);
}

bool PrivateFolder::Remove(const std::string& name) const {
    if (!Valid() || !PlainName(name)) return false;
    return ::unlinkat(fd_.Get(), name.c_str(), 0) == 0 || errno == ENOENT;
}

Descriptor PrivateFolder::OpenLockFile(const std::string& name) const {
    if (!Valid() || !PlainName(name)) return {};
    Descriptor fd(::openat(fd_.Get(), name.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600));
    struct stat info {};
    if (!fd.Valid() || ::fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::geteuid()) {
        return {};
    }
    return fd;
}

}  // namespace kbr::platform

#include "tools/devsim/StateFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>

namespace kbr::devsim {

namespace {

bool SetError(std::string* error, std::string text) {
    if (error) *error = std::move(text);
    return false;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

}  // namespace

std::string EscapeStateValue(std::string_view raw) {
    static const char* const HEX = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : raw) {
        if (c > 0x20 && c < 0x7F && c != '%' && c != '=') {
            out.push_back(static_cast<char>(c));
        } else {
            out.push_back('%');
            out.push_back(HEX[c >> 4]);
            out.push_back(HEX[c & 0xF]);
        }
    }
    return out;
}

std::optional<std::string> UnescapeStateValue(std::string_view escaped) {
    std::string out;
    for (size_t i = 0; i < escaped.size(); ++i) {
        if (escaped[i] != '%') {
            out.push_back(escaped[i]);
            continue;
        }
        if (i + 2 >= escaped.size()) return std::nullopt;
        const int high = HexDigit(escaped[i + 1]);
        const int low = HexDigit(escaped[i + 2]);
        if (high < 0 || low < 0) return std::nullopt;
        out.push_back(static_cast<char>(high * 16 + low));
        i += 2;
    }
    return out;
}

std::optional<StateValues> ParseStateText(std::string_view text, const std::string& name, std::string* error) {
    StateValues values;
    int number = 0;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        ++number;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty() || line[0] == '#') continue;
        const size_t equals = line.find('=');
        std::optional<std::string> value;
        if (equals != std::string_view::npos && equals > 0) value = UnescapeStateValue(line.substr(equals + 1));
        if (!value) {
            SetError(error, "state file " + name + ", line " + std::to_string(number) + ": expected key=value, got '" +
                                std::string(line) + "'");
            return std::nullopt;
        }
        values[std::string(line.substr(0, equals))] = std::move(*value);
    }
    return values;
}

std::optional<StateValues> ReadStateFile(const std::string& path, std::string* error) {
    // Not blocking on a FIFO, and never more than a state file can sensibly hold.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) return StateValues{};
        SetError(error, "cannot read state file " + path + ": " + std::strerror(errno));
        return std::nullopt;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        SetError(error, "cannot read state file " + path + ": not a regular file");
        return std::nullopt;
    }
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            const int saved = errno;
            ::close(fd);
            SetError(error, "cannot read state file " + path + ": " + std::strerror(saved));
            return std::nullopt;
        }
        if (n == 0) break;
        if (text.size() + static_cast<size_t>(n) > MAX_STATE_FILE_SIZE) {
            ::close(fd);
            SetError(error, "state file " + path + " is larger than " + std::to_string(MAX_STATE_FILE_SIZE) + " bytes");
            return std::nullopt;
        }
        text.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    return ParseStateText(text, path, error);
}

namespace {

// Creates a file next to `path` under a new random name, with O_EXCL and O_NOFOLLOW: whatever
// others planted in the folder (a link at a name we might pick, a file of theirs) is never
// opened or followed. The descriptor, or -1 with errno set.
int CreateTemporaryBeside(const std::string& path, mode_t mode, std::string& temporary) {
    static const char ALPHABET[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string suffix;
        for (int i = 0; i < 12; ++i) suffix.push_back(ALPHABET[random() % (sizeof ALPHABET - 1)]);
        temporary = path + "." + suffix + ".tmp";
        const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    errno = EEXIST;
    return -1;
}

}  // namespace

bool WriteFileAtomically(const std::string& path, std::string_view bytes, mode_t mode, std::string* error) {
    std::string temporary;
    const int fd = CreateTemporaryBeside(path, mode, temporary);
    if (fd < 0) return SetError(error, "cannot write a temporary file beside " + path + ": " + std::strerror(errno));
    size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const int saved = errno;
            ::close(fd);
            ::unlink(temporary.c_str());
            return SetError(error, "cannot write " + temporary + ": " + std::strerror(saved));
        }
        written += static_cast<size_t>(n);
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0) {
        const int saved = errno;
        ::unlink(temporary.c_str());
        return SetError(error, "cannot write " + temporary + ": " + std::strerror(saved));
    }
    // rename replaces whatever is at path, a link included, and never writes through it.
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        const int saved = errno;
        ::unlink(temporary.c_str());
        return SetError(error, "cannot replace " + path + ": " + std::strerror(saved));
    }
    return true;
}

std::string StateText(const std::vector<std::pair<std::string, std::string>>& values) {
    std::string text = "# kbr3300-devsim state: what the simulated device remembers across restarts\n";
    for (const auto& [key, value] : values) text += key + '=' + EscapeStateValue(value) + '\n';
    return text;
}

bool WriteStateFile(const std::string& path, const std::vector<std::pair<std::string, std::string>>& values,
                    std::string* error) {
    // The state holds the device's passwords: for the owner's eyes only.
    return WriteFileAtomically(path, StateText(values), 0600, error);
}

}  // namespace kbr::devsim

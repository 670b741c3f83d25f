#include "devtools/devsim/StateFile.h"

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "platform/Platform.h"
#include "platform/SafeFile.h"

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
    // Without waiting on a pipe, and never more than a state file can hold.
    const platform::WholeFile file = platform::ReadWholeFile(path, MAX_STATE_FILE_SIZE);
    if (file.error == ENOENT) return StateValues{};
    if (file.tooLarge) {
        SetError(error, "state file " + path + " is larger than " + std::to_string(MAX_STATE_FILE_SIZE) + " bytes");
        return std::nullopt;
    }
    if (file.error != 0) {
        const bool notAFile = file.error == EISDIR || file.error == ESPIPE;
        SetError(error, "cannot read state file " + path + ": " +
                            (notAFile ? std::string("not a regular file") : std::string(std::strerror(file.error))));
        return std::nullopt;
    }
    return ParseStateText(std::string_view(reinterpret_cast<const char*>(file.bytes.data()), file.bytes.size()), path,
                          error);
}

std::string StateText(const std::vector<std::pair<std::string, std::string>>& values) {
    std::string text = "# kbr3300-devsim state: what the simulated device remembers across restarts\n";
    for (const auto& [key, value] : values) text += key + '=' + EscapeStateValue(value) + '\n';
    return text;
}

bool WriteFileAtomically(const std::string& path, std::string_view bytes, mode_t mode, std::string* error) {
    // The system's own separators (Windows: either slash).
    const std::filesystem::path file(path);
    const std::string directory = file.has_parent_path() ? file.parent_path().string() : std::string(".");
    return platform::ReplaceFile(directory, file.filename().string(), bytes, mode, error);
}

bool WriteStateFile(const std::string& path, const std::vector<std::pair<std::string, std::string>>& values,
                    std::string* error) {
    // The state holds the device's passwords: for the owner's eyes only.
    return WriteFileAtomically(path, StateText(values), 0600, error);
}

}  // namespace kbr::devsim

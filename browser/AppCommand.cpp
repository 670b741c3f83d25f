#include "browser/AppCommand.h"

#include <cctype>
#include <limits>

namespace kbr {

std::optional<std::string_view> MatchAppUrl(std::string_view url) {
    static constexpr std::string_view kPrefix = "app:";
    if (url.size() < kPrefix.size()) return std::nullopt;
    for (size_t i = 0; i < kPrefix.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(url[i])) != kPrefix[i]) return std::nullopt;
    }
    return url.substr(kPrefix.size());
}

int32_t LeadingInt(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    int64_t value = 0;
    const int64_t limit = negative ? -int64_t{std::numeric_limits<int32_t>::min()} : std::numeric_limits<int32_t>::max();
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > limit) value = limit;  // saturate; keep consuming digits
    }
    return static_cast<int32_t>(negative ? -value : value);
}

AppCommand ParseAppCommand(std::string_view text) {
    AppCommand command;
    command.code = LeadingInt(text);
    const size_t at = text.find('@');
    command.argument = at == std::string_view::npos ? std::string(" ") : std::string(text.substr(at + 1));
    return command;
}

namespace {

// Length of "X:\fakepath\" at text[at], or 0 when it is not there.
size_t FakePathPrefix(std::string_view text, size_t at) {
    static constexpr std::string_view kFolder = ":\\fakepath\\";
    if (at + 1 + kFolder.size() > text.size()) return 0;
    if (!std::isalpha(static_cast<unsigned char>(text[at]))) return 0;
    for (size_t i = 0; i < kFolder.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(text[at + 1 + i])) != kFolder[i]) return 0;
    }
    return 1 + kFolder.size();
}

bool EndsName(std::string_view text, size_t at) {
    if (at == text.size()) return true;
    static constexpr std::string_view kSeparators = "@,;&|\"'\r\n";
    return kSeparators.find(text[at]) != std::string_view::npos;
}

}  // namespace

std::string ReplaceFakePaths(std::string_view text, const std::vector<ChosenFile>& chosen) {
    std::string out;
    out.reserve(text.size());
    size_t at = 0;
    while (at < text.size()) {
        const size_t prefix = FakePathPrefix(text, at);
        const ChosenFile* best = nullptr;
        if (prefix != 0) {
            const std::string_view rest = text.substr(at + prefix);
            for (const ChosenFile& file : chosen) {  // later entries are later choices
                if (file.name.empty() || rest.substr(0, file.name.size()) != file.name) continue;
                if (!EndsName(rest, file.name.size())) continue;
                if (!best || file.name.size() >= best->name.size()) best = &file;
            }
        }
        if (best) {
            out += best->path;
            at += prefix + best->name.size();
        } else {
            out += text[at++];
        }
    }
    return out;
}

}  // namespace kbr

#include "browser/AppCommand.h"

#include "link/OperationFactory.h"

#include <algorithm>
#include <cctype>
#include <limits>

namespace kbr {

std::optional<std::string_view> MatchAppUrl(std::string_view url) {
    static constexpr std::string_view PREFIX = "app:";
    if (url.size() < PREFIX.size()) return std::nullopt;
    for (size_t i = 0; i < PREFIX.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(url[i])) != PREFIX[i]) return std::nullopt;
    }
    return url.substr(PREFIX.size());
}

int32_t LeadingInt(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    int64_t value = 0;
    const int64_t limit =
        negative ? -int64_t{std::numeric_limits<int32_t>::min()} : std::numeric_limits<int32_t>::max();
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

// Length of "X:\fakepath\" at the start of text, or 0 when it is not there.
size_t FakePathPrefix(std::string_view text) {
    static constexpr std::string_view FOLDER = ":\\fakepath\\";
    if (text.size() < 1 + FOLDER.size()) return 0;
    if (!std::isalpha(static_cast<unsigned char>(text[0]))) return 0;
    for (size_t i = 0; i < FOLDER.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(text[1 + i])) != FOLDER[i]) return 0;
    }
    return 1 + FOLDER.size();
}

bool CarriesFilePath(int function) { return function == 8 || function == 14; }

}  // namespace

std::string WithChosenFilePath(std::string_view text, const std::vector<ChosenFile>& chosen) {
    if (LeadingInt(text) != 1003) return std::string(text);
    const size_t at = text.find('@');
    if (at == std::string_view::npos) return std::string(text);
    // The function number and its argument, read as the command queue reads them.
    const std::string_view command = text.substr(at + 1);
    const size_t colon = command.find(':');
    if (colon == std::string_view::npos || !CarriesFilePath(ParseFunctionCommand(command).function)) {
        return std::string(text);
    }
    const size_t argsStart = at + 1 + colon + 1;
    const std::string_view args = text.substr(argsStart);
    const size_t prefix = FakePathPrefix(args);
    if (prefix == 0) return std::string(text);
    const std::string_view name = args.substr(prefix);
    const auto latest = std::find_if(chosen.rbegin(), chosen.rend(), [name](const ChosenFile& file) {
        return !file.name.empty() && file.name == name;
    });
    if (latest == chosen.rend()) return std::string(text);
    return std::string(text.substr(0, argsStart)) + latest->path;
}

}  // namespace kbr

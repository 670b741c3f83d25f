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

}  // namespace kbr

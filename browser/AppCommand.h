#pragma once
// A page command taken from an intercepted "app:" URL: plain text handling, no browser needed.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kbr {

struct AppCommand {
    int32_t code = 0;      // leading decimal number of the text after "app:" (0 when there is none)
    std::string argument;  // text after the first "@"; a single blank when there is no "@"
};

// The text after "app:" when the first 4 bytes of url are "app:" in any letter case; nothing
// for any other URL (shorter ones included).
std::optional<std::string_view> MatchAppUrl(std::string_view url);

// Parses the text after "app:". The code is read as atoi does (leading white space, an optional
// sign, digits; no digits gives 0), except that a number beyond the 32-bit range saturates at
// its end instead of being undefined. No unescaping is done.
AppCommand ParseAppCommand(std::string_view text);

// atoi-like reading of the leading decimal number, saturating at the 32-bit limits.
int32_t LeadingInt(std::string_view text);

}  // namespace kbr

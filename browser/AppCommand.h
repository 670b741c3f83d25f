#pragma once
// A page command taken from an intercepted "app:" URL: plain text handling, no browser needed.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

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

// A file chosen in a page's file input: its name (what the page sees) and its full path.
struct ChosenFile {
    std::string name;
    std::string path;
};

// The browser hands a page a chosen file's value as "C:\fakepath\NAME", never the real path.
// Replaces every "X:\fakepath\NAME" in text (any drive letter, any letter case of "fakepath")
// whose NAME is exactly the name of one of `chosen` with that file's full path; where several names
// fit, the longest wins (and the latest choice of that name). A name fits only where it ends the
// text or is followed by one of @ , ; & | " ' or a line break, so a name that is only the start of
// a longer one is never taken for it. Everything else is left as it is.
std::string ReplaceFakePaths(std::string_view text, const std::vector<ChosenFile>& chosen);

}  // namespace kbr

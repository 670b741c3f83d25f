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
// The two device functions that carry a file path, 8 (firmware upgrade) and 14 (image version
// read), get back the full path of the file the user chose: in a command text (what follows
// "app:") of code 1003 whose function is 8 or 14 and whose function argument is
// "X:\fakepath\NAME" (any drive letter, any letter case of "fakepath"), with NAME exactly the
// name of one of `chosen` (the latest choice of that name), the argument becomes that file's path.
// Every other text, and every other command, is returned unchanged.
std::string WithChosenFilePath(std::string_view text, const std::vector<ChosenFile>& chosen);

}  // namespace kbr

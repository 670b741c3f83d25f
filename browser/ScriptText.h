#pragma once
// The one escaping function for every string that crosses from the program into page script.

#include <string>
#include <string_view>

namespace kbr {

// `text` (UTF-8) as a double-quoted JavaScript/JSON string literal. Quotes, backslashes, control
// characters, line and paragraph separators (U+2028/U+2029), "<" and ">" (so "</script>" and
// "<!--" cannot end a script block) are escaped; invalid UTF-8 bytes become U+FFFD. The result
// is valid JSON and valid JavaScript in any context where a string literal may stand.
std::string JsStringLiteral(std::string_view text);

}  // namespace kbr

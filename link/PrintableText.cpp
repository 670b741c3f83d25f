#include "link/PrintableText.h"

namespace kbr {

std::string PrintableText(std::string_view text, size_t limit) {
    static constexpr char HEX[] = "0123456789abcdef";
    const std::string_view shown = text.substr(0, limit);
    std::string out;
    out.reserve(shown.size() + 3);
    for (const char ch : shown) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '\\' || c == '\'' || c == '"') {
            out += '\\';
            out += ch;
        } else if (c >= 0x20 && c < 0x7F) {
            out += ch;
        } else {
            out += "\\x";
            out += HEX[c >> 4];
            out += HEX[c & 0xF];
        }
    }
    if (shown.size() < text.size()) out += "...";
    return out;
}

}  // namespace kbr

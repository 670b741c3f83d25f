#include "browser/ScriptText.h"

#include <cstdint>
#include <cstdio>

namespace kbr {
namespace {

void AppendEscape(std::string& out, uint32_t unit) {
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "\\u%04x", static_cast<unsigned>(unit));
    out += buffer;
}

// Length of the valid UTF-8 sequence at text[i] and its code point; 0 when it is not valid.
size_t DecodeUtf8(std::string_view text, size_t i, uint32_t& cp) {
    const auto byte = [&](size_t k) { return static_cast<uint8_t>(text[k]); };
    const uint8_t b0 = byte(i);
    size_t length = 0;
    if (b0 < 0x80) {
        cp = b0;
        return 1;
    } else if ((b0 & 0xE0) == 0xC0) {
        length = 2;
        cp = b0 & 0x1F;
    } else if ((b0 & 0xF0) == 0xE0) {
        length = 3;
        cp = b0 & 0x0F;
    } else if ((b0 & 0xF8) == 0xF0) {
        length = 4;
        cp = b0 & 0x07;
    } else {
        return 0;
    }
    if (i + length > text.size()) return 0;
    for (size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (byte(i + k) & 0x3F);
    }
    static constexpr uint32_t MIN_CODE_POINT[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < MIN_CODE_POINT[length] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;  // overlong or not a character
    return length;
}

}  // namespace

std::string JsStringLiteral(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 2);
    out += '"';
    for (size_t i = 0; i < text.size();) {
        uint32_t cp = 0;
        const size_t length = DecodeUtf8(text, i, cp);
        if (length == 0) {
            out += "\\ufffd";
            ++i;
            continue;
        }
        switch (cp) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            case '<':
            case '>':
            case '&':
            case '\'':
            case 0x2028:
            case 0x2029: AppendEscape(out, cp); break;
            default:
                if (cp < 0x20 || cp == 0x7F) {
                    AppendEscape(out, cp);
                } else {
                    out.append(text.substr(i, length));
                }
        }
        i += length;
    }
    out += '"';
    return out;
}

}  // namespace kbr

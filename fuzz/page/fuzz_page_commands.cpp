// What a page can send and get back: any text as an "app:" URL through the command parse
// (AppCommand, then ParseFunctionCommand for a function command, with the chosen file's path put
// back where a function takes a file), and any text through the one escaping of page-call
// arguments, which must give a string literal that decodes to the text itself.
//
// Checked besides the sanitizers:
//   - the argument is the text after the first "@" (a blank without one), the code is the
//     leading number read as atoi does, saturated to 32 bits; the function command splits at its
//     first ":" in the same way;
//   - a text with no chosen files stays as it is, and with chosen files only the file argument of
//     functions 8 and 14 may become a chosen file's path;
//   - JsStringLiteral gives a valid JSON string with nothing in it that could end a script or
//     string literal in a page (no raw quotes, <, >, &, ', controls, U+2028/U+2029), and decoding
//     it gives the text, with each byte that is not part of valid UTF-8 as U+FFFD.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "browser/AppCommand.h"
#include "browser/ScriptText.h"
#include "browser/Utf8.h"
#include "link/OperationFactory.h"

using namespace kbr;

namespace {

[[noreturn]] void Broken(const char* what, std::string_view text) {
    std::fprintf(stderr, "broken promise: %s for %zu bytes of input\n", what, text.size());
    std::abort();
}

// atoi with 32-bit saturation, from the C library.
int32_t ReferenceLeadingInt(std::string_view text) {
    const std::string copy(text.substr(0, text.find('\0')));
    const long long value = std::strtoll(copy.c_str(), nullptr, 10);
    if (value > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
    if (value < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(value);
}

void CheckCommand(std::string_view text) {
    const std::optional<std::string_view> rest = MatchAppUrl(text);
    const bool isApp = text.size() >= 4 && (text[0] | 0x20) == 'a' && (text[1] | 0x20) == 'p' &&
                       (text[2] | 0x20) == 'p' && text[3] == ':';
    if (rest.has_value() != isApp) Broken("app: prefix", text);
    if (!rest) return;
    if (*rest != text.substr(4)) Broken("text after app:", text);

    const AppCommand command = ParseAppCommand(*rest);
    const size_t at = rest->find('@');
    const std::string argument = at == std::string_view::npos ? std::string(" ") : std::string(rest->substr(at + 1));
    if (command.argument != argument) Broken("command argument", text);
    if (command.code != ReferenceLeadingInt(*rest)) Broken("command code", text);

    const FunctionCommand function = ParseFunctionCommand(command.argument);
    const size_t colon = command.argument.find(':');
    if (colon == std::string::npos) {
        if (function.function != 0 || function.args != command.argument) Broken("function command without ':'", text);
    } else {
        if (function.args != command.argument.substr(colon + 1)) Broken("function args", text);
        // A number past the 32-bit range, either way, is no function at all (-1).
        const std::string_view number = std::string_view(command.argument).substr(0, colon);
        const std::string copy(number.substr(0, number.find('\0')));
        const long long value = std::strtoll(copy.c_str(), nullptr, 10);
        const int expected = value > INT32_MAX || value < -INT32_MAX ? -1 : static_cast<int>(value);
        if (function.function != expected) Broken("function number", text);
    }
}

void CheckFakePaths(std::string_view text) {
    if (WithChosenFilePath(text, {}) != text) Broken("a command changed with no file chosen", text);
    // A chosen name taken from the text itself, so that it can match.
    const size_t slash = text.rfind('\\');
    const std::string name(slash == std::string_view::npos ? text.substr(0, 16) : text.substr(slash + 1, 16));
    const std::vector<ChosenFile> chosen = {{"fw.img", "/home/u/fw.img"}, {"fw", "/f"}, {name, "/chosen/" + name}};
    const std::string resolved = WithChosenFilePath(text, chosen);
    if (resolved == text) return;
    // Only the file argument of functions 8 and 14 ever becomes a chosen file's path.
    const AppCommand command = ParseAppCommand(resolved);
    const FunctionCommand function = ParseFunctionCommand(command.argument);
    const bool isChosenPath =
        std::any_of(chosen.begin(), chosen.end(), [&](const ChosenFile& file) { return file.path == function.args; });
    if (command.code != 1003 || (function.function != 8 && function.function != 14) || !isChosenPath) {
        Broken("a command other than a file argument of function 8 or 14 changed", text);
    }
}

// ---- An independent UTF-8 reading and JSON string decoding

// Length of the well-formed UTF-8 sequence at text[i] (Unicode's table of well-formed byte
// sequences), 0 when none starts there.
size_t WellFormedLength(std::string_view text, size_t i, uint32_t& cp) {
    const auto b = [&](size_t k) -> unsigned {
        return i + k < text.size() ? static_cast<uint8_t>(text[i + k]) : 0x100;
    };
    const auto in = [](unsigned v, unsigned lo, unsigned hi) { return v >= lo && v <= hi; };
    const unsigned b0 = b(0);
    if (b0 <= 0x7F) {
        cp = b0;
        return 1;
    }
    if (in(b0, 0xC2, 0xDF) && in(b(1), 0x80, 0xBF)) {
        cp = ((b0 & 0x1F) << 6) | (b(1) & 0x3F);
        return 2;
    }
    const unsigned lo1 = b0 == 0xE0 ? 0xA0 : 0x80, hi1 = b0 == 0xED ? 0x9F : 0xBF;
    if (in(b0, 0xE0, 0xEF) && in(b(1), lo1, hi1) && in(b(2), 0x80, 0xBF)) {
        cp = ((b0 & 0x0F) << 12) | ((b(1) & 0x3F) << 6) | (b(2) & 0x3F);
        return 3;
    }
    const unsigned lo4 = b0 == 0xF0 ? 0x90 : 0x80, hi4 = b0 == 0xF4 ? 0x8F : 0xBF;
    if (in(b0, 0xF0, 0xF4) && in(b(1), lo4, hi4) && in(b(2), 0x80, 0xBF) && in(b(3), 0x80, 0xBF)) {
        cp = ((b0 & 0x07) << 18) | ((b(1) & 0x3F) << 12) | ((b(2) & 0x3F) << 6) | (b(3) & 0x3F);
        return 4;
    }
    return 0;
}

// The text a page receives: valid UTF-8 as it is, any other byte as U+FFFD.
std::string Expected(std::string_view text) {
    std::string out;
    for (size_t i = 0; i < text.size();) {
        uint32_t cp = 0;
        const size_t length = WellFormedLength(text, i, cp);
        if (length == 0) {
            AppendUtf8(out, 0xFFFD);
            ++i;
        } else {
            out.append(text.substr(i, length));
            i += length;
        }
    }
    return out;
}

std::optional<uint32_t> Hex4(std::string_view s, size_t at) {
    if (at + 4 > s.size()) return std::nullopt;
    uint32_t v = 0;
    for (size_t k = at; k < at + 4; ++k) {
        const char c = s[k];
        v <<= 4;
        if (c >= '0' && c <= '9') v |= static_cast<uint32_t>(c - '0');
        else if (c >= 'a' && c <= 'f') v |= static_cast<uint32_t>(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F') v |= static_cast<uint32_t>(c - 'A' + 10);
        else return std::nullopt;
    }
    return v;
}

// Decodes a JSON string literal as a page's script would read it; nothing when it is not one, or
// when it holds anything raw that is unsafe inside a script block or a string in a page.
std::optional<std::string> DecodeLiteral(std::string_view literal) {
    if (literal.size() < 2 || literal.front() != '"' || literal.back() != '"') return std::nullopt;
    const std::string_view body = literal.substr(1, literal.size() - 2);
    std::string out;
    for (size_t i = 0; i < body.size();) {
        const auto c = static_cast<uint8_t>(body[i]);
        if (c == '\\') {
            if (i + 1 >= body.size()) return std::nullopt;
            const char e = body[i + 1];
            i += 2;
            switch (e) {
                case '"': out += '"'; break;
                case '\\': out += '\\'; break;
                case '/': out += '/'; break;
                case 'b': out += '\b'; break;
                case 'f': out += '\f'; break;
                case 'n': out += '\n'; break;
                case 'r': out += '\r'; break;
                case 't': out += '\t'; break;
                case 'u': {
                    auto unit = Hex4(body, i);
                    if (!unit) return std::nullopt;
                    i += 4;
                    uint32_t cp = *unit;
                    if (cp >= 0xD800 && cp <= 0xDBFF) {
                        // A pair, or the page would get a lone surrogate.
                        if (i + 1 >= body.size() || body[i] != '\\' || body[i + 1] != 'u') return std::nullopt;
                        auto low = Hex4(body, i + 2);
                        if (!low || *low < 0xDC00 || *low > 0xDFFF) return std::nullopt;
                        i += 6;
                        cp = 0x10000 + ((cp - 0xD800) << 10) + (*low - 0xDC00);
                    } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
                        return std::nullopt;
                    }
                    AppendUtf8(out, cp);
                    break;
                }
                default: return std::nullopt;
            }
            continue;
        }
        if (c < 0x20 || c == 0x7F || c == '"' || c == '<' || c == '>' || c == '&' || c == '\'') return std::nullopt;
        uint32_t cp = 0;
        const size_t length = WellFormedLength(body, i, cp);
        if (length == 0 || cp == 0x2028 || cp == 0x2029) return std::nullopt;
        out.append(body.substr(i, length));
        i += length;
    }
    return out;
}

void CheckEscape(std::string_view text) {
    const std::string literal = JsStringLiteral(text);
    const std::optional<std::string> decoded = DecodeLiteral(literal);
    if (!decoded) Broken("escape is not a safe JSON string", text);
    if (*decoded != Expected(text)) Broken("escape does not decode to the text", text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    CheckCommand(text);
    CheckCommand("app:" + std::string(text));
    CheckFakePaths(text);
    CheckEscape(text);
    return 0;
}

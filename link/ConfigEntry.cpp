#include "link/ConfigEntry.h"

#include <algorithm>
#include <cctype>

#include "link/ByteReader.h"
#include "link/WireFields.h"

namespace kbr {

std::vector<uint8_t> EncodeNumber(uint32_t value, size_t width) {
    std::vector<uint8_t> out(width, 0);
    for (size_t i = 0; i < width && i < 4; ++i) {
        out[width - 1 - i] = static_cast<uint8_t>(value >> (8 * i));
    }
    return out;
}

std::vector<uint8_t> EncodeText(std::string_view text, size_t width) {
    std::vector<uint8_t> out(width, 0);
    std::copy_n(text.begin(), std::min(text.size(), width), out.begin());
    return out;
}

uint32_t DecodeNumber(std::span<const uint8_t> field) {
    uint32_t value = 0;
    for (size_t i = 0; i < field.size() && i < 4; ++i) {
        value = (value << 8) | field[i];
    }
    return value;
}

std::string DecodeText(std::span<const uint8_t> field) { return TextUpToZero(field); }

uint32_t ParseDecimalModulo32(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    uint32_t value = 0;  // unsigned arithmetic wraps: exactly "modulo 2^32"
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10u + static_cast<uint32_t>(text[i] - '0');
    }
    return negative ? 0u - value : value;
}

std::string SignedDecimal(uint32_t value) { return std::to_string(static_cast<int32_t>(value)); }

ConfigEntry MakeNumberEntry(std::string name, uint32_t a, uint32_t b, uint8_t width) {
    return ConfigEntry{std::move(name), width, EncodeNumber(a, width), EncodeNumber(b, width)};
}

ConfigEntry MakeTextEntry(std::string name, std::string_view a, std::string_view b, uint8_t width) {
    return ConfigEntry{std::move(name), width, EncodeText(a, width), EncodeText(b, width)};
}

std::vector<uint8_t> EncodeConfigEntry(const ConfigEntry& entry) { return Encode(entry); }

Decoded<ConfigEntry> ReadConfigEntry(std::span<const uint8_t> data) { return Decode<ConfigEntry>(data); }

}  // namespace kbr

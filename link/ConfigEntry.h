#pragma once
// One named configuration parameter on the wire: name, a zero byte, the width W, then two values
// of W bytes each. Numbers are unsigned big-endian (modulo 2^32), texts are zero-filled to W.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kbr {

class ByteReader;

struct ConfigEntry {
    std::string name;
    uint8_t width = 0;
    std::vector<uint8_t> valueA;  // exactly `width` bytes
    std::vector<uint8_t> valueB;  // exactly `width` bytes

    size_t EncodedSize() const { return name.size() + 2 + 2 * size_t{width}; }
};

// A number as W bytes big-endian (its low 32 bits; wider fields get leading zeros).
std::vector<uint8_t> EncodeNumber(uint32_t value, size_t width);
// A text as W bytes: cut to W, zero-filled after.
std::vector<uint8_t> EncodeText(std::string_view text, size_t width);
// A numeric field: its first 4 bytes big-endian (all of it when narrower than 4).
uint32_t DecodeNumber(std::span<const uint8_t> field);
// A text field: its bytes up to the first zero.
std::string DecodeText(std::span<const uint8_t> field);

// Decimal text as a number the way the pages' numbers are read: leading white space, an optional
// sign, then digits up to the first other character, taken modulo 2^32; no digits gives 0.
uint32_t ParseDecimalModulo32(std::string_view text);
// A 32-bit value as signed decimal ("%i"): 0xFFFFFFFF gives "-1".
std::string SignedDecimal(uint32_t value);

ConfigEntry MakeNumberEntry(std::string name, uint32_t a, uint32_t b, uint8_t width = 4);
ConfigEntry MakeTextEntry(std::string name, std::string_view a, std::string_view b, uint8_t width);

void AppendConfigEntry(std::vector<uint8_t>& out, const ConfigEntry& entry);
// Reads one entry; false (reader failed, with its reason) when any field runs past the received
// bytes.
[[nodiscard]] bool ReadConfigEntry(ByteReader& reader, ConfigEntry& out);

}  // namespace kbr

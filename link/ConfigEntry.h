#pragma once
// One named configuration parameter on the wire: name, a zero byte, the width W, then two values
// of W bytes each. Numbers are unsigned big-endian (modulo 2^32), texts are zero-filled to W.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "link/Decoded.h"
#include "link/WireFields.h"

namespace kbr {

struct ConfigEntry {
    std::string name;
    uint8_t width = 0;
    std::vector<uint8_t> valueA;  // exactly `width` bytes
    std::vector<uint8_t> valueB;  // exactly `width` bytes
};

// The entry's layout: the name and its zero byte, W, then the two values of W bytes each (values
// of another length are cut or zero-filled to W when written).
bool DescribeFields(auto& f, FieldsOf<ConfigEntry> auto& entry) {
    return f.CString(entry.name) && f.U8(entry.width) && f.Field(entry.width, entry.valueA) &&
           f.Field(entry.width, entry.valueB);
}

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

// One entry alone, as it goes on the wire inside REP_CONFIG and REQ_SET_CONFIG.
std::vector<uint8_t> EncodeConfigEntry(const ConfigEntry& entry);
// One entry from the start of data; fails when any field runs past the end of data.
Decoded<ConfigEntry> ReadConfigEntry(std::span<const uint8_t> data);

}  // namespace kbr

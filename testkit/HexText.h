#pragma once
// Bytes as lower-case hex digits, two a byte, for comparing and showing wire bytes in tests.

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

namespace kbr::test {

inline std::string HexText(std::span<const uint8_t> bytes) {
    std::string text;
    char two[3];
    for (const uint8_t byte : bytes) {
        std::snprintf(two, sizeof two, "%02x", byte);
        text += two;
    }
    return text;
}

}  // namespace kbr::test

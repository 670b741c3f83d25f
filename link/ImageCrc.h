#pragma once
// The CRC-32 that protects the sections of an upgrade image: polynomial 0x04C11DB7, most
// significant bit first (no reflection), initial value 0, no final XOR. Over the ASCII digits
// "123456789" it is 0x89A1897F.
//
// A section whose last four bytes are the big-endian CRC of the bytes before them has a CRC of 0
// over all of its bytes, which is how a section is checked.

#include <cstdint>
#include <span>

namespace kbr {

// CRC of data, continuing from crc (the result of an earlier call over the bytes before data;
// 0 to start), so a buffer may be checked in pieces.
uint32_t ImageCrc(std::span<const uint8_t> data, uint32_t crc = 0);

// The byte-at-a-time form, kept as the reference the fast path is tested against.
uint32_t ImageCrcBytewise(std::span<const uint8_t> data, uint32_t crc = 0);

}  // namespace kbr

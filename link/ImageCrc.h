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
// 0 to start), so a buffer may be checked in pieces. Uses carry-less multiplication where the
// processor has it, sixteen-way table slicing otherwise.
uint32_t ImageCrc(std::span<const uint8_t> data, uint32_t crc = 0);

// The individual ways of computing the same CRC, exposed so that tests can hold each of them
// against the plain byte-at-a-time definition and benchmarks can compare them.
namespace crc_detail {
uint32_t Bytewise(std::span<const uint8_t> data, uint32_t crc);
uint32_t Sliced(std::span<const uint8_t> data, uint32_t crc);
// Whether Folded can run on this processor (x86-64 with PCLMULQDQ and SSE4.1).
bool FoldedAvailable();
// Only to be called when FoldedAvailable() is true.
uint32_t Folded(std::span<const uint8_t> data, uint32_t crc);
}  // namespace crc_detail

}  // namespace kbr

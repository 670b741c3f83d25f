#pragma once
// The one way builders write bytes, beside ByteReader: numbers go out big-endian, fields have the
// width their record gives them, and everything is appended in order, so that no builder
// computes an offset or indexes into its output.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace kbr {

class ByteWriter {
public:
    ByteWriter() = default;
    // Reserves room for size bytes (a hint; the writer grows as needed).
    explicit ByteWriter(size_t size) { bytes_.reserve(size); }

    size_t Size() const { return bytes_.size(); }
    const std::vector<uint8_t>& Data() const { return bytes_; }
    // The bytes written; the writer is empty afterwards.
    std::vector<uint8_t> Take() { return std::move(bytes_); }

    void WriteU8(uint8_t value);
    void WriteU16BE(uint16_t value);
    void WriteU32BE(uint32_t value);
    void WriteBytes(std::span<const uint8_t> bytes);
    void WriteZeros(size_t count);
    // A field of exactly width bytes: the first bytes of data, then zero bytes (longer data is
    // cut to the field).
    void WriteField(size_t width, std::span<const uint8_t> data);
    // A text in a field of exactly width bytes: cut to width, zero bytes after.
    void WriteFixedText(size_t width, std::string_view text);
    // The text's characters and a terminating zero byte.
    void WriteCString(std::string_view text);

private:
    std::vector<uint8_t> bytes_;
};

// Overwrites the first four bytes of field with value, big-endian (for a record's last word that
// is known only once the rest is written, such as a checksum). False, and nothing written, when
// the field is shorter than four bytes.
[[nodiscard]] bool StoreU32BE(std::span<uint8_t> field, uint32_t value);

}  // namespace kbr

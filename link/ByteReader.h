#pragma once
// The one way parsers read received bytes: every read is checked against the number of bytes
// that were actually received, and a read past the end is a reported error, never an
// out-of-bounds access. The first failure sticks: later reads fail too, so a parser may read a
// whole record and check once.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace kbr {

class ByteReader {
public:
    ByteReader() = default;
    explicit ByteReader(std::span<const uint8_t> data) : data_(data) {}
    ByteReader(const uint8_t* data, size_t size) : data_(data, data ? size : 0) {}

    size_t Offset() const { return offset_; }
    size_t Size() const { return data_.size(); }
    size_t Remaining() const { return data_.size() - offset_; }
    bool AtEnd() const { return offset_ >= data_.size(); }
    bool Failed() const { return failed_; }
    // What went wrong, e.g. "expected 4 bytes at offset 12, only 2 left".
    const std::string& Error() const { return error_; }

    [[nodiscard]] bool ReadU8(uint8_t& out);
    [[nodiscard]] bool ReadU16BE(uint16_t& out);
    [[nodiscard]] bool ReadU32BE(uint32_t& out);
    // A view of the next n bytes; valid as long as the underlying data.
    [[nodiscard]] bool ReadBytes(size_t n, std::span<const uint8_t>& out);
    // A view of the next n bytes, or of all that are left when fewer are: for fields that the
    // end of what was received may cut short. Fails only when the reader failed before.
    [[nodiscard]] bool ReadUpTo(size_t n, std::span<const uint8_t>& out);
    [[nodiscard]] bool Skip(size_t n);
    [[nodiscard]] bool Seek(size_t offset);
    // Characters up to a zero byte, which is consumed; fails when no zero byte is left.
    [[nodiscard]] bool ReadCString(std::string& out);
    // A field of exactly width bytes holding a text that ends at its first zero byte (or fills
    // the field).
    [[nodiscard]] bool ReadFixedText(size_t width, std::string& out);

    // Marks the reader failed with a message of the caller's (for record-level checks).
    bool Fail(std::string message);
    // Puts context before the reason of a failure (e.g. which record of several it was).
    void PrefixError(std::string_view context);

private:
    bool Need(size_t n);

    std::span<const uint8_t> data_;
    size_t offset_ = 0;
    bool failed_ = false;
    std::string error_;
};

// Text of a zero-terminated field: the bytes up to the first zero, or all of them.
std::string TextUpToZero(std::span<const uint8_t> field);

}  // namespace kbr

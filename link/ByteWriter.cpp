#include "link/ByteWriter.h"

#include <algorithm>

namespace kbr {

namespace {

std::span<const uint8_t> AsBytes(std::string_view text) {
    return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

}  // namespace

void ByteWriter::WriteU8(uint8_t value) { bytes_.push_back(value); }

void ByteWriter::WriteU16BE(uint16_t value) {
    bytes_.push_back(static_cast<uint8_t>(value >> 8));
    bytes_.push_back(static_cast<uint8_t>(value));
}

void ByteWriter::WriteU32BE(uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) bytes_.push_back(static_cast<uint8_t>(value >> shift));
}

void ByteWriter::WriteBytes(std::span<const uint8_t> bytes) { bytes_.insert(bytes_.end(), bytes.begin(), bytes.end()); }

void ByteWriter::WriteZeros(size_t count) { bytes_.resize(bytes_.size() + count, 0); }

void ByteWriter::WriteField(size_t width, std::span<const uint8_t> data) {
    const auto used = data.first(std::min(width, data.size()));
    WriteBytes(used);
    WriteZeros(width - used.size());
}

void ByteWriter::WriteFixedText(size_t width, std::string_view text) { WriteField(width, AsBytes(text)); }

void ByteWriter::WriteCString(std::string_view text) {
    WriteBytes(AsBytes(text));
    WriteU8(0);
}

bool StoreU32BE(std::span<uint8_t> field, uint32_t value) {
    if (field.size() < 4) return false;
    for (size_t i = 0; i < 4; ++i) field[i] = static_cast<uint8_t>(value >> (24 - 8 * i));
    return true;
}

}  // namespace kbr

#include "link/ByteReader.h"

#include <algorithm>

namespace kbr {

bool ByteReader::Fail(std::string message) {
    if (!failed_) {
        failed_ = true;
        error_ = std::move(message);
    }
    return false;
}

void ByteReader::PrefixError(std::string_view context) {
    if (failed_) error_.insert(0, context);
}

bool ByteReader::Need(size_t n) {
    if (failed_) return false;
    if (n > Remaining()) {
        return Fail("expected " + std::to_string(n) + " bytes at offset " + std::to_string(offset_) + ", only " +
                    std::to_string(Remaining()) + " left");
    }
    return true;
}

bool ByteReader::ReadU8(uint8_t& out) {
    if (!Need(1)) return false;
    out = data_[offset_++];
    return true;
}

bool ByteReader::ReadU16BE(uint16_t& out) {
    if (!Need(2)) return false;
    out = static_cast<uint16_t>((data_[offset_] << 8) | data_[offset_ + 1]);
    offset_ += 2;
    return true;
}

bool ByteReader::ReadU32BE(uint32_t& out) {
    if (!Need(4)) return false;
    out = (uint32_t{data_[offset_]} << 24) | (uint32_t{data_[offset_ + 1]} << 16) |
          (uint32_t{data_[offset_ + 2]} << 8) | uint32_t{data_[offset_ + 3]};
    offset_ += 4;
    return true;
}

bool ByteReader::ReadBytes(size_t n, std::span<const uint8_t>& out) {
    if (!Need(n)) return false;
    out = data_.subspan(offset_, n);
    offset_ += n;
    return true;
}

bool ByteReader::ReadUpTo(size_t n, std::span<const uint8_t>& out) {
    if (failed_) return false;
    out = data_.subspan(offset_, std::min(n, Remaining()));
    offset_ += out.size();
    return true;
}

bool ByteReader::Skip(size_t n) {
    if (!Need(n)) return false;
    offset_ += n;
    return true;
}

bool ByteReader::Seek(size_t offset) {
    if (failed_) return false;
    if (offset > data_.size()) {
        return Fail("offset " + std::to_string(offset) + " is past the " + std::to_string(data_.size()) +
                    " bytes received");
    }
    offset_ = offset;
    return true;
}

bool ByteReader::ReadCString(std::string& out) {
    if (failed_) return false;
    auto rest = data_.subspan(offset_);
    auto zero = std::find(rest.begin(), rest.end(), uint8_t{0});
    if (zero == rest.end()) {
        return Fail("expected a zero-terminated text at offset " + std::to_string(offset_) + ", found no zero byte");
    }
    out.assign(rest.begin(), zero);
    offset_ += out.size() + 1;
    return true;
}

bool ByteReader::ReadFixedText(size_t width, std::string& out) {
    std::span<const uint8_t> field;
    if (!ReadBytes(width, field)) return false;
    out = TextUpToZero(field);
    return true;
}

std::string TextUpToZero(std::span<const uint8_t> field) {
    auto zero = std::find(field.begin(), field.end(), uint8_t{0});
    return std::string(field.begin(), zero);
}

}  // namespace kbr

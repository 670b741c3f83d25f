#pragma once
// Each wire record is described once, as a function that names its fields in wire order:
//
//     bool DescribeFields(auto& f, FieldsOf<LoginRequest> auto& m) {
//         return DescribeFields(f, m.header) && f.U8(m.passwordField) &&
//                f.FixedText(m.passwordField, m.password);
//     }
//
// Run over a FieldWriter, the description appends the record to a ByteWriter (Encode); run over
// a FieldReader, it reads the same fields back through a ByteReader, bounded by what was received
// (Decode). Each field kind below means the same on both sides, so a builder and its parser
// cannot drift apart, and no offset is written down anywhere: it follows from the order.

#include <array>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "link/ByteReader.h"
#include "link/ByteWriter.h"
#include "link/Decoded.h"

namespace kbr {

// A description's record parameter: the record, const when it is written, mutable when it is read.
template <class M, class Record>
concept FieldsOf = std::same_as<std::remove_const_t<M>, Record>;

// What a reader checks besides the bounds: the message's type and, for a reply that must be
// accepted, a status of 0.
struct Expect {
    std::optional<uint8_t> type;
    bool statusZero = false;

    static Expect Anything() { return {}; }
    static Expect Type(uint8_t type) { return {type, false}; }
    static Expect Accepted(uint8_t type) { return {type, true}; }
};

class FieldWriter {
public:
    explicit FieldWriter(size_t sizeHint = 0) : out_(sizeHint) {}
    std::vector<uint8_t> Take() { return out_.Take(); }

    // The message type and the status byte: plain bytes when written.
    bool Type(uint8_t type) { return U8(type); }
    bool Status(uint8_t status) { return U8(status); }
    bool U8(uint8_t value) {
        out_.WriteU8(value);
        return true;
    }
    bool U16(uint16_t value) {
        out_.WriteU16BE(value);
        return true;
    }
    // A number with an upper bound that only the reader checks; what names it in the error.
    bool U16AtMost(uint16_t value, size_t /*most*/, std::string_view /*what*/) { return U16(value); }
    template <size_t N>
    bool Bytes(const std::array<uint8_t, N>& value) {
        out_.WriteBytes(value);
        return true;
    }
    // Bytes nobody examines: zeros when written, skipped when read.
    bool Zeros(size_t count) {
        out_.WriteZeros(count);
        return true;
    }
    // Exactly width bytes: the data, cut to the field or zero-filled.
    bool Field(size_t width, std::span<const uint8_t> data) {
        out_.WriteField(width, data);
        return true;
    }
    // Exactly width bytes of text, cut to the field or zero-filled: a full field has no zero.
    bool FixedText(size_t width, std::string_view text) {
        out_.WriteFixedText(width, text);
        return true;
    }
    // A text ended by a zero byte inside a field of width bytes: cut to width - 1 when written.
    bool ZeroEndedText(size_t width, std::string_view text) {
        if (width == 0) return true;
        out_.WriteFixedText(width, text.substr(0, width - 1));
        return true;
    }
    // A text and its terminating zero byte.
    bool CString(std::string_view text) {
        out_.WriteCString(text);
        return true;
    }
    // The message's last field: a text and its zero byte.
    bool TrailingText(std::string_view text) { return CString(text); }
    // Records of one kind back to back; count is what the message says of their number.
    template <class E>
    bool Each(uint8_t /*count*/, const std::vector<E>& records) {
        for (const E& record : records) (void)DescribeFields(*this, record);
        return true;
    }

private:
    ByteWriter out_;
};

class FieldReader {
public:
    FieldReader(std::span<const uint8_t> received, Expect expect) : in_(received), expect_(expect) {}
    size_t Offset() const { return in_.Offset(); }
    const std::string& Error() const { return in_.Error(); }

    bool Type(uint8_t& type) {
        const size_t at = in_.Offset();
        if (!in_.ReadU8(type)) return false;
        if (expect_.type && type != *expect_.type) {
            return in_.Fail("expected type " + std::to_string(*expect_.type) + ", got " + std::to_string(type) +
                            " at offset " + std::to_string(at));
        }
        return true;
    }
    bool Status(uint8_t& status) {
        const size_t at = in_.Offset();
        if (!in_.ReadU8(status)) return false;
        if (expect_.statusZero && status != 0) {
            return in_.Fail("expected status 0, got " + std::to_string(status) + " at offset " + std::to_string(at));
        }
        return true;
    }
    bool U8(uint8_t& value) { return in_.ReadU8(value); }
    bool U16(uint16_t& value) { return in_.ReadU16BE(value); }
    bool U16AtMost(uint16_t& value, size_t most, std::string_view what) {
        const size_t at = in_.Offset();
        if (!in_.ReadU16BE(value)) return false;
        if (value > most) {
            return in_.Fail(std::string(what) + " " + std::to_string(value) + " exceeds " + std::to_string(most) +
                            " at offset " + std::to_string(at));
        }
        return true;
    }
    template <size_t N>
    bool Bytes(std::array<uint8_t, N>& value) {
        std::span<const uint8_t> field;
        if (!in_.ReadBytes(N, field)) return false;
        std::copy(field.begin(), field.end(), value.begin());
        return true;
    }
    bool Zeros(size_t count) { return in_.Skip(count); }
    bool Field(size_t width, std::span<const uint8_t>& data) { return in_.ReadBytes(width, data); }
    bool Field(size_t width, std::vector<uint8_t>& data) {
        std::span<const uint8_t> field;
        if (!in_.ReadBytes(width, field)) return false;
        data.assign(field.begin(), field.end());
        return true;
    }
    bool FixedText(size_t width, std::string& text) { return in_.ReadFixedText(width, text); }
    // Up to the first zero byte, the end of the field or the end of what was received, whichever
    // comes first: a field cut short by the read is not an error.
    bool ZeroEndedText(size_t width, std::string& text) {
        std::span<const uint8_t> field;
        if (!in_.ReadUpTo(width, field)) return false;
        text = TextUpToZero(field);
        return true;
    }
    bool CString(std::string& text) { return in_.ReadCString(text); }
    // Up to the first zero byte or the end of what was received; at least one byte must be there.
    bool TrailingText(std::string& text) {
        if (in_.AtEnd()) {
            return in_.Fail("expected a text at offset " + std::to_string(in_.Offset()) + ", found the end");
        }
        std::span<const uint8_t> rest;
        if (!in_.ReadUpTo(in_.Remaining(), rest)) return false;
        text = TextUpToZero(rest);
        return true;
    }
    template <class E>
    bool Each(uint8_t count, std::vector<E>& records) {
        records.clear();
        for (unsigned i = 0; i < count; ++i) {
            E record{};
            if (!DescribeFields(*this, record)) {
                in_.PrefixError("entry " + std::to_string(i + 1) + " of " + std::to_string(count) + ": ");
                return false;
            }
            records.push_back(std::move(record));
        }
        return true;
    }

private:
    ByteReader in_;
    Expect expect_;
};

// The bytes of a record, as its description lays them out.
template <class M>
std::vector<uint8_t> Encode(const M& record, size_t sizeHint = 0) {
    FieldWriter writer(sizeHint);
    (void)DescribeFields(writer, record);
    return writer.Take();
}

// A record read from received bytes by its description, with the checks of expect. Fields the
// reader does not reach keep their values from start.
template <class M>
Decoded<M> Decode(std::span<const uint8_t> received, Expect expect = {}, M start = {}) {
    Decoded<M> out{std::move(start), {}, 0};
    FieldReader reader(received, expect);
    if (!DescribeFields(reader, out.value)) out.error = reader.Error();
    out.length = reader.Offset();
    return out;
}

}  // namespace kbr

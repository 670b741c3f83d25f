#include "link/Messages.h"

#include <cstdio>
#include <utility>

#include "link/WireFields.h"

namespace kbr {

namespace {

constexpr uint8_t LOGIN_PARAM = 1;
constexpr uint8_t GET_CONFIG_PARAM = 10;
constexpr size_t VALUE_NOT_EXAMINED = 4;  // bytes between the header and the value text

// The messages whose records the callers never see.
struct UpgradeStartRequest {
    MessageHeader header;
};
struct GetValueRequest {
    MessageHeader header;
    std::string key;
};
struct ValueReply {
    MessageHeader header;
    std::string value;
};
struct DiagReply {
    MessageHeader header;
    DiagTexts texts;
};

}  // namespace

// ---- The layouts: one description per message, its fields in wire order (link/WireFields.h).

// The seven bytes every message starts with.
bool DescribeStart(auto& f, FieldsOf<MessageHeader> auto& h) {
    return f.Type(h.type) && f.Bytes(h.version) && f.Status(h.status) && f.U8(h.reserved);
}

// The whole of REQ_GET_CONFIG, REQ_GET_DIAG, REQ_ACTION and the replies that carry nothing else.
bool DescribeFields(auto& f, FieldsOf<MessageHeader> auto& h) { return DescribeStart(f, h) && f.U8(h.param); }

bool DescribeFields(auto& f, FieldsOf<LoginRequest> auto& m) {
    return DescribeFields(f, m.header) && f.U8(m.passwordField) && f.FixedText(m.passwordField, m.password);
}

// REP_CONFIG and REQ_SET_CONFIG.
bool DescribeFields(auto& f, FieldsOf<ConfigMessage> auto& m) {
    return DescribeFields(f, m.header) && f.Each(m.header.param, m.entries);
}

bool DescribeFields(auto& f, FieldsOf<UpgradeStartRequest> auto& m) {
    return DescribeFields(f, m.header) && f.Zeros(UPGRADE_START_PADDING);
}

bool DescribeFields(auto& f, FieldsOf<UpgradeDataRequest> auto& m) {
    return DescribeStart(f, m.header) && f.U16(m.remaining) && f.U16(m.offset) &&
           f.U16AtMost(m.size, UPGRADE_CHUNK_SIZE, "chunk size") && f.Field(UPGRADE_CHUNK_SIZE, m.data);
}

bool DescribeFields(auto& f, FieldsOf<GetValueRequest> auto& m) {
    return DescribeFields(f, m.header) && f.CString(m.key);
}

bool DescribeFields(auto& f, FieldsOf<ValueReply> auto& m) {
    return DescribeFields(f, m.header) && f.Zeros(VALUE_NOT_EXAMINED) && f.TrailingText(m.value);
}

bool DescribeFields(auto& f, FieldsOf<DiagReply> auto& m) {
    return DescribeFields(f, m.header) && f.ZeroEndedText(DIAG_TEXT_FIELD, m.texts.first) &&
           f.ZeroEndedText(DIAG_TEXT_FIELD, m.texts.second);
}

namespace {

MessageHeader RequestHeader(uint8_t type, uint8_t param = 0) {
    MessageHeader header;
    header.type = type;
    header.param = param;
    return header;
}

MessageHeader ReplyHeader(uint8_t type, const std::array<uint8_t, 4>& version, uint8_t status, uint8_t param = 0) {
    return MessageHeader{type, version, status, 0, param};
}

// One part of a decoded record, with the record's error and length.
template <class M, class T>
Decoded<T> Part(Decoded<M>&& decoded, T M::*member) {
    return Decoded<T>{std::move(decoded.value.*member), std::move(decoded.error), decoded.length};
}

}  // namespace

const char* MessageTypeName(uint8_t type) {
    switch (type) {
        case REQ_LOGIN: return "REQ_LOGIN";
        case REQ_GET_CONFIG: return "REQ_GET_CONFIG";
        case REP_CONFIG: return "REP_CONFIG";
        case REQ_SET_CONFIG: return "REQ_SET_CONFIG";
        case REP_SET_CONFIG: return "REP_SET_CONFIG";
        case REQ_GET_DIAG: return "REQ_GET_DIAG";
        case REP_DIAG: return "REP_DIAG";
        case REQ_UPGRADE_START: return "REQ_UPGRADE_START";
        case REP_UPGRADE_START: return "REP_UPGRADE_START";
        case REQ_UPGRADE_DATA: return "REQ_UPGRADE_DATA";
        case REP_UPGRADE_DATA: return "REP_UPGRADE_DATA";
        case REP_UPGRADE_END: return "REP_UPGRADE_END";
        case REQ_ACTION: return "REQ_ACTION";
        case REP_ACTION: return "REP_ACTION";
        case REQ_GET_VALUE: return "REQ_GET_VALUE";
        case REP_VALUE: return "REP_VALUE";
        default: return nullptr;
    }
}

bool IsRequestType(uint8_t type) { return ReplyTypeFor(type).has_value(); }

std::optional<uint8_t> ReplyTypeFor(uint8_t requestType) {
    switch (requestType) {
        case REQ_LOGIN: return REP_ACTION;
        case REQ_GET_CONFIG: return REP_CONFIG;
        case REQ_SET_CONFIG: return REP_SET_CONFIG;
        case REQ_GET_DIAG: return REP_DIAG;
        case REQ_UPGRADE_START: return REP_UPGRADE_START;
        case REQ_UPGRADE_DATA: return REP_UPGRADE_DATA;
        case REQ_ACTION: return REP_ACTION;
        case REQ_GET_VALUE: return REP_VALUE;
        default: return std::nullopt;
    }
}

// ---- Requests

Bytes BuildLoginRequest(std::string_view password) {
    return Encode(LoginRequest{RequestHeader(REQ_LOGIN, LOGIN_PARAM), LOGIN_PASSWORD_FIELD, std::string(password)});
}

Bytes BuildGetConfigRequest() { return Encode(RequestHeader(REQ_GET_CONFIG, GET_CONFIG_PARAM)); }

Bytes BuildSetConfigRequest(std::span<const ConfigEntry> entries) {
    const ConfigMessage message{RequestHeader(REQ_SET_CONFIG, static_cast<uint8_t>(entries.size())),
                                {entries.begin(), entries.end()}};
    return Encode(message);
}

Bytes BuildGetDiagRequest() { return Encode(RequestHeader(REQ_GET_DIAG)); }

Bytes BuildUpgradeStartRequest() { return Encode(UpgradeStartRequest{RequestHeader(REQ_UPGRADE_START)}); }

Bytes BuildUpgradeDataRequest(uint32_t remaining, uint32_t offset, uint32_t size, std::span<const uint8_t> data) {
    const UpgradeDataRequest request{RequestHeader(REQ_UPGRADE_DATA), static_cast<uint16_t>(remaining),
                                     static_cast<uint16_t>(offset), static_cast<uint16_t>(size), data};
    return Encode(request, UPGRADE_DATA_REQUEST_SIZE);
}

Bytes BuildActionRequest() { return Encode(RequestHeader(REQ_ACTION)); }

Bytes BuildGetValueRequest(std::string_view key) {
    return Encode(GetValueRequest{RequestHeader(REQ_GET_VALUE), std::string(key)});
}

// ---- Replies

Decoded<MessageHeader> ReadReplyHeader(std::span<const uint8_t> received) {
    return Decode<MessageHeader>(received, Expect::Anything());
}

bool IsAcceptedReply(std::span<const uint8_t> received, uint8_t expectedType) {
    return Decode<MessageHeader>(received, Expect::Accepted(expectedType)).Ok();
}

Decoded<std::string> ReadValueReply(std::span<const uint8_t> received) {
    return Part(Decode<ValueReply>(received, Expect::Accepted(REP_VALUE)), &ValueReply::value);
}

Decoded<DiagTexts> ReadDiagReply(std::span<const uint8_t> received) {
    return Part(Decode<DiagReply>(received, Expect::Accepted(REP_DIAG)), &DiagReply::texts);
}

Decoded<ConfigMessage> ReadConfigReply(std::span<const uint8_t> received) {
    return Decode<ConfigMessage>(received, Expect::Anything());
}

std::string VersionText(const std::array<uint8_t, 4>& version) {
    char text[32];
    std::snprintf(text, sizeof text, "%i.%i.%i.%i", version[0], version[1], version[2], version[3]);
    return text;
}

// ---- Device side

Decoded<LoginRequest> ReadLoginRequest(std::span<const uint8_t> received) {
    return Decode<LoginRequest>(received, Expect::Type(REQ_LOGIN));
}

Decoded<ConfigMessage> ReadSetConfigRequest(std::span<const uint8_t> received) {
    return Decode<ConfigMessage>(received, Expect::Type(REQ_SET_CONFIG));
}

Decoded<UpgradeDataRequest> ReadUpgradeDataRequest(std::span<const uint8_t> received) {
    return Decode<UpgradeDataRequest>(received, Expect::Type(REQ_UPGRADE_DATA));
}

Decoded<std::string> ReadGetValueRequest(std::span<const uint8_t> received) {
    return Part(Decode<GetValueRequest>(received, Expect::Type(REQ_GET_VALUE)), &GetValueRequest::key);
}

std::optional<uint8_t> ExpectedReplyType(std::span<const uint8_t> request) {
    if (request.empty()) return std::nullopt;
    const uint8_t type = request.front();
    if (type != REQ_UPGRADE_DATA) return ReplyTypeFor(type);
    // A remaining count the chunk does not get as far as stays 1: not the last chunk.
    UpgradeDataRequest start;
    start.remaining = 1;
    const auto chunk = Decode<UpgradeDataRequest>(request, Expect::Type(REQ_UPGRADE_DATA), start);
    return chunk->remaining == 0 ? REP_UPGRADE_END : REP_UPGRADE_DATA;
}

Bytes BuildReply(uint8_t type, const std::array<uint8_t, 4>& version, uint8_t status, uint8_t param,
                 std::span<const uint8_t> body) {
    Bytes out = Encode(ReplyHeader(type, version, status, param), MESSAGE_HEADER_SIZE + body.size());
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

Bytes BuildValueReply(const std::array<uint8_t, 4>& version, uint8_t status, std::string_view value) {
    return Encode(ValueReply{ReplyHeader(REP_VALUE, version, status), std::string(value)});
}

Bytes BuildDiagReply(const std::array<uint8_t, 4>& version, uint8_t status, std::string_view first,
                     std::string_view second) {
    // Each text keeps its terminating zero inside its 512-byte field.
    return Encode(DiagReply{ReplyHeader(REP_DIAG, version, status), {std::string(first), std::string(second)}},
                  DIAG_REPLY_SIZE);
}

Bytes BuildConfigReply(const std::array<uint8_t, 4>& version, uint8_t status, std::span<const ConfigEntry> entries) {
    const ConfigMessage message{ReplyHeader(REP_CONFIG, version, status, static_cast<uint8_t>(entries.size())),
                                {entries.begin(), entries.end()}};
    return Encode(message);
}

}  // namespace kbr

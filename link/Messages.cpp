#include "link/Messages.h"

#include <algorithm>
#include <cstdio>

#include "link/ByteReader.h"

namespace kbr {

namespace {

Bytes RequestWithHeader(uint8_t type, uint8_t param, size_t length) {
    Bytes out;
    out.reserve(length);
    MessageHeader header;
    header.type = type;
    header.param = param;
    AppendHeader(out, header);
    out.resize(length, 0);  // bytes not named in a layout are 0
    return out;
}

void PutU16BE(Bytes& out, size_t at, uint32_t value) {
    out[at] = static_cast<uint8_t>(value >> 8);
    out[at + 1] = static_cast<uint8_t>(value);
}

bool SetError(std::string* error, const std::string& text) {
    if (error) *error = text;
    return false;
}

// Reads a request's header and checks its type; the reader is left after the header.
bool ReadRequestHeader(ByteReader& reader, uint8_t expectedType, MessageHeader& header, std::string* error) {
    if (!ReadHeader(reader, header)) return SetError(error, reader.Error());
    if (header.type != expectedType) {
        return SetError(error, "expected type " + std::to_string(expectedType) + ", got " + std::to_string(header.type) +
                                   " at offset 0");
    }
    return true;
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

void AppendHeader(Bytes& out, const MessageHeader& header) {
    out.push_back(header.type);
    out.insert(out.end(), header.version.begin(), header.version.end());
    out.push_back(header.status);
    out.push_back(header.reserved);
    out.push_back(header.param);
}

bool ReadHeader(ByteReader& reader, MessageHeader& out) {
    std::span<const uint8_t> version;
    if (!reader.ReadU8(out.type) || !reader.ReadBytes(4, version) || !reader.ReadU8(out.status) ||
        !reader.ReadU8(out.reserved) || !reader.ReadU8(out.param)) {
        return false;
    }
    std::copy(version.begin(), version.end(), out.version.begin());
    return true;
}

// ---- Requests

Bytes BuildLoginRequest(std::string_view password) {
    Bytes out = RequestWithHeader(REQ_LOGIN, 1, LOGIN_REQUEST_SIZE);
    out[8] = static_cast<uint8_t>(LOGIN_PASSWORD_FIELD);
    std::copy_n(password.begin(), std::min(password.size(), LOGIN_PASSWORD_FIELD), out.begin() + 9);
    return out;
}

Bytes BuildGetConfigRequest() { return RequestWithHeader(REQ_GET_CONFIG, GET_CONFIG_PARAM, GET_CONFIG_REQUEST_SIZE); }

Bytes BuildSetConfigRequest(std::span<const ConfigEntry> entries) {
    Bytes out = RequestWithHeader(REQ_SET_CONFIG, static_cast<uint8_t>(entries.size()), MESSAGE_HEADER_SIZE);
    for (const auto& entry : entries) AppendConfigEntry(out, entry);
    return out;
}

Bytes BuildGetDiagRequest() { return RequestWithHeader(REQ_GET_DIAG, 0, GET_DIAG_REQUEST_SIZE); }

Bytes BuildUpgradeStartRequest() { return RequestWithHeader(REQ_UPGRADE_START, 0, UPGRADE_START_REQUEST_SIZE); }

Bytes BuildUpgradeDataRequest(uint32_t remaining, uint32_t offset, uint32_t size, std::span<const uint8_t> data) {
    // The data request has no param byte: its three 16-bit fields start at byte 7.
    Bytes out = RequestWithHeader(REQ_UPGRADE_DATA, 0, UPGRADE_DATA_REQUEST_SIZE);
    PutU16BE(out, 7, remaining);
    PutU16BE(out, 9, offset);
    PutU16BE(out, 11, size);
    std::copy_n(data.begin(), std::min(data.size(), UPGRADE_CHUNK_SIZE), out.begin() + 13);
    return out;
}

Bytes BuildActionRequest() { return RequestWithHeader(REQ_ACTION, 0, ACTION_REQUEST_SIZE); }

Bytes BuildGetValueRequest(std::string_view key) {
    Bytes out = RequestWithHeader(REQ_GET_VALUE, 0, MESSAGE_HEADER_SIZE);
    out.insert(out.end(), key.begin(), key.end());
    out.push_back(0);
    return out;
}

// ---- Replies

bool ParseReplyHeader(std::span<const uint8_t> received, MessageHeader& out, std::string* error) {
    ByteReader reader(received);
    if (!ReadHeader(reader, out)) return SetError(error, reader.Error());
    return true;
}

bool IsAcceptedReply(std::span<const uint8_t> received, uint8_t expectedType) {
    MessageHeader header;
    return ParseReplyHeader(received, header) && header.type == expectedType && header.status == 0;
}

std::optional<std::string> ReadValueReply(std::span<const uint8_t> received) {
    // A reply that ends before its text field is malformed: a failed reply like any other.
    if (!IsAcceptedReply(received, REP_VALUE) || received.size() <= VALUE_TEXT_OFFSET) return std::nullopt;
    return TextUpToZero(received.subspan(VALUE_TEXT_OFFSET));
}

std::optional<DiagTexts> ReadDiagReply(std::span<const uint8_t> received) {
    if (!IsAcceptedReply(received, REP_DIAG)) return std::nullopt;
    auto field = [&](size_t offset) {
        if (received.size() <= offset) return std::string();
        return TextUpToZero(received.subspan(offset, std::min(DIAG_TEXT_FIELD, received.size() - offset)));
    };
    return DiagTexts{field(DIAG_FIRST_TEXT_OFFSET), field(DIAG_SECOND_TEXT_OFFSET)};
}

ConfigReply ReadConfigReply(std::span<const uint8_t> received) {
    ConfigReply reply;
    ByteReader reader(received);
    if (!ReadHeader(reader, reply.header)) {
        reply.error = reader.Error();
        return reply;
    }
    for (unsigned i = 0; i < reply.header.param; ++i) {
        ConfigEntry entry;
        if (!ReadConfigEntry(reader, entry)) {
            reply.error = "entry " + std::to_string(i + 1) + " of " + std::to_string(reply.header.param) + ": " +
                          reader.Error();
            return reply;
        }
        reply.entries.push_back(std::move(entry));
    }
    reply.complete = true;
    return reply;
}

std::string VersionText(const std::array<uint8_t, 4>& version) {
    char text[32];
    std::snprintf(text, sizeof text, "%i.%i.%i.%i", version[0], version[1], version[2], version[3]);
    return text;
}

// ---- Device side

bool ReadLoginRequest(std::span<const uint8_t> received, LoginRequest& out, std::string* error) {
    ByteReader reader(received);
    MessageHeader header;
    if (!ReadRequestHeader(reader, REQ_LOGIN, header, error)) return false;
    uint8_t fieldLength = 0;
    if (!reader.ReadU8(fieldLength) || !reader.ReadFixedText(fieldLength, out.password)) {
        return SetError(error, reader.Error());
    }
    return true;
}

bool ReadSetConfigRequest(std::span<const uint8_t> received, std::vector<ConfigEntry>& out, std::string* error) {
    ByteReader reader(received);
    MessageHeader header;
    if (!ReadRequestHeader(reader, REQ_SET_CONFIG, header, error)) return false;
    out.clear();
    for (unsigned i = 0; i < header.param; ++i) {
        ConfigEntry entry;
        if (!ReadConfigEntry(reader, entry)) {
            return SetError(error, "entry " + std::to_string(i + 1) + " of " + std::to_string(header.param) + ": " +
                                       reader.Error());
        }
        out.push_back(std::move(entry));
    }
    return true;
}

bool ReadUpgradeDataRequest(std::span<const uint8_t> received, UpgradeDataRequest& out, std::string* error) {
    ByteReader reader(received);
    uint8_t type = 0;
    if (!reader.ReadU8(type)) return SetError(error, reader.Error());
    if (type != REQ_UPGRADE_DATA) {
        return SetError(error, "expected type " + std::to_string(REQ_UPGRADE_DATA) + ", got " + std::to_string(type) +
                                   " at offset 0");
    }
    if (!reader.Seek(7) || !reader.ReadU16BE(out.remaining) || !reader.ReadU16BE(out.offset) ||
        !reader.ReadU16BE(out.size) || !reader.ReadBytes(UPGRADE_CHUNK_SIZE, out.data)) {
        return SetError(error, reader.Error());
    }
    if (out.size > UPGRADE_CHUNK_SIZE) {
        return SetError(error, "chunk size " + std::to_string(out.size) + " exceeds " +
                                   std::to_string(UPGRADE_CHUNK_SIZE) + " at offset 11");
    }
    return true;
}

bool ReadGetValueRequest(std::span<const uint8_t> received, std::string& key, std::string* error) {
    ByteReader reader(received);
    MessageHeader header;
    if (!ReadRequestHeader(reader, REQ_GET_VALUE, header, error)) return false;
    if (!reader.ReadCString(key)) return SetError(error, reader.Error());
    return true;
}

Bytes BuildReply(uint8_t type, const std::array<uint8_t, 4>& version, uint8_t status, uint8_t param,
                 std::span<const uint8_t> body) {
    Bytes out;
    out.reserve(MESSAGE_HEADER_SIZE + body.size());
    AppendHeader(out, MessageHeader{type, version, status, 0, param});
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

Bytes BuildValueReply(const std::array<uint8_t, 4>& version, uint8_t status, std::string_view value) {
    Bytes body(VALUE_TEXT_OFFSET - MESSAGE_HEADER_SIZE, 0);
    body.insert(body.end(), value.begin(), value.end());
    body.push_back(0);
    return BuildReply(REP_VALUE, version, status, 0, body);
}

Bytes BuildDiagReply(const std::array<uint8_t, 4>& version, uint8_t status, std::string_view first,
                     std::string_view second) {
    // Each text keeps its terminating zero inside its 512-byte field.
    Bytes body(DIAG_REPLY_SIZE - MESSAGE_HEADER_SIZE, 0);
    std::copy_n(first.begin(), std::min(first.size(), DIAG_TEXT_FIELD - 1), body.begin());
    std::copy_n(second.begin(), std::min(second.size(), DIAG_TEXT_FIELD - 1), body.begin() + DIAG_TEXT_FIELD);
    return BuildReply(REP_DIAG, version, status, 0, body);
}

Bytes BuildConfigReply(const std::array<uint8_t, 4>& version, uint8_t status, std::span<const ConfigEntry> entries) {
    Bytes body;
    for (const auto& entry : entries) AppendConfigEntry(body, entry);
    return BuildReply(REP_CONFIG, version, status, static_cast<uint8_t>(entries.size()), body);
}

}  // namespace kbr

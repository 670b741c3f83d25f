#pragma once
// The device's message format: the 8-byte header every request and reply starts with, one
// builder per request, the reply readers the program uses, and the request readers and reply
// builder the device side (the simulator) uses. Every layout is described here once; all reading
// goes through ByteReader, so nothing past the received bytes is ever read.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "link/ConfigEntry.h"

namespace kbr {

using Bytes = std::vector<uint8_t>;

// The link's read buffer, and the most a reply may be.
constexpr size_t RECEIVE_BUFFER_SIZE = 2024;

enum MessageType : uint8_t {
    REQ_LOGIN = 0,
    REQ_GET_CONFIG = 2,
    REP_CONFIG = 4,
    REQ_SET_CONFIG = 6,
    REP_SET_CONFIG = 7,
    REQ_GET_DIAG = 8,
    REP_DIAG = 9,
    REQ_UPGRADE_START = 10,
    REP_UPGRADE_START = 11,
    REQ_UPGRADE_DATA = 12,
    REP_UPGRADE_DATA = 13,
    REP_UPGRADE_END = 14,
    REQ_ACTION = 15,
    REP_ACTION = 16,
    REQ_GET_VALUE = 64,
    REP_VALUE = 65,
};

// Name of a known type ("REQ_LOGIN"), or nullptr.
const char* MessageTypeName(uint8_t type);
bool IsRequestType(uint8_t type);
// The reply type the device answers a request type with (REQ_LOGIN: REP_ACTION is as good as
// any; the program takes any reply to a login).
std::optional<uint8_t> ReplyTypeFor(uint8_t requestType);

constexpr size_t MESSAGE_HEADER_SIZE = 8;
// What a request carries in the version bytes.
constexpr std::array<uint8_t, 4> REQUEST_VERSION = {0x00, 0x01, 0x02, 0x03};

struct MessageHeader {
    uint8_t type = 0;
    std::array<uint8_t, 4> version = REQUEST_VERSION;
    uint8_t status = 0;
    uint8_t reserved = 0;
    uint8_t param = 0;
};

// Exact lengths of the fixed-size requests.
constexpr size_t LOGIN_REQUEST_SIZE = 17;
constexpr size_t LOGIN_PASSWORD_FIELD = 8;
constexpr size_t GET_CONFIG_REQUEST_SIZE = 8;
constexpr size_t GET_DIAG_REQUEST_SIZE = 8;
constexpr size_t ACTION_REQUEST_SIZE = 8;
constexpr size_t UPGRADE_START_REQUEST_SIZE = 13;
constexpr size_t UPGRADE_CHUNK_SIZE = 256;
constexpr size_t UPGRADE_DATA_REQUEST_SIZE = 13 + UPGRADE_CHUNK_SIZE;  // 269
constexpr uint8_t GET_CONFIG_PARAM = 10;
constexpr size_t VALUE_TEXT_OFFSET = 12;
constexpr size_t DIAG_FIRST_TEXT_OFFSET = 8;
constexpr size_t DIAG_SECOND_TEXT_OFFSET = 520;
constexpr size_t DIAG_TEXT_FIELD = 512;
constexpr size_t DIAG_REPLY_SIZE = 1032;

// Keys of REQ_GET_VALUE.
constexpr std::string_view KEY_PRODUCT_ID = "c:prod_id";
constexpr std::string_view KEY_FIRMWARE_VERSION = "a:version";

void AppendHeader(Bytes& out, const MessageHeader& header);
[[nodiscard]] bool ReadHeader(class ByteReader& reader, MessageHeader& out);

// ---- Requests (program side). Each returns exactly the bytes to send.
Bytes BuildLoginRequest(std::string_view password);  // first 8 bytes of the password, zero-filled
Bytes BuildGetConfigRequest();
Bytes BuildSetConfigRequest(std::span<const ConfigEntry> entries);
Bytes BuildGetDiagRequest();
Bytes BuildUpgradeStartRequest();
// remaining, offset and size go out as their low 16 bits; data holds at most 256 bytes, the
// rest of the 256-byte field is zero.
Bytes BuildUpgradeDataRequest(uint32_t remaining, uint32_t offset, uint32_t size, std::span<const uint8_t> data);
Bytes BuildActionRequest();
Bytes BuildGetValueRequest(std::string_view key);

// ---- Replies (program side). `received` is exactly the bytes one read returned.

// The header of a reply; false (with a reason) when fewer than 8 bytes arrived.
[[nodiscard]] bool ParseReplyHeader(std::span<const uint8_t> received, MessageHeader& out, std::string* error = nullptr);
// Accepted: the expected type and status 0.
bool IsAcceptedReply(std::span<const uint8_t> received, uint8_t expectedType);
// The value text of an accepted REP_VALUE (byte 12 up to its first zero byte, or to the end of
// what was received); nothing for any other reply, and nothing for one of 12 bytes or fewer,
// whose text field is missing.
std::optional<std::string> ReadValueReply(std::span<const uint8_t> received);

struct DiagTexts {
    std::string first;
    std::string second;
};
// The two texts of an accepted REP_DIAG; each ends at its first zero byte, at the end of its
// 512-byte field, or at the end of what was received, whichever comes first.
std::optional<DiagTexts> ReadDiagReply(std::span<const uint8_t> received);

struct ConfigReply {
    MessageHeader header;
    std::vector<ConfigEntry> entries;  // those decoded before any error
    bool complete = false;             // all `param` entries decoded
    std::string error;                 // why decoding stopped early
};
// Header and entries of a REP_CONFIG (type not checked). Entries that would run past the
// received bytes end the decode; what was decoded before stays.
ConfigReply ReadConfigReply(std::span<const uint8_t> received);

// Firmware version of a reply header as "%i.%i.%i.%i".
std::string VersionText(const std::array<uint8_t, 4>& version);

// ---- Device side: request readers and the reply builder.

struct LoginRequest {
    std::string password;  // the 8-byte field up to its first zero byte
};
struct UpgradeDataRequest {
    uint16_t remaining = 0;
    uint16_t offset = 0;
    uint16_t size = 0;
    std::span<const uint8_t> data;  // the whole 256-byte field
};

[[nodiscard]] bool ReadLoginRequest(std::span<const uint8_t> received, LoginRequest& out, std::string* error = nullptr);
[[nodiscard]] bool ReadSetConfigRequest(std::span<const uint8_t> received, std::vector<ConfigEntry>& out,
                                        std::string* error = nullptr);
[[nodiscard]] bool ReadUpgradeDataRequest(std::span<const uint8_t> received, UpgradeDataRequest& out,
                                          std::string* error = nullptr);
[[nodiscard]] bool ReadGetValueRequest(std::span<const uint8_t> received, std::string& key,
                                       std::string* error = nullptr);

// A reply: the header, then body. The caller keeps it at most RECEIVE_BUFFER_SIZE bytes and never
// exactly 16 (a 16-byte read is never delivered).
Bytes BuildReply(uint8_t type, const std::array<uint8_t, 4>& version, uint8_t status, uint8_t param,
                 std::span<const uint8_t> body = {});
Bytes BuildValueReply(const std::array<uint8_t, 4>& version, uint8_t status, std::string_view value);
Bytes BuildDiagReply(const std::array<uint8_t, 4>& version, uint8_t status, std::string_view first,
                     std::string_view second);
Bytes BuildConfigReply(const std::array<uint8_t, 4>& version, uint8_t status, std::span<const ConfigEntry> entries);

}  // namespace kbr

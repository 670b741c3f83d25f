#pragma once
// The device's message format: the 8-byte header every request and reply starts with, one
// builder per request, the reply readers the program uses, and the request readers and reply
// builders the device side (the simulator) uses. Each message's layout is described once, in
// Messages.cpp, and its builder and its reader both follow that description (link/WireFields.h):
// writing goes through ByteWriter, reading through ByteReader, so nothing past the received bytes
// is ever read.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "link/ConfigEntry.h"
#include "link/Decoded.h"

namespace kbr {

using Bytes = std::vector<uint8_t>;

// The link's read buffer, and the most a reply may be.
constexpr size_t RECEIVE_BUFFER_SIZE = 2024;
// A read of exactly this many bytes never reaches an operation: the link reports it instead.
constexpr size_t UNDELIVERED_READ_SIZE = 16;

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
// The reply type the device answers this request with: that of its type, but REP_UPGRADE_END
// for the chunk whose remaining count is 0 (a chunk cut before that count is not the last).
// Nothing for an empty request or one of no known request type.
std::optional<uint8_t> ExpectedReplyType(std::span<const uint8_t> request);

// What a request carries in the version bytes.
constexpr std::array<uint8_t, 4> REQUEST_VERSION = {0x00, 0x01, 0x02, 0x03};

// The start of every message: the type, four version bytes, the status and a reserved byte; then
// param, whose meaning depends on the type. The upgrade data request has no param: its remaining
// count begins where param would be.
struct MessageHeader {
    uint8_t type = 0;
    std::array<uint8_t, 4> version = REQUEST_VERSION;
    uint8_t status = 0;
    uint8_t reserved = 0;
    uint8_t param = 0;
};

// The widths of the fields that have one. Where each field lies follows from the order in which
// the one description of each message (in Messages.cpp) names them.
constexpr size_t LOGIN_PASSWORD_FIELD = 8;
constexpr size_t UPGRADE_START_PADDING = 5;  // zero bytes after the start request's header
constexpr size_t UPGRADE_CHUNK_SIZE = 256;
constexpr size_t DIAG_TEXT_FIELD = 512;

// The lengths those descriptions give the fixed-size messages (MessagesTest checks each against
// its builder), for checks of what was received.
constexpr size_t MESSAGE_START_SIZE = 1 + 4 + 1 + 1;            // type, version, status, reserved
constexpr size_t MESSAGE_HEADER_SIZE = MESSAGE_START_SIZE + 1;  // and param
constexpr size_t LOGIN_REQUEST_SIZE = MESSAGE_HEADER_SIZE + 1 + LOGIN_PASSWORD_FIELD;
constexpr size_t GET_CONFIG_REQUEST_SIZE = MESSAGE_HEADER_SIZE;
constexpr size_t GET_DIAG_REQUEST_SIZE = MESSAGE_HEADER_SIZE;
constexpr size_t ACTION_REQUEST_SIZE = MESSAGE_HEADER_SIZE;
constexpr size_t UPGRADE_START_REQUEST_SIZE = MESSAGE_HEADER_SIZE + UPGRADE_START_PADDING;
constexpr size_t UPGRADE_DATA_REQUEST_SIZE = MESSAGE_START_SIZE + 3 * 2 + UPGRADE_CHUNK_SIZE;
constexpr size_t DIAG_REPLY_SIZE = MESSAGE_HEADER_SIZE + 2 * DIAG_TEXT_FIELD;

// Keys of REQ_GET_VALUE.
constexpr std::string_view KEY_PRODUCT_ID = "c:prod_id";
constexpr std::string_view KEY_FIRMWARE_VERSION = "a:version";

// Every reader below returns a Decoded record: the value, or the reason it could not be read
// (what was expected, at which offset), keeping what was decoded before it stopped.

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

// The header of any reply; fails when fewer than 8 bytes arrived.
Decoded<MessageHeader> ReadReplyHeader(std::span<const uint8_t> received);
// Accepted: the expected type and status 0.
bool IsAcceptedReply(std::span<const uint8_t> received, uint8_t expectedType);
// The value text of an accepted REP_VALUE (byte 12 up to its first zero byte, or to the end of
// what was received). Any other reply fails, and so does one of 12 bytes or fewer, whose text
// field is missing.
Decoded<std::string> ReadValueReply(std::span<const uint8_t> received);

struct DiagTexts {
    std::string first;
    std::string second;
};
// The two texts of an accepted REP_DIAG; each ends at its first zero byte, at the end of its
// 512-byte field, or at the end of what was received, whichever comes first.
Decoded<DiagTexts> ReadDiagReply(std::span<const uint8_t> received);

// REP_CONFIG and REQ_SET_CONFIG: the header, whose param counts the entries that follow.
struct ConfigMessage {
    MessageHeader header;
    std::vector<ConfigEntry> entries;
};
// Header and entries of a REP_CONFIG (neither type nor status checked: the caller decides).
// Entries that would run past the received bytes end the decode; those decoded before stay.
Decoded<ConfigMessage> ReadConfigReply(std::span<const uint8_t> received);

// Firmware version of a reply header as "%i.%i.%i.%i".
std::string VersionText(const std::array<uint8_t, 4>& version);

// ---- Device side: request readers and the reply builders.

struct LoginRequest {
    MessageHeader header;
    uint8_t passwordField = LOGIN_PASSWORD_FIELD;  // the password field's length, as the request gives it
    std::string password;                          // that field up to its first zero byte
};
struct UpgradeDataRequest {
    MessageHeader header;  // param is not sent: remaining takes its place
    uint16_t remaining = 0;
    uint16_t offset = 0;
    uint16_t size = 0;              // at most 256
    std::span<const uint8_t> data;  // the whole 256-byte field
};

Decoded<LoginRequest> ReadLoginRequest(std::span<const uint8_t> received);
Decoded<ConfigMessage> ReadSetConfigRequest(std::span<const uint8_t> received);
Decoded<UpgradeDataRequest> ReadUpgradeDataRequest(std::span<const uint8_t> received);
// The key of a REQ_GET_VALUE; it must end with its zero byte.
Decoded<std::string> ReadGetValueRequest(std::span<const uint8_t> received);

// A reply: the header, then body. The caller keeps it at most RECEIVE_BUFFER_SIZE bytes and never
// exactly 16 (a 16-byte read is never delivered).
Bytes BuildReply(uint8_t type, const std::array<uint8_t, 4>& version, uint8_t status, uint8_t param,
                 std::span<const uint8_t> body = {});
Bytes BuildValueReply(const std::array<uint8_t, 4>& version, uint8_t status, std::string_view value);
Bytes BuildDiagReply(const std::array<uint8_t, 4>& version, uint8_t status, std::string_view first,
                     std::string_view second);
Bytes BuildConfigReply(const std::array<uint8_t, 4>& version, uint8_t status, std::span<const ConfigEntry> entries);

}  // namespace kbr

#include "testkit/HexText.h"
#include "link/Messages.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace kbr {
namespace {

using B = std::vector<uint8_t>;

B WithText(B head, std::string_view text, size_t totalLength) {
    head.insert(head.end(), text.begin(), text.end());
    head.resize(totalLength, 0);
    return head;
}

struct RequestCase {
    const char* name;
    Bytes built;
    B expected;
};

void PrintTo(const RequestCase& c, std::ostream* os) { *os << c.name; }

class RequestLayout : public ::testing::TestWithParam<RequestCase> {};

TEST_P(RequestLayout, HasExactBytes) { EXPECT_EQ(GetParam().built, GetParam().expected); }

const B LOGIN_START = {0x00, 0x00, 0x01, 0x02, 0x03, 0x00, 0x00, 0x01, 0x08};

INSTANTIATE_TEST_SUITE_P(
    Requests, RequestLayout,
    ::testing::Values(RequestCase{"LoginThreeCharacters", BuildLoginRequest("abc"), WithText(LOGIN_START, "abc", 17)},
                      RequestCase{"LoginEmpty", BuildLoginRequest(""), WithText(LOGIN_START, "", 17)},
                      RequestCase{"LoginTenCharactersCutToEight", BuildLoginRequest("0123456789"),
                                  WithText(LOGIN_START, "01234567", 17)},
                      RequestCase{"GetConfig", BuildGetConfigRequest(),
                                  B{0x02, 0x00, 0x01, 0x02, 0x03, 0x00, 0x00, 0x0A}},
                      RequestCase{"GetDiag", BuildGetDiagRequest(), B{0x08, 0x00, 0x01, 0x02, 0x03, 0x00, 0x00, 0x00}},
                      RequestCase{"Action", BuildActionRequest(), B{0x0F, 0x00, 0x01, 0x02, 0x03, 0x00, 0x00, 0x00}},
                      RequestCase{"UpgradeStart", BuildUpgradeStartRequest(),
                                  B{0x0A, 0x00, 0x01, 0x02, 0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},
                      RequestCase{"GetValueProductId", BuildGetValueRequest("c:prod_id"),
                                  WithText({0x40, 0x00, 0x01, 0x02, 0x03, 0x00, 0x00, 0x00}, "c:prod_id", 18)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(UpgradeDataRequest, CarriesFieldsAtFixedOffsetsAndZeroFillsTheLastChunk) {
    const B data = {0xAA, 0xBB, 0xCC};
    // Chunk index 299: its offset 299 * 256 keeps only its low 16 bits, 0x2B00.
    Bytes request = BuildUpgradeDataRequest(5, 299u * 256u, 3, data);
    ASSERT_EQ(request.size(), 269u);
    EXPECT_EQ(request[0], REQ_UPGRADE_DATA);
    EXPECT_EQ(B(request.begin() + 1, request.begin() + 5), (B{0x00, 0x01, 0x02, 0x03}));
    EXPECT_EQ(request[7], 0x00);
    EXPECT_EQ(request[8], 0x05);
    EXPECT_EQ(request[9], 0x2B);
    EXPECT_EQ(request[10], 0x00);
    EXPECT_EQ(request[11], 0x00);
    EXPECT_EQ(request[12], 0x03);
    EXPECT_EQ(B(request.begin() + 13, request.begin() + 16), data);
    EXPECT_TRUE(std::all_of(request.begin() + 16, request.end(), [](uint8_t b) { return b == 0; }));
}

TEST(UpgradeDataRequest, NeverCopiesMoreThanOneChunk) {
    const B data(300, 0x5A);
    Bytes request = BuildUpgradeDataRequest(0, 0, 256, data);
    EXPECT_EQ(request.size(), 269u);
}

TEST(SetConfigRequest, OfTheSixRecordsIs156Bytes) {
    const std::vector<ConfigEntry> entries = {
        MakeTextEntry("admPswd", "old", "new", 8),   MakeNumberEntry("channelMask", 1, 0x55554000),
        MakeNumberEntry("scanMask", 0, 0xFFFFFFFF),  MakeNumberEntry("SwConfig", 0x1000, 1),
        MakeTextEntry("password", "", "secret", 17), MakeNumberEntry("DiplexerMode", 0, 1),
    };
    Bytes request = BuildSetConfigRequest(entries);
    EXPECT_EQ(request.size(), 156u);
    EXPECT_EQ(request[0], REQ_SET_CONFIG);
    EXPECT_EQ(request[7], 6);
    const Decoded<ConfigMessage> parsed = ReadSetConfigRequest(request);
    ASSERT_TRUE(parsed) << parsed.error;
    ASSERT_EQ(parsed->entries.size(), 6u);
    EXPECT_EQ(parsed->entries[1].valueB, (B{0x55, 0x55, 0x40, 0x00}));
    EXPECT_EQ(DecodeText(parsed->entries[4].valueB), "secret");
}

TEST(ReplyHeader, ShorterThanEightBytesIsRejectedWithAReason) {
    const B reply = {REP_ACTION, 1, 2, 3};
    const Decoded<MessageHeader> header = ReadReplyHeader(reply);
    EXPECT_FALSE(header);
    EXPECT_EQ(header.error, "expected 4 bytes at offset 1, only 3 left");
    EXPECT_FALSE(IsAcceptedReply(reply, REP_ACTION));
}

struct AcceptCase {
    B reply;
    uint8_t expected;
    bool accepted;
};

TEST(ReplyHeader, AcceptedOnlyWithExpectedTypeAndStatusZero) {
    const AcceptCase cases[] = {
        {{REP_ACTION, 1, 2, 3, 4, 0, 0, 0}, REP_ACTION, true},
        {{REP_ACTION, 1, 2, 3, 4, 1, 0, 0}, REP_ACTION, false},
        {{REP_SET_CONFIG, 1, 2, 3, 4, 0, 0, 0}, REP_ACTION, false},
        {{REP_ACTION, 1, 2, 3, 4, 0, 0, 0, 9, 9, 9}, REP_ACTION, true},
        {{}, REP_ACTION, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsAcceptedReply(c.reply, c.expected), c.accepted) << "reply of " << c.reply.size() << " bytes";
    }
}

// The value text, or nothing for a failed reply.
std::optional<std::string> Value(std::span<const uint8_t> reply) {
    const Decoded<std::string> value = ReadValueReply(reply);
    return value ? std::optional(*value) : std::nullopt;
}

TEST(ValueReply, TextFromByteTwelveBoundedByWhatArrived) {
    const std::array<uint8_t, 4> v = {1, 2, 3, 4};
    EXPECT_EQ(Value(BuildValueReply(v, 0, "KBR3300-A")), "KBR3300-A");
    EXPECT_EQ(Value(BuildValueReply(v, 1, "x")), std::nullopt) << "status 1 is a failed reply";
    // No terminating zero in what arrived: the text ends with the read.
    B unterminated = {REP_VALUE, 1, 2, 3, 4, 0, 0, 0, 0, 0, 0, 0, 'a', 'b', 'c'};
    EXPECT_EQ(Value(unterminated), "abc");
    // Without its text field (12 bytes or fewer) the reply is malformed: a failed reply.
    B headerOnly = {REP_VALUE, 1, 2, 3, 4, 0, 0, 0};
    EXPECT_EQ(Value(headerOnly), std::nullopt);
    B twelve = {REP_VALUE, 1, 2, 3, 4, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(Value(twelve), std::nullopt);
    // One byte of text field, a zero: an empty value.
    B thirteen = {REP_VALUE, 1, 2, 3, 4, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(Value(thirteen), "");
}

TEST(DiagReply, TwoTextsEachBoundedByItsFieldAndTheRead) {
    const std::array<uint8_t, 4> v = {1, 0, 0, 0};
    auto texts = ReadDiagReply(BuildDiagReply(v, 0, "first", "second"));
    ASSERT_TRUE(texts);
    EXPECT_EQ(texts->first, "first");
    EXPECT_EQ(texts->second, "second");

    // A reply cut after the first text: the second is empty, nothing past the read is touched.
    Bytes full = BuildDiagReply(v, 0, "abc", "def");
    Bytes cut(full.begin(), full.begin() + 11);
    texts = ReadDiagReply(cut);
    ASSERT_TRUE(texts);
    EXPECT_EQ(texts->first, "abc");
    EXPECT_EQ(texts->second, "");

    // A first field with no zero byte stops at 512 bytes and does not run into the second.
    Bytes noZero = BuildReply(REP_DIAG, v, 0, 0, B(512, 'x'));
    noZero.push_back('y');
    texts = ReadDiagReply(noZero);
    ASSERT_TRUE(texts);
    EXPECT_EQ(texts->first.size(), 512u);
    EXPECT_EQ(texts->second, "y");

    EXPECT_FALSE(ReadDiagReply(BuildDiagReply(v, 3, "a", "b")));
}

TEST(ConfigReply, DecodesEntriesAndStopsCleanlyWhenTheyRunPastTheRead) {
    const std::array<uint8_t, 4> v = {1, 2, 3, 4};
    const std::vector<ConfigEntry> entries = {MakeNumberEntry("channelMask", 1, 357908480),
                                              MakeTextEntry("admPswd", "a", "b", 8)};
    Bytes reply = BuildConfigReply(v, 0, entries);
    const Decoded<ConfigMessage> decoded = ReadConfigReply(reply);
    EXPECT_TRUE(decoded.Ok());
    ASSERT_EQ(decoded->entries.size(), 2u);
    EXPECT_EQ(decoded->entries[0].name, "channelMask");
    EXPECT_EQ(VersionText(decoded->header.version), "1.2.3.4");

    for (size_t cut = 0; cut < reply.size(); ++cut) {
        const Decoded<ConfigMessage> partial = ReadConfigReply(std::span(reply).first(cut));
        EXPECT_FALSE(partial.Ok()) << "cut at " << cut;
        EXPECT_FALSE(partial.error.empty()) << "cut at " << cut;
    }

    // A param count larger than the entries that follow.
    Bytes overCounted = reply;
    overCounted[7] = 200;
    const Decoded<ConfigMessage> over = ReadConfigReply(overCounted);
    EXPECT_FALSE(over.Ok());
    EXPECT_EQ(over->entries.size(), 2u);
    EXPECT_NE(over.error.find("entry 3 of 200"), std::string::npos) << over.error;

    // An entry width that runs past the read.
    Bytes wide = BuildReply(REP_CONFIG, v, 0, 1, B{'x', 0, 200, 1, 2, 3});
    const Decoded<ConfigMessage> bad = ReadConfigReply(wide);
    EXPECT_FALSE(bad.Ok());
    EXPECT_TRUE(bad->entries.empty());
}

TEST(VersionText, FormatsEachByteAsUnsignedDecimal) { EXPECT_EQ(VersionText({255, 0, 10, 7}), "255.0.10.7"); }

TEST(DeviceSideReaders, RejectWrongTypesAndTruncation) {
    const Decoded<LoginRequest> login = ReadLoginRequest(BuildLoginRequest("pw"));
    ASSERT_TRUE(login) << login.error;
    EXPECT_EQ(login->password, "pw");
    const Decoded<LoginRequest> notLogin = ReadLoginRequest(BuildActionRequest());
    EXPECT_FALSE(notLogin);
    EXPECT_EQ(notLogin.error, "expected type 0, got 15 at offset 0");
    Bytes truncated = BuildLoginRequest("12345678");
    truncated.resize(12);
    EXPECT_FALSE(ReadLoginRequest(truncated));

    const Decoded<std::string> key = ReadGetValueRequest(BuildGetValueRequest("a:version"));
    ASSERT_TRUE(key) << key.error;
    EXPECT_EQ(*key, "a:version");
    Bytes noZero = BuildGetValueRequest("a:version");
    noZero.pop_back();
    EXPECT_FALSE(ReadGetValueRequest(noZero));

    const B data(256, 7);
    const Bytes request = BuildUpgradeDataRequest(1, 256, 256, data);
    const Decoded<UpgradeDataRequest> chunk = ReadUpgradeDataRequest(request);
    ASSERT_TRUE(chunk) << chunk.error;
    EXPECT_EQ(chunk->remaining, 1);
    EXPECT_EQ(chunk->offset, 256);
    EXPECT_EQ(chunk->size, 256);
    Bytes oversize = BuildUpgradeDataRequest(0, 0, 256, data);
    oversize[11] = 0x01;
    oversize[12] = 0x01;  // 257
    EXPECT_FALSE(ReadUpgradeDataRequest(oversize));
    EXPECT_FALSE(ReadUpgradeDataRequest(std::span(data).first(100)));
}

TEST(MessageTypes, EveryRequestHasAReplyType) {
    for (uint8_t type : {REQ_LOGIN, REQ_GET_CONFIG, REQ_SET_CONFIG, REQ_GET_DIAG, REQ_UPGRADE_START, REQ_UPGRADE_DATA,
                         REQ_ACTION, REQ_GET_VALUE}) {
        EXPECT_TRUE(IsRequestType(type)) << int(type);
        EXPECT_NE(MessageTypeName(type), nullptr);
    }
    EXPECT_FALSE(IsRequestType(REP_VALUE));
    EXPECT_EQ(MessageTypeName(99), nullptr);
}

// ---- Round trips: what a builder writes, the matching reader gives back field by field, and
// every byte of it belongs to a field.

std::string Hex(std::span<const uint8_t> bytes) { return test::HexText(bytes); }

std::string HeaderText(const MessageHeader& h) {
    return "type " + std::to_string(h.type) + " version " + VersionText(h.version) + " status " +
           std::to_string(h.status) + " param " + std::to_string(h.param);
}

std::string EntriesText(const std::vector<ConfigEntry>& entries) {
    std::string text;
    for (const auto& e : entries)
        text += " | " + e.name + "/" + std::to_string(e.width) + " " + Hex(e.valueA) + " " + Hex(e.valueB);
    return text;
}

struct ReadBack {
    std::string fields;  // the fields read, as text; or why the bytes could not be read
    size_t length = 0;   // bytes the fields took
};

template <class T, class Format>
ReadBack Show(const Decoded<T>& decoded, Format format) {
    if (!decoded) return {"cannot read: " + decoded.error, decoded.length};
    return {format(*decoded), decoded.length};
}

struct RoundTripCase {
    const char* name;
    Bytes built;
    size_t layoutSize;  // the length the message's layout gives it
    std::function<ReadBack(std::span<const uint8_t>)> read;
    std::string fields;
    friend void PrintTo(const RoundTripCase& c, std::ostream* os) { *os << c.name; }
};

class RoundTrip : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(RoundTrip, ReadingWhatWasBuiltGivesBackItsFields) {
    const RoundTripCase& c = GetParam();
    EXPECT_EQ(c.built.size(), c.layoutSize);
    const ReadBack back = c.read(c.built);
    EXPECT_EQ(back.fields, c.fields);
    EXPECT_EQ(back.length, c.built.size()) << "bytes that belong to no field";
}

ReadBack AnyHeader(std::span<const uint8_t> bytes) { return Show(ReadReplyHeader(bytes), HeaderText); }

const std::array<uint8_t, 4> VERSION = {1, 2, 3, 4};

std::vector<ConfigEntry> SixEntries() {
    return {MakeTextEntry("admPswd", "old", "new", 8),   MakeNumberEntry("channelMask", 1, 0x55554000),
            MakeNumberEntry("scanMask", 0, 0xFFFFFFFF),  MakeNumberEntry("SwConfig", 0x1000, 1),
            MakeTextEntry("password", "", "secret", 17), MakeNumberEntry("DiplexerMode", 0, 1)};
}

const std::string SIX_ENTRIES_TEXT =
    " | admPswd/8 6f6c640000000000 6e65770000000000 | channelMask/4 00000001 55554000 | scanMask/4 00000000 ffffffff"
    " | SwConfig/4 00001000 00000001 | password/17 0000000000000000000000000000000000"
    " 7365637265740000000000000000000000 | DiplexerMode/4 00000000 00000001";

ReadBack Login(std::span<const uint8_t> bytes) {
    return Show(ReadLoginRequest(bytes), [](const LoginRequest& m) {
        return HeaderText(m.header) + " | field " + std::to_string(m.passwordField) + " \"" + m.password + "\"";
    });
}

ReadBack Chunk(std::span<const uint8_t> bytes) {
    return Show(ReadUpgradeDataRequest(bytes), [](const UpgradeDataRequest& m) {
        const auto used = m.data.first(std::min<size_t>(m.size, m.data.size()));
        const bool zeroAfter = std::all_of(m.data.begin() + static_cast<std::ptrdiff_t>(used.size()), m.data.end(),
                                           [](uint8_t b) { return b == 0; });
        return "type " + std::to_string(m.header.type) + " remaining " + std::to_string(m.remaining) + " offset " +
               std::to_string(m.offset) + " size " + std::to_string(m.size) + " data " + Hex(used) +
               (zeroAfter ? " then zeros" : " then other bytes");
    });
}

const B CHUNK(256, 0x5A);
const B THREE_BYTES = {0xAA, 0xBB, 0xCC};

INSTANTIATE_TEST_SUITE_P(
    Messages, RoundTrip,
    ::testing::Values(
        RoundTripCase{"Login", BuildLoginRequest("abc"), LOGIN_REQUEST_SIZE, Login,
                      "type 0 version 0.1.2.3 status 0 param 1 | field 8 \"abc\""},
        RoundTripCase{"LoginCutToItsField", BuildLoginRequest("0123456789"), LOGIN_REQUEST_SIZE, Login,
                      "type 0 version 0.1.2.3 status 0 param 1 | field 8 \"01234567\""},
        RoundTripCase{"GetConfig", BuildGetConfigRequest(), GET_CONFIG_REQUEST_SIZE, AnyHeader,
                      "type 2 version 0.1.2.3 status 0 param 10"},
        RoundTripCase{"GetDiag", BuildGetDiagRequest(), GET_DIAG_REQUEST_SIZE, AnyHeader,
                      "type 8 version 0.1.2.3 status 0 param 0"},
        RoundTripCase{"Action", BuildActionRequest(), ACTION_REQUEST_SIZE, AnyHeader,
                      "type 15 version 0.1.2.3 status 0 param 0"},
        RoundTripCase{"SetConfig", BuildSetConfigRequest(SixEntries()), 156,
                      [](std::span<const uint8_t> bytes) {
                          return Show(ReadSetConfigRequest(bytes), [](const ConfigMessage& m) {
                              return HeaderText(m.header) + EntriesText(m.entries);
                          });
                      },
                      "type 6 version 0.1.2.3 status 0 param 6" + SIX_ENTRIES_TEXT},
        RoundTripCase{"UpgradeDataFull", BuildUpgradeDataRequest(2, 512, 256, CHUNK), UPGRADE_DATA_REQUEST_SIZE, Chunk,
                      "type 12 remaining 2 offset 512 size 256 data " + Hex(CHUNK) + " then zeros"},
        RoundTripCase{"UpgradeDataLastAndShort", BuildUpgradeDataRequest(0, 299u * 256u, 3, THREE_BYTES),
                      UPGRADE_DATA_REQUEST_SIZE, Chunk,
                      "type 12 remaining 0 offset 11008 size 3 data aabbcc then zeros"},
        RoundTripCase{"GetValue", BuildGetValueRequest(KEY_PRODUCT_ID), MESSAGE_HEADER_SIZE + KEY_PRODUCT_ID.size() + 1,
                      [](std::span<const uint8_t> bytes) {
                          return Show(ReadGetValueRequest(bytes), [](const std::string& key) { return key; });
                      },
                      "c:prod_id"},
        RoundTripCase{"HeaderOnlyReply", BuildReply(REP_UPGRADE_END, VERSION, 3, 9), MESSAGE_HEADER_SIZE, AnyHeader,
                      "type 14 version 1.2.3.4 status 3 param 9"},
        RoundTripCase{"ValueReply", BuildValueReply(VERSION, 0, "KBR3300-A"), MESSAGE_HEADER_SIZE + 4 + 10,
                      [](std::span<const uint8_t> bytes) {
                          return Show(ReadValueReply(bytes), [](const std::string& value) { return value; });
                      },
                      "KBR3300-A"},
        RoundTripCase{"DiagReply", BuildDiagReply(VERSION, 0, "first", std::string(600, 's')), DIAG_REPLY_SIZE,
                      [](std::span<const uint8_t> bytes) {
                          return Show(ReadDiagReply(bytes), [](const DiagTexts& texts) {
                              return texts.first + " | " + std::to_string(texts.second.size()) + " characters";
                          });
                      },
                      "first | 511 characters"},  // each text keeps its zero inside its field
        RoundTripCase{"ConfigReply", BuildConfigReply(VERSION, 0, SixEntries()), 156,
                      [](std::span<const uint8_t> bytes) {
                          return Show(ReadConfigReply(bytes), [](const ConfigMessage& m) {
                              return HeaderText(m.header) + EntriesText(m.entries);
                          });
                      },
                      "type 4 version 1.2.3.4 status 0 param 6" + SIX_ENTRIES_TEXT}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Errors say what was expected, and where.

struct ErrorCase {
    const char* name;
    std::function<std::string()> read;  // the reader's error
    std::string error;
    friend void PrintTo(const ErrorCase& c, std::ostream* os) { *os << c.name; }
};

class ReaderErrors : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(ReaderErrors, SayWhatWasExpected) { EXPECT_EQ(GetParam().read(), GetParam().error); }

Bytes Cut(Bytes bytes, size_t size) {
    bytes.resize(size);
    return bytes;
}

Bytes WithByte(Bytes bytes, size_t at, uint8_t value) {
    bytes.at(at) = value;
    return bytes;
}

INSTANTIATE_TEST_SUITE_P(
    Messages, ReaderErrors,
    ::testing::Values(
        ErrorCase{"ValueReplyOfAnotherType",
                  [] { return ReadValueReply(BuildReply(REP_SET_CONFIG, VERSION, 0, 0)).error; },
                  "expected type 65, got 7 at offset 0"},
        ErrorCase{"ValueReplyRefused", [] { return ReadValueReply(BuildValueReply(VERSION, 1, "x")).error; },
                  "expected status 0, got 1 at offset 5"},
        ErrorCase{"ValueReplyWithoutItsText",
                  [] { return ReadValueReply(Cut(BuildValueReply(VERSION, 0, "x"), 12)).error; },
                  "expected a text at offset 12, found the end"},
        ErrorCase{"DiagReplyRefused", [] { return ReadDiagReply(BuildDiagReply(VERSION, 2, "a", "b")).error; },
                  "expected status 0, got 2 at offset 5"},
        ErrorCase{"ChunkLargerThanItsField",
                  [] {
                      return ReadUpgradeDataRequest(WithByte(BuildUpgradeDataRequest(0, 0, 256, CHUNK), 12, 1)).error;
                  },
                  "chunk size 257 exceeds 256 at offset 11"},
        ErrorCase{"ChunkCutShort",
                  [] { return ReadUpgradeDataRequest(Cut(BuildUpgradeDataRequest(0, 0, 3, THREE_BYTES), 100)).error; },
                  "expected 256 bytes at offset 13, only 87 left"},
        ErrorCase{"EntryCountPastTheEntries",
                  [] { return ReadSetConfigRequest(WithByte(BuildSetConfigRequest({}), 7, 2)).error; },
                  "entry 1 of 2: expected a zero-terminated text at offset 8, found no zero byte"},
        ErrorCase{"LoginFieldPastTheRequest",
                  [] { return ReadLoginRequest(WithByte(BuildLoginRequest("pw"), 8, 20)).error; },
                  "expected 20 bytes at offset 9, only 8 left"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ExpectedReplyType, FollowsTheRequestAndTheLastChunk) {
    const struct {
        const char* name;
        Bytes request;
        std::optional<uint8_t> reply;
    } cases[] = {
        {"login", BuildLoginRequest("pw"), REP_ACTION},
        {"get config", BuildGetConfigRequest(), REP_CONFIG},
        {"get value", BuildGetValueRequest(KEY_FIRMWARE_VERSION), REP_VALUE},
        {"chunk with more to come", BuildUpgradeDataRequest(1, 0, 256, CHUNK), REP_UPGRADE_DATA},
        {"last chunk", BuildUpgradeDataRequest(0, 256, 3, THREE_BYTES), REP_UPGRADE_END},
        {"chunk cut inside its remaining count", Cut(BuildUpgradeDataRequest(0, 0, 3, THREE_BYTES), 8),
         REP_UPGRADE_DATA},
        {"chunk cut after its remaining count", Cut(BuildUpgradeDataRequest(0, 0, 3, THREE_BYTES), 9), REP_UPGRADE_END},
        {"a reply's type", BuildReply(REP_VALUE, VERSION, 0, 0), std::nullopt},
        {"nothing", Bytes{}, std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(ExpectedReplyType(c.request), c.reply) << c.name;
}

}  // namespace
}  // namespace kbr

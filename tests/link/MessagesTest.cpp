#include "link/Messages.h"

#include <gtest/gtest.h>

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

const B kLoginStart = {0x00, 0x00, 0x01, 0x02, 0x03, 0x00, 0x00, 0x01, 0x08};

INSTANTIATE_TEST_SUITE_P(
    Requests, RequestLayout,
    ::testing::Values(
        RequestCase{"LoginThreeCharacters", BuildLoginRequest("abc"), WithText(kLoginStart, "abc", 17)},
        RequestCase{"LoginEmpty", BuildLoginRequest(""), WithText(kLoginStart, "", 17)},
        RequestCase{"LoginTenCharactersCutToEight", BuildLoginRequest("0123456789"),
                    WithText(kLoginStart, "01234567", 17)},
        RequestCase{"GetConfig", BuildGetConfigRequest(), B{0x02, 0x00, 0x01, 0x02, 0x03, 0x00, 0x00, 0x0A}},
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
        MakeTextEntry("admPswd", "old", "new", 8),      MakeNumberEntry("channelMask", 1, 0x55554000),
        MakeNumberEntry("scanMask", 0, 0xFFFFFFFF),     MakeNumberEntry("SwConfig", 0x1000, 1),
        MakeTextEntry("password", "", "secret", 17),    MakeNumberEntry("DiplexerMode", 0, 1),
    };
    Bytes request = BuildSetConfigRequest(entries);
    EXPECT_EQ(request.size(), 156u);
    EXPECT_EQ(request[0], REQ_SET_CONFIG);
    EXPECT_EQ(request[7], 6);
    std::vector<ConfigEntry> parsed;
    std::string error;
    ASSERT_TRUE(ReadSetConfigRequest(request, parsed, &error)) << error;
    ASSERT_EQ(parsed.size(), 6u);
    EXPECT_EQ(parsed[1].valueB, (B{0x55, 0x55, 0x40, 0x00}));
    EXPECT_EQ(DecodeText(parsed[4].valueB), "secret");
}

TEST(ReplyHeader, ShorterThanEightBytesIsRejectedWithAReason) {
    const B reply = {REP_ACTION, 1, 2, 3};
    MessageHeader header;
    std::string error;
    EXPECT_FALSE(ParseReplyHeader(reply, header, &error));
    EXPECT_EQ(error, "expected 4 bytes at offset 1, only 3 left");
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

TEST(ValueReply, TextFromByteTwelveBoundedByWhatArrived) {
    const std::array<uint8_t, 4> v = {1, 2, 3, 4};
    EXPECT_EQ(ReadValueReply(BuildValueReply(v, 0, "KBR3300-A")), "KBR3300-A");
    EXPECT_EQ(ReadValueReply(BuildValueReply(v, 1, "x")), std::nullopt) << "status 1 is a failed reply";
    // No terminating zero in what arrived: the text ends with the read.
    B unterminated = {REP_VALUE, 1, 2, 3, 4, 0, 0, 0, 0, 0, 0, 0, 'a', 'b', 'c'};
    EXPECT_EQ(ReadValueReply(unterminated), "abc");
    // Without its text field (12 bytes or fewer) the reply is malformed: a failed reply.
    B headerOnly = {REP_VALUE, 1, 2, 3, 4, 0, 0, 0};
    EXPECT_EQ(ReadValueReply(headerOnly), std::nullopt);
    B twelve = {REP_VALUE, 1, 2, 3, 4, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(ReadValueReply(twelve), std::nullopt);
    // One byte of text field, a zero: an empty value.
    B thirteen = {REP_VALUE, 1, 2, 3, 4, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(ReadValueReply(thirteen), "");
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
    ConfigReply decoded = ReadConfigReply(reply);
    EXPECT_TRUE(decoded.complete);
    ASSERT_EQ(decoded.entries.size(), 2u);
    EXPECT_EQ(decoded.entries[0].name, "channelMask");
    EXPECT_EQ(VersionText(decoded.header.version), "1.2.3.4");

    for (size_t cut = 0; cut < reply.size(); ++cut) {
        ConfigReply partial = ReadConfigReply(std::span(reply).first(cut));
        EXPECT_FALSE(partial.complete) << "cut at " << cut;
        EXPECT_FALSE(partial.error.empty()) << "cut at " << cut;
    }

    // A param count larger than the entries that follow.
    Bytes overCounted = reply;
    overCounted[7] = 200;
    ConfigReply over = ReadConfigReply(overCounted);
    EXPECT_FALSE(over.complete);
    EXPECT_EQ(over.entries.size(), 2u);
    EXPECT_NE(over.error.find("entry 3 of 200"), std::string::npos) << over.error;

    // An entry width that runs past the read.
    Bytes wide = BuildReply(REP_CONFIG, v, 0, 1, B{'x', 0, 200, 1, 2, 3});
    ConfigReply bad = ReadConfigReply(wide);
    EXPECT_FALSE(bad.complete);
    EXPECT_TRUE(bad.entries.empty());
}

TEST(VersionText, FormatsEachByteAsUnsignedDecimal) {
    EXPECT_EQ(VersionText({255, 0, 10, 7}), "255.0.10.7");
}

TEST(DeviceSideReaders, RejectWrongTypesAndTruncation) {
    std::string error;
    LoginRequest login;
    ASSERT_TRUE(ReadLoginRequest(BuildLoginRequest("pw"), login, &error)) << error;
    EXPECT_EQ(login.password, "pw");
    EXPECT_FALSE(ReadLoginRequest(BuildActionRequest(), login, &error));
    EXPECT_EQ(error, "expected type 0, got 15 at offset 0");
    Bytes truncated = BuildLoginRequest("12345678");
    truncated.resize(12);
    EXPECT_FALSE(ReadLoginRequest(truncated, login, &error));

    std::string key;
    ASSERT_TRUE(ReadGetValueRequest(BuildGetValueRequest("a:version"), key, &error));
    EXPECT_EQ(key, "a:version");
    Bytes noZero = BuildGetValueRequest("a:version");
    noZero.pop_back();
    EXPECT_FALSE(ReadGetValueRequest(noZero, key, &error));

    UpgradeDataRequest chunk;
    const B data(256, 7);
    ASSERT_TRUE(ReadUpgradeDataRequest(BuildUpgradeDataRequest(1, 256, 256, data), chunk, &error)) << error;
    EXPECT_EQ(chunk.remaining, 1);
    EXPECT_EQ(chunk.offset, 256);
    EXPECT_EQ(chunk.size, 256);
    Bytes oversize = BuildUpgradeDataRequest(0, 0, 256, data);
    oversize[11] = 0x01;
    oversize[12] = 0x01;  // 257
    EXPECT_FALSE(ReadUpgradeDataRequest(oversize, chunk, &error));
    EXPECT_FALSE(ReadUpgradeDataRequest(std::span(data).first(100), chunk, &error));
}

TEST(MessageTypes, EveryRequestHasAReplyType) {
    for (uint8_t type : {REQ_LOGIN, REQ_GET_CONFIG, REQ_SET_CONFIG, REQ_GET_DIAG, REQ_UPGRADE_START,
                         REQ_UPGRADE_DATA, REQ_ACTION, REQ_GET_VALUE}) {
        EXPECT_TRUE(IsRequestType(type)) << int(type);
        EXPECT_NE(MessageTypeName(type), nullptr);
    }
    EXPECT_FALSE(IsRequestType(REP_VALUE));
    EXPECT_EQ(MessageTypeName(99), nullptr);
}

}  // namespace
}  // namespace kbr

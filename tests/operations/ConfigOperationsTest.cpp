// Configuration read, pending values, configuration write and diagnostics polling.

#include <gtest/gtest.h>

#include <ostream>

#include "link/ConfigEntry.h"
#include "link/ConfigOperations.h"
#include "tests/operations/FakeContext.h"

namespace kbr::test {
namespace {

// Test names in CTest show the case's name instead of its bytes.
template <typename Case>
    requires requires(const Case& c) { c.name; }
void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

using Calls = std::vector<PageCallRecord>;
using Strings = std::vector<std::string>;
constexpr auto ARRAY = PageCallForm::CallFunctionWithArray;

Bytes ConfigReply(std::vector<ConfigEntry> entries, uint8_t status = 0) {
    return BuildConfigReply(DEVICE_VERSION, status, entries);
}

ConfigEntry RawNumberEntry(std::string name, Bytes a, Bytes b) {
    return ConfigEntry{std::move(name), static_cast<uint8_t>(a.size()), std::move(a), std::move(b)};
}

PageCallRecord VersionCall() { return {"storeConfig", {"100", "1.2.3.4"}, ARRAY}; }
PageCallRecord DisplayCall() { return {"display_config", {}, PageCallForm::CallFunction}; }

TEST(GetConfigOperation, VersionWithoutEntries) {
    FakeContext ctx;
    ctx.Run(PageFunction::FUNC_GETCONFIG);
    EXPECT_EQ(ctx.sent.at(0), (Bytes{0x02, 0x00, 0x01, 0x02, 0x03, 0x00, 0x00, 0x0A}));
    EXPECT_EQ(ctx.timerStarts, std::vector<uint32_t>{5000});
    ctx.Reply(ConfigReply({}));
    EXPECT_EQ(ctx.pageCalls, (Calls{VersionCall(), DisplayCall()}));
    EXPECT_EQ(ctx.completions, std::vector<int>{0});
    EXPECT_TRUE(ctx.Idle());
}

struct EntryCase {
    const char* name;
    ConfigEntry entry;
    Strings storeConfig;
    std::optional<std::pair<std::string, std::string>> record;  // valueA, valueB
};

class ConfigEntryDecode : public testing::TestWithParam<EntryCase> {};

TEST_P(ConfigEntryDecode, StoreConfigListAndRecord) {
    const EntryCase& c = GetParam();
    FakeContext ctx;
    ctx.Run(PageFunction::FUNC_GETCONFIG);
    ctx.Reply(ConfigReply({c.entry}));
    EXPECT_EQ(ctx.pageCalls, (Calls{VersionCall(), {"storeConfig", c.storeConfig, ARRAY}, DisplayCall()}));
    // The same read, typed: the reply's version and the page's list.
    ASSERT_EQ(ctx.results.size(), 1u);
    const auto* read = std::get_if<ConfigRead>(&ctx.results[0]);
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(read->firmwareVersion, VersionCall().args.at(1));
    EXPECT_EQ(read->parameters, std::vector<Strings>{c.storeConfig});
    if (c.record) {
        const ConfigParameter* record = FindParameter(ctx.state.parameters, c.entry.name);
        ASSERT_NE(record, nullptr);
        EXPECT_EQ(record->valueA, c.record->first);
        EXPECT_EQ(record->valueB, c.record->second);
    }
    EXPECT_EQ(ctx.completions, std::vector<int>{0});
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ConfigEntryDecode,
    testing::Values(
        EntryCase{"channelMask",
                  RawNumberEntry("channelMask", {0, 0, 0, 1}, {0x15, 0x55, 0x40, 0x00}),
                  {"4", "357908480"},
                  std::pair{"1", "357908480"}},
        EntryCase{"SwConfigOr",
                  RawNumberEntry("SwConfig", {0, 0, 0x10, 0}, {0, 0, 0, 1}),
                  {"3", "4097"},
                  std::pair{"4096", "4097"}},
        EntryCase{
            "TxPowerFold", RawNumberEntry("TxPower", {1, 2, 3, 4}, {0, 0, 0, 9}), {"0", "4660", "9"}, std::nullopt},
        EntryCase{"scanMaskNegative",
                  RawNumberEntry("scanMask", {0, 0, 0, 0}, {0xFF, 0xFF, 0xFF, 0xFF}),
                  {"6", "-1"},
                  std::pair{"0", "-1"}},
        EntryCase{"DiplexerMode", MakeNumberEntry("DiplexerMode", 0, 2), {"1", "2"}, std::pair{"0", "2"}},
        EntryCase{
            "admPswdText", MakeTextEntry("admPswd", "old", "admin", 8), {"2", "admin"}, std::pair{"old", "admin"}},
        EntryCase{"passwordFullWidth",
                  MakeTextEntry("password", "", "12345678901234567", 17),
                  {"5", "12345678901234567"},
                  std::pair{"", "12345678901234567"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(GetConfigOperation, UnknownEntryIsSkippedAndTheNextReadCorrectly) {
    FakeContext ctx;
    ctx.Run(PageFunction::FUNC_GETCONFIG);
    ctx.Reply(ConfigReply({MakeNumberEntry("Mystery", 7, 8), MakeNumberEntry("channelMask", 1, 2)}));
    EXPECT_EQ(ctx.pageCalls, (Calls{VersionCall(), {"storeConfig", {"4", "2"}, ARRAY}, DisplayCall()}));
    // Names are case-sensitive.
    FakeContext ctx2;
    ctx2.Run(PageFunction::FUNC_GETCONFIG);
    ctx2.Reply(ConfigReply({MakeNumberEntry("channelmask", 1, 2)}));
    EXPECT_EQ(ctx2.pageCalls, (Calls{VersionCall(), DisplayCall()}));
}

TEST(GetConfigOperation, OtherReplyTypeAsksAgainWithoutRestartingTheTimer) {
    FakeContext ctx;
    ctx.Run(PageFunction::FUNC_GETCONFIG);
    ctx.Advance(3000);
    ctx.Reply(Reply(REP_SET_CONFIG, 0));
    ASSERT_EQ(ctx.sent.size(), 2u);
    EXPECT_EQ(ctx.sent[1], BuildGetConfigRequest());
    EXPECT_EQ(ctx.timerStarts.size(), 1u);
    EXPECT_TRUE(ctx.pageCalls.empty());
    ctx.Reply(ConfigReply({}));
    EXPECT_EQ(ctx.completions, std::vector<int>{0});
}

TEST(GetConfigOperation, FailureReplyReportsOnlyTheVersionAndKeepsWaitingThenEndsSilently) {
    FakeContext ctx;
    ctx.Run(PageFunction::FUNC_GETCONFIG);
    ctx.Reply(ConfigReply({MakeNumberEntry("channelMask", 1, 2)}, /*status=*/3));
    EXPECT_EQ(ctx.pageCalls, (Calls{VersionCall()}));
    EXPECT_FALSE(ctx.Idle());
    EXPECT_EQ(ctx.sent.size(), 1u);
    ctx.Advance(5000);
    EXPECT_TRUE(ctx.Idle());
    EXPECT_TRUE(ctx.completions.empty());
    EXPECT_TRUE(ctx.messages.empty());
    EXPECT_EQ(ctx.pageCalls.size(), 1u);
}

TEST(GetConfigOperation, EntriesRunningPastTheReadAreAFailureReply) {
    FakeContext ctx;
    ctx.state.parameters[1].valueB = "77";  // channelMask before the read
    ctx.Run(PageFunction::FUNC_GETCONFIG);
    Bytes reply = ConfigReply({MakeNumberEntry("channelMask", 1, 2), MakeNumberEntry("scanMask", 3, 4)});
    reply.resize(reply.size() - 3);  // the second entry's valueB is cut short
    ctx.Reply(reply);
    EXPECT_EQ(ctx.pageCalls, (Calls{VersionCall()}));
    EXPECT_EQ(ctx.state.parameters[1].valueB, "77");
    EXPECT_FALSE(ctx.Idle());
    // A count larger than the entries present is the same.
    Bytes more = ConfigReply({MakeNumberEntry("channelMask", 1, 2)});
    more[7] = 200;
    ctx.Reply(more);
    EXPECT_EQ(ctx.pageCalls.size(), 2u);
    EXPECT_TRUE(ctx.completions.empty());
    ctx.Reply(Bytes{REP_CONFIG, 1, 2});  // not even a header: keep waiting, nothing reported
    EXPECT_EQ(ctx.pageCalls.size(), 2u);
    EXPECT_EQ(ctx.sent.size(), 1u);
}

// ---- Pending values

struct StoreCase {
    PageFunction function;
    const char* record;
};

class StoreValue : public testing::TestWithParam<StoreCase> {};

TEST_P(StoreValue, ArgsBecomeValueBWithoutTouchingTheDevice) {
    FakeContext ctx;
    OperationHandler* op = ctx.Run(GetParam().function, "42 text");
    EXPECT_EQ(FindParameter(ctx.state.parameters, GetParam().record)->valueB, "42 text");
    EXPECT_TRUE(ctx.sent.empty());
    EXPECT_TRUE(ctx.Idle());
    EXPECT_FALSE(op->IsRunning());
    EXPECT_TRUE(ctx.timerStarts.empty());
    EXPECT_TRUE(ctx.pageCalls.empty());
    EXPECT_TRUE(ctx.completions.empty());
}

INSTANTIATE_TEST_SUITE_P(Cases, StoreValue,
                         testing::Values(StoreCase{PageFunction::FUNC_SET_ADMIN_PSWD, "admPswd"},
                                         StoreCase{PageFunction::FUNC_SET_CHAN_MASK, "channelMask"},
                                         StoreCase{PageFunction::FUNC_SET_SWCONFIG, "SwConfig"},
                                         StoreCase{PageFunction::FUNC_SET_MOCA_PSWD, "password"},
                                         StoreCase{PageFunction::FUNC_SET_DIPLEXER_MODE, "DiplexerMode"},
                                         StoreCase{PageFunction::FUNC_SET_SCAN_MASK, "scanMask"}));

TEST(ConfigParameters, RecordsInWireOrderWithWidthsAndKinds) {
    const ConfigParameters records = MakeConfigParameters();
    const std::vector<std::tuple<std::string, int, bool>> expected = {
        {"admPswd", 8, true},   {"channelMask", 4, false}, {"scanMask", 4, false},
        {"SwConfig", 4, false}, {"password", 17, true},    {"DiplexerMode", 4, false}};
    for (size_t i = 0; i < records.size(); ++i) {
        EXPECT_EQ(std::tuple(records[i].name, int{records[i].width}, records[i].isText), expected[i]) << i;
        EXPECT_TRUE(records[i].valueA.empty() && records[i].valueB.empty());
    }
    EXPECT_EQ(ParameterIndex("TxPower"), 0u);
    EXPECT_EQ(ParameterIndex("scanMask"), 6u);
    EXPECT_EQ(ParameterIndex("scanmask"), std::nullopt);
}

// ---- Configuration write

// The entries of a REQ_SET_CONFIG, decoded by the device-side reader.
std::vector<ConfigEntry> SentEntries(const Bytes& request) {
    const Decoded<ConfigMessage> message = ReadSetConfigRequest(request);
    EXPECT_TRUE(message) << message.error;
    return message->entries;
}

TEST(SetConfigOperation, FreshRecordsGiveThe156ByteRequestOfZeros) {
    FakeContext ctx;
    ctx.Run(PageFunction::FUNC_SET_CONFIG);
    ASSERT_EQ(ctx.sent.size(), 1u);
    const Bytes& request = ctx.sent[0];
    EXPECT_EQ(request.size(), 156u);
    EXPECT_EQ(Bytes(request.begin(), request.begin() + 8), (Bytes{0x06, 0x00, 0x01, 0x02, 0x03, 0x00, 0x00, 0x06}));
    const auto entries = SentEntries(request);
    ASSERT_EQ(entries.size(), 6u);
    const char* names[] = {"admPswd", "channelMask", "scanMask", "SwConfig", "password", "DiplexerMode"};
    for (size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(entries[i].name, names[i]);
        EXPECT_EQ(entries[i].valueA, Bytes(entries[i].width, 0));
        EXPECT_EQ(entries[i].valueB, Bytes(entries[i].width, 0));
    }
    EXPECT_EQ(ctx.timerStarts, std::vector<uint32_t>{10000});
}

TEST(SetConfigOperation, StoredChannelMaskIsSentBigEndian) {
    FakeContext ctx;
    ctx.Run(PageFunction::FUNC_SET_CHAN_MASK, "1431650304");
    ctx.Run(PageFunction::FUNC_SET_CONFIG);
    const auto entries = SentEntries(ctx.sent.at(0));
    EXPECT_EQ(entries.at(1).name, "channelMask");
    EXPECT_EQ(entries.at(1).valueB, (Bytes{0x55, 0x55, 0x40, 0x00}));
}

TEST(SetConfigOperation, ReadValuesGoBackUnchangedAndNegativeScanMaskRoundTrips) {
    FakeContext ctx;
    ctx.Run(PageFunction::FUNC_GETCONFIG);
    ctx.Reply(ConfigReply({RawNumberEntry("scanMask", {0x80, 0, 0, 1}, {0xFF, 0xFF, 0xFF, 0xFF}),
                           MakeTextEntry("admPswd", "adm", "pw", 8),
                           RawNumberEntry("SwConfig", {0, 0, 0x10, 0}, {0, 0, 0, 1})}));
    ctx.Run(PageFunction::FUNC_SET_CONFIG);
    const auto entries = SentEntries(ctx.sent.at(1));
    EXPECT_EQ(entries[2].valueA, (Bytes{0x80, 0, 0, 1}));
    EXPECT_EQ(entries[2].valueB, (Bytes{0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(entries[0].valueA, EncodeText("adm", 8));
    EXPECT_EQ(entries[0].valueB, EncodeText("pw", 8));
    EXPECT_EQ(entries[3].valueB, (Bytes{0, 0, 0x10, 0x01}));  // the page saw A OR B, and that goes back
}

struct SetValueCase {
    const char* name;
    PageFunction function;
    std::string args;
    size_t entry;
    Bytes valueB;
};

class SetConfigValues : public testing::TestWithParam<SetValueCase> {};

TEST_P(SetConfigValues, PageTextToWireValue) {
    const SetValueCase& c = GetParam();
    FakeContext ctx;
    ctx.Run(c.function, c.args);
    ctx.Run(PageFunction::FUNC_SET_CONFIG);
    ASSERT_EQ(ctx.sent.size(), 1u);
    EXPECT_EQ(ctx.sent[0].size(), 156u);  // texts longer than their width are cut to it
    EXPECT_EQ(SentEntries(ctx.sent[0]).at(c.entry).valueB, c.valueB);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SetConfigValues,
    testing::Values(
        SetValueCase{"nonNumericIsZero", PageFunction::FUNC_SET_DIPLEXER_MODE, "abc", 5, Bytes{0, 0, 0, 0}},
        SetValueCase{"minusOne", PageFunction::FUNC_SET_SCAN_MASK, "-1", 2, Bytes{0xFF, 0xFF, 0xFF, 0xFF}},
        SetValueCase{"leadingBlanksAndJunk", PageFunction::FUNC_SET_SWCONFIG, "  +4097xyz", 3, Bytes{0, 0, 0x10, 0x01}},
        SetValueCase{"moduloTwoToThe32", PageFunction::FUNC_SET_CHAN_MASK, "4294967297", 1, Bytes{0, 0, 0, 1}},
        SetValueCase{"admPswdCutToEight", PageFunction::FUNC_SET_ADMIN_PSWD, "0123456789", 0,
                     EncodeText("01234567", 8)},
        SetValueCase{"passwordCutToSeventeen", PageFunction::FUNC_SET_MOCA_PSWD, std::string(30, 'p'), 4,
                     EncodeText(std::string(17, 'p'), 17)}),
    [](const auto& info) { return std::string(info.param.name); });

class SetConfigReply : public testing::TestWithParam<std::pair<Bytes, int>> {};

TEST_P(SetConfigReply, AcceptedRepSetConfigOnly) {
    FakeContext ctx;
    ctx.Run(PageFunction::FUNC_SET_CONFIG);
    ctx.Reply(GetParam().first);
    EXPECT_EQ(ctx.completions, std::vector<int>{GetParam().second});
    EXPECT_TRUE(ctx.Idle());
}

INSTANTIATE_TEST_SUITE_P(Cases, SetConfigReply,
                         testing::Values(std::pair{Reply(REP_SET_CONFIG, 0), 0}, std::pair{Reply(REP_SET_CONFIG, 1), 1},
                                         std::pair{Reply(REP_CONFIG, 0), 1}, std::pair{Bytes{REP_SET_CONFIG}, 1}));

TEST(SetConfigOperation, TimeoutCompletesWithOneAndKeepsTheRecords) {
    FakeContext ctx;
    ctx.Run(PageFunction::FUNC_SET_CHAN_MASK, "5");
    ctx.Run(PageFunction::FUNC_SET_CONFIG);
    ctx.Advance(10000);
    EXPECT_EQ(ctx.completions, std::vector<int>{1});
    EXPECT_EQ(ctx.state.parameters[1].valueB, "5");
}

// ---- Diagnostics

Bytes DiagReply(std::string_view first, std::string_view second, uint8_t status = 0) {
    return BuildDiagReply(DEVICE_VERSION, status, first, second);
}

TEST(DiagOperation, PollsAsFastAsTheDeviceAnswersForTenSecondsThenStopsSilently) {
    FakeContext ctx;
    ctx.Run(PageFunction::FUNC_GET_DIAG);
    EXPECT_EQ(ctx.sent.at(0), (Bytes{0x08, 0x00, 0x01, 0x02, 0x03, 0x00, 0x00, 0x00}));
    int answered = 0;
    while (!ctx.Idle() && answered < 100000) {
        ctx.Advance(20);  // the device takes 20 ms per answer
        if (ctx.Idle()) break;
        ASSERT_EQ(ctx.sent.size(), static_cast<size_t>(answered + 1));
        ctx.Reply(DiagReply("snr " + std::to_string(answered), "phy"));
        ++answered;
    }
    EXPECT_EQ(ctx.now, 10000u);
    EXPECT_EQ(answered, 499);  // answers at 20, 40, ... 9980 ms
    EXPECT_EQ(ctx.pageCalls.size(), 499u);
    EXPECT_EQ(ctx.pageCalls.back(), (PageCallRecord{"display_diag", {"snr 498", "phy", "extra", "12"}, ARRAY}));
    // Each reading typed as well.
    ASSERT_EQ(ctx.results.size(), 499u);
    EXPECT_EQ(ctx.results.back(), OperationResult(DiagnosticsRead{"snr 498", "phy"}));
    EXPECT_TRUE(ctx.completions.empty());
    EXPECT_EQ(ctx.timerStarts, std::vector<uint32_t>{10000});
}

class DiagFailure : public testing::TestWithParam<Bytes> {};

TEST_P(DiagFailure, CompletesWithOneAndNoDisplay) {
    FakeContext ctx;
    ctx.Run(PageFunction::FUNC_GET_DIAG);
    ctx.Reply(GetParam());
    EXPECT_TRUE(ctx.pageCalls.empty());
    EXPECT_EQ(ctx.completions, std::vector<int>{1});
    EXPECT_TRUE(ctx.Idle());
    EXPECT_EQ(ctx.sent.size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Cases, DiagFailure,
                         testing::Values(DiagReply("", "second"), DiagReply("first", "second", 1), Reply(REP_CONFIG),
                                         Reply(REP_DIAG)));  // a header-only REP_DIAG has an empty first text

TEST(DiagOperation, ShortReplyIsReadOnlyAsFarAsReceived) {
    FakeContext ctx;
    ctx.Run(PageFunction::FUNC_GET_DIAG);
    Bytes reply = DiagReply("abc", "xyz");
    reply.resize(11);  // header and "abc", nothing more
    ctx.Reply(reply);
    EXPECT_EQ(ctx.pageCalls, (Calls{{"display_diag", {"abc", "", "extra", "12"}, ARRAY}}));
    EXPECT_EQ(ctx.sent.size(), 2u);
}

void PrintTo(const StoreCase& c, std::ostream* os) { *os << FunctionNumber(c.function) << " " << c.record; }

}  // namespace
}  // namespace kbr::test

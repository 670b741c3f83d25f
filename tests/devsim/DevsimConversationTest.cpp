// Conversations with the simulator as the configuration program holds them.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <thread>

#include "testkit/DevsimHarness.h"
#include "devtools/devsim/DeviceModel.h"

namespace kbr::devsim::test {
namespace {

std::vector<ConfigEntry> SetEntries(const DeviceSettings& s) {
    // As the program writes them: its six records in order, valueA = as read, valueB = pending.
    return {
        MakeTextEntry("admPswd", "admin", s.admPswd, 8),
        MakeNumberEntry("channelMask", 0x15554000, s.channelMask),
        MakeNumberEntry("scanMask", 0x15554000, s.scanMask),
        MakeNumberEntry("SwConfig", 0, s.swConfig),
        MakeTextEntry("password", "40527163948205716", s.password, 17),
        MakeNumberEntry("DiplexerMode", 0, s.diplexerMode),
    };
}

const ConfigEntry* FindEntry(const ConfigMessage& reply, std::string_view name) {
    for (const auto& entry : reply.entries) {
        if (entry.name == name) return &entry;
    }
    return nullptr;
}

class DevsimConversation : public ::testing::Test {
protected:
    // Starts the device and connects; the connection logs in, as the configuration program's
    // does, unless the test is about what comes before a login.
    void StartDevice(const std::vector<std::string>& args = {}, bool logIn = true) {
        std::string error;
        ASSERT_TRUE(device_.Start(args, &error)) << error;
        ASSERT_TRUE(client_.Connect(device_.Port()));
        if (!logIn) return;
        const auto password = std::find(args.begin(), args.end(), "--password");
        ASSERT_TRUE(client_.LogIn(password != args.end() && password + 1 != args.end() ? *(password + 1) : "admin"));
    }

    DevsimProcess device_;
    Client client_;
};

TEST_F(DevsimConversation, FirstLineNamesTheRealPort) {
    StartDevice();
    EXPECT_TRUE(std::regex_match(device_.FirstLine(), std::regex("listening on 127\\.0\\.0\\.1:[0-9]+")))
        << device_.FirstLine();
    EXPECT_NE(device_.Port(), 0);
}

struct LoginCase {
    const char* name;
    std::string devicePassword;
    std::string typed;
    uint8_t expectedStatus;
};

void PrintTo(const LoginCase& c, std::ostream* os) { *os << '"' << c.name << '"'; }

class DevsimLogin : public DevsimConversation, public ::testing::WithParamInterface<LoginCase> {};

TEST_P(DevsimLogin, StatusZeroOnlyForTheRightPassword) {
    const LoginCase& c = GetParam();
    StartDevice({"--password", c.devicePassword, "--firmware-version", "4.3.2.1"});
    const Bytes reply = client_.Exchange(BuildLoginRequest(c.typed));
    ASSERT_EQ(reply.size(), 8u);
    const MessageHeader header = HeaderOf(reply);
    EXPECT_EQ(header.type, REP_ACTION);
    EXPECT_EQ(header.status, c.expectedStatus);
    EXPECT_EQ(header.version, (std::array<uint8_t, 4>{4, 3, 2, 1}));
}

INSTANTIATE_TEST_SUITE_P(Passwords, DevsimLogin,
                         ::testing::Values(LoginCase{"Right", "admin", "admin", 0},
                                           LoginCase{"Wrong", "admin", "admim", 1}, LoginCase{"Empty", "admin", "", 1},
                                           LoginCase{"Prefix", "admin", "adm", 1},
                                           LoginCase{"Longer", "abc", "abcd", 1},
                                           LoginCase{"ThreeCharacters", "abc", "abc", 0},
                                           LoginCase{"EmptyDevicePassword", "", "", 0},
                                           LoginCase{"TenTypedEightKept", "abcdefgh", "abcdefghij", 0}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(DevsimConversation, ConfigurationCarriesTxPowerAndTheSixSettableParameters) {
    StartDevice({"--firmware-version", "1.2.3.4", "--password", "pw1234"});
    const Bytes reply = client_.Exchange(BuildGetConfigRequest());
    const Decoded<ConfigMessage> config = ReadConfigReply(reply);
    ASSERT_TRUE(config.Ok()) << config.error;
    EXPECT_EQ(config->header.type, REP_CONFIG);
    EXPECT_EQ(config->header.status, 0);
    EXPECT_EQ(VersionText(config->header.version), "1.2.3.4");
    EXPECT_EQ(config->header.param, 7);
    EXPECT_EQ(reply.size(), config.length) << "the header and its entries, nothing more";

    const struct {
        const char* name;
        uint8_t width;
    } expected[] = {{"TxPower", 4},     {"DiplexerMode", 4}, {"admPswd", 8}, {"SwConfig", 4},
                    {"channelMask", 4}, {"password", 17},    {"scanMask", 4}};
    for (const auto& e : expected) {
        const ConfigEntry* entry = FindEntry(*config, e.name);
        ASSERT_NE(entry, nullptr) << e.name;
        EXPECT_EQ(entry->width, e.width) << e.name;
    }
    EXPECT_EQ(DecodeText(FindEntry(*config, "admPswd")->valueB), "pw1234");
    EXPECT_EQ(DecodeNumber(FindEntry(*config, "channelMask")->valueB), 0x15554000u);
    // TxPower's folded first value is 0, which the pages take for TxPower's own key.
    EXPECT_EQ(FindEntry(*config, "TxPower")->valueA, (std::vector<uint8_t>{0, 0, 0, 0}));
}

TEST_F(DevsimConversation, SetConfigurationStoresValueBOfEachEntry) {
    StartDevice({"--password", "admin"});
    DeviceSettings wanted;
    wanted.admPswd = "n3wpass";
    wanted.channelMask = 1431650304;  // 0x55554000
    wanted.scanMask = 0xFFFFFFFF;     // the page's -1
    wanted.swConfig = 0x1000;
    wanted.password = "12345678901234567";
    wanted.diplexerMode = 1;
    const Bytes request = BuildSetConfigRequest(SetEntries(wanted));
    ASSERT_EQ(request.size(), 156u);
    const Bytes reply = client_.Exchange(request);
    ASSERT_EQ(reply.size(), 8u);
    EXPECT_EQ(HeaderOf(reply).type, REP_SET_CONFIG);
    EXPECT_EQ(HeaderOf(reply).status, 0);

    const Decoded<ConfigMessage> config = ReadConfigReply(client_.Exchange(BuildGetConfigRequest()));
    ASSERT_TRUE(config.Ok()) << config.error;
    EXPECT_EQ(DecodeText(FindEntry(*config, "admPswd")->valueB), "n3wpass");
    EXPECT_EQ(FindEntry(*config, "channelMask")->valueB, (std::vector<uint8_t>{0x55, 0x55, 0x40, 0x00}));
    EXPECT_EQ(FindEntry(*config, "scanMask")->valueB, (std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(DecodeNumber(FindEntry(*config, "SwConfig")->valueA) |
                  DecodeNumber(FindEntry(*config, "SwConfig")->valueB),
              0x1000u);
    EXPECT_EQ(DecodeText(FindEntry(*config, "password")->valueB), "12345678901234567");
    EXPECT_EQ(DecodeNumber(FindEntry(*config, "DiplexerMode")->valueB), 1u);

    // The administrator password is the login password.
    EXPECT_EQ(HeaderOf(client_.Exchange(BuildLoginRequest("n3wpass"))).status, 0);
    EXPECT_EQ(HeaderOf(client_.Exchange(BuildLoginRequest("admin"))).status, 1);
}

// Requests that change the device need a login on their own connection first: before one (or
// after a refused one) each gets its reply type with status 1, nothing is done and standard error
// says why; after it they are served. --no-login-check serves them at once.
struct LoginRuleCase {
    const char* name;
    std::vector<Bytes> requests;  // in order; each answered with status 0 once served
    std::vector<uint8_t> replyTypes;
};

void PrintTo(const LoginRuleCase& c, std::ostream* os) { *os << '"' << c.name << '"'; }

class DevsimLoginRule : public DevsimConversation, public ::testing::WithParamInterface<LoginRuleCase> {
protected:
    // The replies' (type, status) for the case's requests, on client_.
    std::vector<std::pair<uint8_t, uint8_t>> Send() {
        std::vector<std::pair<uint8_t, uint8_t>> out;
        for (const Bytes& request : GetParam().requests) {
            const MessageHeader header = HeaderOf(client_.Exchange(request));
            out.emplace_back(header.type, header.status);
        }
        return out;
    }
    std::vector<std::pair<uint8_t, uint8_t>> Expected(uint8_t status) const {
        std::vector<std::pair<uint8_t, uint8_t>> out;
        for (const uint8_t type : GetParam().replyTypes) out.emplace_back(type, status);
        return out;
    }
    uint32_t ChannelMask() {
        const Decoded<ConfigMessage> config = ReadConfigReply(client_.Exchange(BuildGetConfigRequest()));
        return config ? DecodeNumber(FindEntry(*config, "channelMask")->valueB) : 0;
    }
};

TEST_P(DevsimLoginRule, RefusedBeforeALoginOnTheConnectionServedAfter) {
    ScratchDir dir;
    StartDevice({"--dump-dir", dir.Path(), "--reboot-time", "0"}, false);
    EXPECT_EQ(Send(), Expected(1));
    EXPECT_TRUE(device_.WaitForStderr("before a successful login on this connection; refused")) << device_.Stderr();
    ASSERT_FALSE(client_.LogIn("wrong"));
    EXPECT_EQ(Send(), Expected(1));
    // Nothing was done: the settings, no section received, no reboot (the connection still answers).
    EXPECT_EQ(ChannelMask(), 0x15554000u);
    EXPECT_FALSE(ReadWholeFile(dir.File("section1.bin")).has_value());

    // A login on another connection opens nothing here.
    Client other;
    ASSERT_TRUE(other.Connect(device_.Port()));
    ASSERT_TRUE(other.LogIn());
    EXPECT_EQ(Send(), Expected(1));

    ASSERT_TRUE(client_.LogIn());
    EXPECT_EQ(Send(), Expected(0));
}

TEST_P(DevsimLoginRule, ServedWithoutALoginWhenTheCheckIsOff) {
    StartDevice({"--no-login-check", "--reboot-time", "0"}, false);
    EXPECT_EQ(Send(), Expected(0));
}

const Bytes ONE_CHUNK_SECTION = MakeSection(100, {{"prod_id", "KBR3300"}}, 11);
const std::vector<ConfigEntry> CHANNEL_21 = {MakeNumberEntry("channelMask", 0x15554000, 0x100000)};

INSTANTIATE_TEST_SUITE_P(
    Requests, DevsimLoginRule,
    ::testing::Values(LoginRuleCase{"SetConfig", {BuildSetConfigRequest(CHANNEL_21)}, {REP_SET_CONFIG}},
                      LoginRuleCase{"Upgrade",
                                    {BuildUpgradeStartRequest(), BuildUpgradeDataRequest(0, 0, 100, ONE_CHUNK_SECTION)},
                                    {REP_UPGRADE_START, REP_UPGRADE_END}},
                      LoginRuleCase{"Action", {BuildActionRequest()}, {REP_ACTION}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DevsimConversation, SetConfigurationWithAWrongWidthChangesNothing) {
    StartDevice();
    std::vector<ConfigEntry> entries = SetEntries(DeviceSettings{});
    entries[1] = MakeNumberEntry("channelMask", 0, 0x12345678);
    entries[4] = MakeTextEntry("password", "", "123", 8);  // 8 instead of 17
    const Bytes reply = client_.Exchange(BuildSetConfigRequest(entries));
    EXPECT_EQ(HeaderOf(reply).type, REP_SET_CONFIG);
    EXPECT_EQ(HeaderOf(reply).status, 1);
    EXPECT_TRUE(device_.WaitForStderr("parameter password has width 8, expected 17"));
    const Decoded<ConfigMessage> config = ReadConfigReply(client_.Exchange(BuildGetConfigRequest()));
    EXPECT_EQ(DecodeNumber(FindEntry(*config, "channelMask")->valueB), 0x15554000u);
}

struct ValueCase {
    const char* name;
    std::string key;
    uint8_t expectedStatus;
    std::string expectedText;
};

void PrintTo(const ValueCase& c, std::ostream* os) { *os << '"' << c.name << '"'; }

class DevsimValue : public DevsimConversation, public ::testing::WithParamInterface<ValueCase> {};

TEST_P(DevsimValue, AnswersTheKnownKeys) {
    const ValueCase& c = GetParam();
    // A 3-character product id would make a 16-byte reply, which the program never receives.
    StartDevice({"--product-id", "abc", "--firmware-version", "2.0.1.7"});
    const Bytes request = BuildGetValueRequest(c.key);
    const Bytes reply = client_.Exchange(request);
    EXPECT_NE(reply.size(), 16u);
    EXPECT_EQ(HeaderOf(reply).type, REP_VALUE);
    EXPECT_EQ(HeaderOf(reply).status, c.expectedStatus);
    if (c.expectedStatus == 0) {
        EXPECT_EQ(ValueText(reply), c.expectedText);
    } else {
        EXPECT_TRUE(device_.WaitForStderr("unknown key"));
    }
}

INSTANTIATE_TEST_SUITE_P(Keys, DevsimValue,
                         ::testing::Values(ValueCase{"ProductId", "c:prod_id", 0, "abc"},
                                           ValueCase{"FirmwareVersion", "a:version", 0, "2.0.1.7"},
                                           ValueCase{"UnknownKey", "c:serial", 1, ""},
                                           ValueCase{"EmptyKey", "", 1, ""}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(DevsimConversation, DiagnosticsTextsChangeFromPollToPoll) {
    StartDevice();
    const auto first = ReadDiagReply(client_.Exchange(BuildGetDiagRequest()));
    const Bytes secondReply = client_.Exchange(BuildGetDiagRequest());
    const auto second = ReadDiagReply(secondReply);
    ASSERT_TRUE(first && second);
    EXPECT_EQ(secondReply.size(), DIAG_REPLY_SIZE);
    EXPECT_FALSE(first->first.empty());  // an empty first text would end the page's polling
    EXPECT_FALSE(first->second.empty());
    EXPECT_NE(first->first, second->first);
}

TEST_F(DevsimConversation, TwoSectionUpgradeIsKeptByteForByte) {
    ScratchDir dir;
    StartDevice({"--dump-dir", dir.Path()});
    const Bytes section1 = MakeSection(513, {{"prod_id", "KBR3300"}, {"a:version", "2.0.0.0"}}, 1);
    const Bytes section2 = MakeSection(100, {{"prod_id", "KBR3300"}, {"version", "2.0.0.0"}}, 2);

    EXPECT_EQ(UploadSection(client_, section1),
              (std::vector<uint8_t>{REP_UPGRADE_START, REP_UPGRADE_DATA, REP_UPGRADE_DATA, REP_UPGRADE_END}));
    EXPECT_EQ(ReadWholeFile(dir.File("section1.bin")), section1);
    EXPECT_EQ(UploadSection(client_, section2), (std::vector<uint8_t>{REP_UPGRADE_START, REP_UPGRADE_END}));
    EXPECT_EQ(ReadWholeFile(dir.File("section1.bin")), section1);
    EXPECT_EQ(ReadWholeFile(dir.File("section2.bin")), section2);

    // A start after both sections begins a new image.
    const Bytes next = MakeSection(512, {{"prod_id", "KBR3300"}}, 3);
    EXPECT_EQ(UploadSection(client_, next),
              (std::vector<uint8_t>{REP_UPGRADE_START, REP_UPGRADE_DATA, REP_UPGRADE_END}));
    EXPECT_EQ(ReadWholeFile(dir.File("section1.bin")), next);
    EXPECT_FALSE(ReadWholeFile(dir.File("section2.bin")).has_value());
}

TEST_F(DevsimConversation, RestartedPassBeginsItsSectionAgain) {
    ScratchDir dir;
    StartDevice({"--dump-dir", dir.Path()});
    const Bytes section1 = MakeSection(700, {{"prod_id", "KBR3300"}}, 4);
    // Pass 1 sends two chunks, then starts over (as after a rejected acknowledgement).
    ASSERT_EQ(HeaderOf(client_.Exchange(BuildUpgradeStartRequest())).status, 0);
    ASSERT_EQ(HeaderOf(client_.Exchange(BuildUpgradeDataRequest(2, 0, 256, section1))).status, 0);
    ASSERT_EQ(HeaderOf(client_.Exchange(
                           BuildUpgradeDataRequest(1, 256, 256, std::span<const uint8_t>(section1).subspan(256))))
                  .status,
              0);
    EXPECT_EQ(UploadSection(client_, section1).back(), REP_UPGRADE_END);
    EXPECT_EQ(ReadWholeFile(dir.File("section1.bin")), section1);
    EXPECT_FALSE(ReadWholeFile(dir.File("section2.bin")).has_value());
}

struct Chunk {
    uint32_t remaining;
    uint32_t offset;
    uint32_t size;
};

struct ChunkCase {
    const char* name;
    bool start;                 // send REQ_UPGRADE_START first
    std::vector<Chunk> chunks;  // all accepted but the last
    std::string complaint;      // on standard error
};

void PrintTo(const ChunkCase& c, std::ostream* os) { *os << '"' << c.name << '"'; }

class DevsimChunkCheck : public DevsimConversation, public ::testing::WithParamInterface<ChunkCase> {};

TEST_P(DevsimChunkCheck, WrongChunkGetsStatusOneUntilTheNextStart) {
    const ChunkCase& c = GetParam();
    StartDevice();
    const Bytes data(256, 0xA5);
    if (c.start) {
        ASSERT_EQ(HeaderOf(client_.Exchange(BuildUpgradeStartRequest())).status, 0);
    }
    for (size_t i = 0; i < c.chunks.size(); ++i) {
        const Chunk& chunk = c.chunks[i];
        const Bytes reply = client_.Exchange(BuildUpgradeDataRequest(chunk.remaining, chunk.offset, chunk.size, data));
        const bool last = i + 1 == c.chunks.size();
        EXPECT_EQ(HeaderOf(reply).status, last ? 1 : 0) << "chunk " << i;
        EXPECT_EQ(HeaderOf(reply).type, chunk.remaining == 0 ? REP_UPGRADE_END : REP_UPGRADE_DATA) << "chunk " << i;
    }
    EXPECT_TRUE(device_.WaitForStderr(c.complaint)) << device_.Stderr();
    // Nothing more is taken until the section starts again; then a whole section goes through.
    EXPECT_EQ(HeaderOf(client_.Exchange(BuildUpgradeDataRequest(0, 0, 10, data))).status, 1);
    const Bytes section = MakeSection(300, {{"prod_id", "KBR3300"}}, 5);
    EXPECT_EQ(UploadSection(client_, section),
              (std::vector<uint8_t>{REP_UPGRADE_START, REP_UPGRADE_DATA, REP_UPGRADE_END}));
}

INSTANTIATE_TEST_SUITE_P(
    Chunks, DevsimChunkCheck,
    ::testing::Values(ChunkCase{"WithoutStart", false, {{0, 0, 10}}, "no REQ_UPGRADE_START"},
                      ChunkCase{"FirstOffsetNotZero", true, {{1, 256, 256}}, "has offset 256, expected 0"},
                      ChunkCase{"OffsetSkipsAChunk", true, {{2, 0, 256}, {1, 512, 256}}, "expected 256"},
                      ChunkCase{"RemainingDoesNotCountDown", true, {{2, 0, 256}, {2, 256, 256}}, "expected 1"},
                      ChunkCase{"ShortChunkBeforeTheLast", true, {{1, 0, 100}}, "expected 256 before the last"},
                      ChunkCase{"EmptyLastChunk", true, {{1, 0, 256}, {0, 256, 0}}, "has size 0"},
                      ChunkCase{"SizeOverTheChunk", true, {{0, 0, 257}}, "exceeds 256"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DevsimConversation, ChunkOffsetWrapsAt16Bits) {
    // Chunk index 299 carries offset bytes 0x2B 0x00 (299 * 256 modulo 65536).
    StartDevice();
    const Bytes section = MakeSection(300 * 256, {{"prod_id", "KBR3300"}}, 6);
    const auto types = UploadSection(client_, section);
    ASSERT_EQ(types.size(), 301u);
    EXPECT_EQ(types.back(), REP_UPGRADE_END);
}

// The page set's Reboot (function 10): acknowledged, then the device restarts: every connection
// ends, new ones are refused for the reboot time, and then it serves again.
TEST_F(DevsimConversation, RebootDropsConnectionsAndComesBackAfterTheRebootTime) {
    StartDevice({"--reboot-time", "1000"});
    Client other;
    ASSERT_TRUE(other.Connect(device_.Port()));
    ASSERT_EQ(HeaderOf(other.Exchange(BuildGetDiagRequest())).type, REP_DIAG);

    const Bytes reply = client_.Exchange(BuildActionRequest());
    ASSERT_EQ(reply.size(), 8u);
    EXPECT_EQ(HeaderOf(reply).type, REP_ACTION);
    EXPECT_EQ(HeaderOf(reply).status, 0);
    EXPECT_EQ(client_.Receive(), Bytes{}) << "expected the connection closed";
    EXPECT_EQ(other.Receive(), Bytes{}) << "expected every connection closed";
    const auto refusedFrom = std::chrono::steady_clock::now();
    Client probe;
    EXPECT_FALSE(probe.Connect(device_.Port()));

    Client again;
    ASSERT_TRUE(again.ConnectWithin(device_.Port()));
    EXPECT_GE(std::chrono::steady_clock::now() - refusedFrom, 500ms);
    EXPECT_EQ(HeaderOf(again.Exchange(BuildLoginRequest("admin"))).status, 0);
    // The diagnostics count from the new boot.
    const auto diag = ReadDiagReply(again.Exchange(BuildGetDiagRequest()));
    ASSERT_TRUE(diag) << diag.error;
    EXPECT_NE(diag->first.find("Boot: 2 | Poll: 1 "), std::string::npos) << diag->first;
}

TEST_F(DevsimConversation, RebootInstallsACompleteImage) {
    StartDevice({"--firmware-version", "1.0.0.0", "--reboot-time", "0"});
    auto reboot = [&] {
        EXPECT_EQ(HeaderOf(client_.Exchange(BuildActionRequest())).status, 0);
        // Once the connection has ended the old listening socket is gone too.
        EXPECT_EQ(client_.Receive(), Bytes{});
        EXPECT_TRUE(client_.ConnectWithin(device_.Port()));
        EXPECT_TRUE(client_.LogIn());  // a new connection logs in again
    };
    // Without a new image a reboot keeps the firmware.
    reboot();
    EXPECT_EQ(ValueText(client_.Exchange(BuildGetValueRequest(KEY_FIRMWARE_VERSION))), "1.0.0.0");

    ASSERT_EQ(UploadSection(client_, MakeSection(400, {{"prod_id", "KBR3300"}, {"a:version", "2.5.0.1"}}, 7)).back(),
              REP_UPGRADE_END);
    ASSERT_EQ(UploadSection(client_, MakeSection(300, {{"prod_id", "KBR3300"}, {"version", "2.5.0.1"}}, 8)).back(),
              REP_UPGRADE_END);
    // Received but not yet running.
    EXPECT_EQ(ValueText(client_.Exchange(BuildGetValueRequest(KEY_FIRMWARE_VERSION))), "1.0.0.0");
    reboot();
    const Bytes reply = client_.Exchange(BuildGetValueRequest(KEY_FIRMWARE_VERSION));
    EXPECT_EQ(ValueText(reply), "2.5.0.1");
    EXPECT_EQ(HeaderOf(reply).version, (std::array<uint8_t, 4>{2, 5, 0, 1}));
}

TEST_F(DevsimConversation, RebootKeepsTheFirmwareWhenTheImageIsCorrupt) {
    StartDevice({"--firmware-version", "1.0.0.0", "--verbose", "--reboot-time", "0"});
    Bytes section2 = MakeSection(300, {{"prod_id", "KBR3300"}, {"version", "9.9.9.9"}}, 9);
    section2[200] ^= 0x01;
    ASSERT_EQ(UploadSection(client_, MakeSection(300, {{"prod_id", "KBR3300"}}, 10)).back(), REP_UPGRADE_END);
    ASSERT_EQ(UploadSection(client_, section2).back(), REP_UPGRADE_END);
    EXPECT_EQ(HeaderOf(client_.Exchange(BuildActionRequest())).status, 0);
    EXPECT_TRUE(device_.WaitForStderr("fails its CRC"));
    EXPECT_EQ(client_.Receive(), Bytes{});
    ASSERT_TRUE(client_.ConnectWithin(device_.Port()));
    EXPECT_EQ(ValueText(client_.Exchange(BuildGetValueRequest(KEY_FIRMWARE_VERSION))), "1.0.0.0");
}

TEST_F(DevsimConversation, BareProbesComeAndGoWhileTheConfigurationConnectionStays) {
    StartDevice();
    ASSERT_EQ(HeaderOf(client_.Exchange(BuildLoginRequest("admin"))).status, 0);
    std::vector<std::thread> probers;
    probers.reserve(4);
    for (int t = 0; t < 4; ++t) {
        probers.emplace_back([port = device_.Port()] {
            for (int i = 0; i < 25; ++i) {
                Client probe;
                EXPECT_TRUE(probe.Connect(port));
            }
        });
    }
    for (auto& prober : probers) prober.join();
    // A second configuration connection works side by side with the first.
    Client other;
    ASSERT_TRUE(other.Connect(device_.Port()));
    EXPECT_EQ(HeaderOf(other.Exchange(BuildGetConfigRequest())).type, REP_CONFIG);
    EXPECT_EQ(HeaderOf(client_.Exchange(BuildGetConfigRequest())).type, REP_CONFIG);
    EXPECT_EQ(ValueText(client_.Exchange(BuildGetValueRequest(KEY_PRODUCT_ID))), "KBR3300");
}

TEST_F(DevsimConversation, UnreadStandardErrorNeverStallsTheDevice) {
    // Thousands of logged lines while nobody reads the simulator's standard error: the pipe fills
    // up, and every request is still answered.
    StartDevice({"--verbose"});
    const Bytes request = BuildGetValueRequest("no:such:key");
    for (int i = 0; i < 3000; ++i) {
        ASSERT_EQ(HeaderOf(client_.Exchange(request)).status, 1) << "request " << i;
    }
    ASSERT_FALSE(device_.Stderr().empty());  // drains the pipe
    // The count goes out with the first line written once there is room again. Where the writer
    // still holds a full buffer when the pipe drains (Windows), that is one of the next lines.
    bool reported = false;
    for (int i = 0; i < 50 && !reported; ++i) {
        ASSERT_EQ(HeaderOf(client_.Exchange(request)).status, 1) << "request after the drain " << i;
        reported = device_.WaitForStderr("lines dropped: standard error was not read", 200ms);
    }
    EXPECT_TRUE(reported) << device_.Stderr();
}

struct BadRequestCase {
    const char* name;
    Bytes request;
    std::optional<uint8_t> replyType;  // a reply of this type, or no reply
    std::string complaint;
    uint8_t status = 1;  // of the reply
};

void PrintTo(const BadRequestCase& c, std::ostream* os) { *os << '"' << c.name << '"'; }

Bytes Truncated(Bytes bytes, size_t size) {
    bytes.resize(size);
    return bytes;
}

class DevsimBadRequest : public DevsimConversation, public ::testing::WithParamInterface<BadRequestCase> {};

TEST_P(DevsimBadRequest, OneLineOnStandardErrorAndServingGoesOn) {
    const BadRequestCase& c = GetParam();
    StartDevice();
    ASSERT_TRUE(client_.Send(c.request));
    ASSERT_TRUE(device_.WaitForStderr(c.complaint)) << device_.Stderr();
    if (c.replyType) {
        const auto reply = client_.Receive();
        ASSERT_TRUE(reply.has_value());
        EXPECT_EQ(HeaderOf(*reply).type, *c.replyType);
        EXPECT_EQ(HeaderOf(*reply).status, c.status);
    }
    // The same connection is still served, and nothing else was sent in between.
    EXPECT_EQ(ValueText(client_.Exchange(BuildGetValueRequest(KEY_PRODUCT_ID))), "KBR3300");
    EXPECT_EQ(std::count(device_.Stderr().begin(), device_.Stderr().end(), '\n'), 1) << device_.Stderr();
}

INSTANTIATE_TEST_SUITE_P(
    Requests, DevsimBadRequest,
    ::testing::Values(
        BadRequestCase{"UnknownType", {0x63, 0, 1, 2, 3, 0, 0, 0}, std::nullopt, "unknown request type 99"},
        BadRequestCase{"ReplyTypeSentToTheDevice", {REP_CONFIG, 0, 1, 2, 3, 0, 0, 0}, std::nullopt, "is a reply"},
        BadRequestCase{"TruncatedHeader", {REQ_GET_CONFIG, 0, 1}, REP_CONFIG, "truncated: 3 of 8 bytes"},
        BadRequestCase{"TruncatedLogin", Truncated(BuildLoginRequest("admin"), 12), REP_ACTION, "bad REQ_LOGIN"},
        BadRequestCase{"LoginFieldLongerThanSent", {0, 0, 1, 2, 3, 0, 0, 1, 200, 'a'}, REP_ACTION, "bad REQ_LOGIN"},
        BadRequestCase{"TruncatedChunk", Truncated(BuildUpgradeDataRequest(3, 0, 256, Bytes(256, 1)), 100),
                       REP_UPGRADE_DATA, "bad REQ_UPGRADE_DATA"},
        BadRequestCase{"TruncatedStart", Truncated(BuildUpgradeStartRequest(), 8), REP_UPGRADE_START,
                       "truncated: 8 of 13"},
        BadRequestCase{"KeyWithoutItsZero", Truncated(BuildGetValueRequest("c:prod_id"), 17), REP_VALUE,
                       "bad REQ_GET_VALUE"},
        BadRequestCase{"EntryPastTheEnd", Truncated(BuildSetConfigRequest(SetEntries(DeviceSettings{})), 100),
                       REP_SET_CONFIG, "entry"},
        BadRequestCase{
            "CountPastTheEntries", {REQ_SET_CONFIG, 0, 1, 2, 3, 0, 0, 200}, REP_SET_CONFIG, "entry 1 of 200"},
        BadRequestCase{"LongerThanAnyRequest", Bytes(3000, REQ_GET_CONFIG), std::nullopt, "longer than any request"},
        BadRequestCase{"TrailingBytes", {REQ_GET_DIAG, 0, 1, 2, 3, 0, 0, 0, 9, 9}, REP_DIAG, "2 trailing bytes", 0}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kbr::devsim::test

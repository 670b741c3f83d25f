// Injected faults: the N-th request of a type on a connection gets the fault instead of its answer.
#include <gtest/gtest.h>

#include "testkit/DevsimHarness.h"

namespace kbr::devsim::test {
namespace {

struct FaultCase {
    const char* action;
    // What the faulted request gets: a reply of this type and status and size, no reply, or a
    // closed connection.
    enum class Kind { Reply, Silent, Close } kind;
    uint8_t type = 0;
    uint8_t status = 0;
    size_t size = 8;
};

void PrintTo(const FaultCase& c, std::ostream* os) { *os << '"' << c.action << '"'; }

class DevsimFault : public ::testing::TestWithParam<FaultCase> {};

// The second value read on each connection is faulted; the first and third are answered.
TEST_P(DevsimFault, SecondValueReadOfEachConnection) {
    const FaultCase& c = GetParam();
    DevsimProcess device;
    std::string error;
    ASSERT_TRUE(device.Start({"--fault", std::string("64:2:") + c.action}, &error)) << error;

    for (int connection = 0; connection < 2; ++connection) {
        Client client;
        ASSERT_TRUE(client.Connect(device.Port()));
        EXPECT_EQ(ValueText(client.Exchange(BuildGetValueRequest(KEY_PRODUCT_ID))), "KBR3300");
        // Other request types are counted apart.
        EXPECT_EQ(HeaderOf(client.Exchange(BuildLoginRequest("admin"))).status, 0);

        ASSERT_TRUE(client.Send(BuildGetValueRequest(KEY_FIRMWARE_VERSION)));
        switch (c.kind) {
            case FaultCase::Kind::Reply: {
                const auto reply = client.Receive();
                ASSERT_TRUE(reply.has_value());
                EXPECT_EQ(reply->size(), c.size);
                EXPECT_EQ(HeaderOf(*reply).type, c.type);
                EXPECT_EQ(HeaderOf(*reply).status, c.status);
                break;
            }
            case FaultCase::Kind::Silent: break;  // the next reply read below must be the third request's
            case FaultCase::Kind::Close: {
                const auto reply = client.Receive();
                ASSERT_TRUE(reply.has_value());
                EXPECT_TRUE(reply->empty()) << "expected the connection closed";
                continue;  // the next connection counts from 1 again
            }
        }
        const Bytes third = client.Exchange(BuildGetValueRequest(KEY_PRODUCT_ID));
        EXPECT_EQ(ValueText(third), "KBR3300");
    }
    // The simulator is still there for new connections.
    Client last;
    ASSERT_TRUE(last.Connect(device.Port()));
    EXPECT_EQ(ValueText(last.Exchange(BuildGetValueRequest(KEY_PRODUCT_ID))), "KBR3300");
}

INSTANTIATE_TEST_SUITE_P(Actions, DevsimFault,
                         ::testing::Values(FaultCase{"status", FaultCase::Kind::Reply, REP_VALUE, 1, 8},
                                           FaultCase{"wrong-type", FaultCase::Kind::Reply, REP_SET_CONFIG, 0, 8},
                                           FaultCase{"short16", FaultCase::Kind::Reply, REP_VALUE, 0, 16},
                                           FaultCase{"silent", FaultCase::Kind::Silent},
                                           FaultCase{"close", FaultCase::Kind::Close}),
                         [](const auto& info) {
                             std::string name = info.param.action;
                             std::erase(name, '-');
                             return name;
                         });

TEST(DevsimFaults, FaultedRequestIsNotCarriedOut) {
    DevsimProcess device;
    std::string error;
    ASSERT_TRUE(device.Start({"--fault", "6:1:status", "--fault", "6:2:short16"}, &error)) << error;
    Client client;
    ASSERT_TRUE(client.Connect(device.Port()));
    ASSERT_TRUE(client.LogIn());
    const std::vector<ConfigEntry> entries = {MakeNumberEntry("channelMask", 0, 0x0000FFFF)};
    EXPECT_EQ(HeaderOf(client.Exchange(BuildSetConfigRequest(entries))).status, 1);
    EXPECT_EQ(client.Exchange(BuildSetConfigRequest(entries)).size(), 16u);
    Decoded<ConfigMessage> config = ReadConfigReply(client.Exchange(BuildGetConfigRequest()));
    ASSERT_TRUE(config.Ok());
    for (const auto& entry : config->entries) {
        if (entry.name == "channelMask") {
            EXPECT_EQ(DecodeNumber(entry.valueB), 0x15554000u);
        }
    }
    EXPECT_EQ(HeaderOf(client.Exchange(BuildSetConfigRequest(entries))).status, 0);
    config = ReadConfigReply(client.Exchange(BuildGetConfigRequest()));
    for (const auto& entry : config->entries) {
        if (entry.name == "channelMask") {
            EXPECT_EQ(DecodeNumber(entry.valueB), 0x0000FFFFu);
        }
    }
}

// The upgrade's retry: status 1 on the third chunk of pass 1 restarts pass 1, and the section is
// then received whole.
TEST(DevsimFaults, RejectedChunkThenRestartedPass) {
    ScratchDir dir;
    DevsimProcess device;
    std::string error;
    ASSERT_TRUE(device.Start({"--fault", "12:3:status", "--dump-dir", dir.Path()}, &error)) << error;
    Client client;
    ASSERT_TRUE(client.Connect(device.Port()));
    ASSERT_TRUE(client.LogIn());
    const Bytes section = MakeSection(1024, {{"prod_id", "KBR3300"}}, 11);
    EXPECT_EQ(UploadSection(client, section),
              (std::vector<uint8_t>{REP_UPGRADE_START, REP_UPGRADE_DATA, REP_UPGRADE_DATA, REP_UPGRADE_DATA}));
    EXPECT_FALSE(ReadWholeFile(dir.File("section1.bin")).has_value());
    EXPECT_EQ(UploadSection(client, section).back(), REP_UPGRADE_END);
    EXPECT_EQ(ReadWholeFile(dir.File("section1.bin")), section);
}

TEST(DevsimFaults, CloseDuringSectionTwoStartsANewImageOnTheNextConnection) {
    ScratchDir dir;
    DevsimProcess device;
    std::string error;
    // Section 1 takes data requests 1-2 of the connection; the close hits section 2's first chunk.
    ASSERT_TRUE(device.Start({"--fault", "12:3:close", "--dump-dir", dir.Path()}, &error)) << error;
    const Bytes section1 = MakeSection(512, {{"prod_id", "KBR3300"}}, 12);
    const Bytes section2 = MakeSection(300, {{"prod_id", "KBR3300"}}, 13);
    {
        Client client;
        ASSERT_TRUE(client.Connect(device.Port()));
        ASSERT_TRUE(client.LogIn());
        EXPECT_EQ(UploadSection(client, section1).back(), REP_UPGRADE_END);
        EXPECT_TRUE(UploadSection(client, section2).empty());
    }
    // The program reconnects and upgrades from the start: the first start is section 1 again.
    Client client;
    ASSERT_TRUE(client.Connect(device.Port()));
    ASSERT_TRUE(client.LogIn());
    const Bytes again = MakeSection(256, {{"prod_id", "KBR3300"}}, 14);
    EXPECT_EQ(UploadSection(client, again).back(), REP_UPGRADE_END);
    EXPECT_EQ(ReadWholeFile(dir.File("section1.bin")), again);
    EXPECT_FALSE(ReadWholeFile(dir.File("section2.bin")).has_value());
}

}  // namespace
}  // namespace kbr::devsim::test

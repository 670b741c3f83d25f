// The simulator's library on its own: embedding the server in-process, and the small parsers.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <fstream>
#include <mutex>
#include <thread>

#include "link/UpgradeImage.h"
#include "testkit/DevsimHarness.h"
#include "devtools/devsim/DeviceModel.h"
#include "devtools/devsim/Faults.h"
#include "devtools/devsim/ImageTags.h"
#include "devtools/devsim/Server.h"
#include "devtools/devsim/StateFile.h"
#include "testkit/WaitUntil.h"

namespace kbr::devsim::test {
namespace {

TEST(DevsimLibrary, ServerRunsOnAThreadAndStops) {
    DeviceModel device(DeviceIdentity{}, DeviceSettings{});
    Server server(device, {});
    std::string error;
    ASSERT_TRUE(server.Listen("127.0.0.1:0", &error)) << error;
    std::thread loop([&] { EXPECT_TRUE(server.Run()); });
    {
        Client client;
        ASSERT_TRUE(client.Connect(server.Port()));
        EXPECT_EQ(HeaderOf(client.Exchange(BuildLoginRequest("admin"))).status, 0);
        EXPECT_EQ(ValueText(client.Exchange(BuildGetValueRequest(KEY_PRODUCT_ID))), "KBR3300");
    }
    server.Stop();
    loop.join();
}

// The upgrade bytes that connections hold while their sections arrive are bounded across all of
// them: a chunk past the limit gets status 1 and a line on the log, its section is dropped, and
// what a connection held comes back when its section completes, is dropped or it closes.
TEST(DevsimLibrary, UpgradeDataOfAllConnectionsIsBounded) {
    constexpr size_t LIMIT = 4 * UPGRADE_CHUNK_SIZE;
    std::mutex linesLock;
    std::vector<std::string> lines;
    Logger logger;
    logger.problem = [&](const std::string& line) {
        const std::lock_guard<std::mutex> hold(linesLock);
        lines.push_back(line);
    };
    DeviceModel device(DeviceIdentity{}, DeviceSettings{});
    Server server(device, {}, &logger, Server::DEFAULT_REBOOT_TIME, Server::DEFAULT_IDLE_TIMEOUT, true, LIMIT);
    std::string error;
    ASSERT_TRUE(server.Listen("127.0.0.1:0", &error)) << error;
    std::thread loop([&] { EXPECT_TRUE(server.Run()); });

    const Bytes data(UPGRADE_CHUNK_SIZE, 0x5A);
    // Chunk `index` of a section of `chunks` chunks; the reply's status.
    auto chunk = [&](Client& client, uint32_t chunks, uint32_t index) {
        return HeaderOf(client.Exchange(BuildUpgradeDataRequest(chunks - 1 - index, index * UPGRADE_CHUNK_SIZE,
                                                                UPGRADE_CHUNK_SIZE, data)))
            .status;
    };
    auto begin = [&](Client& client) {
        ASSERT_TRUE(client.Connect(server.Port()));
        ASSERT_TRUE(client.LogIn());
        ASSERT_EQ(HeaderOf(client.Exchange(BuildUpgradeStartRequest())).status, 0);
    };
    Client a;
    Client b;
    begin(a);
    begin(b);
    for (uint32_t i = 0; i < 3; ++i) EXPECT_EQ(chunk(a, 4, i), 0) << i;
    EXPECT_EQ(chunk(b, 4, 0), 0);  // exactly at the limit
    EXPECT_EQ(chunk(b, 4, 1), 1);  // past it: b's section is dropped
    {
        const std::lock_guard<std::mutex> hold(linesLock);
        ASSERT_FALSE(lines.empty());
        EXPECT_NE(lines.back().find("the upgrade data of all connections reached the simulator's limit of 1024 bytes"),
                  std::string::npos)
            << lines.back();
    }
    // What b held came back: a completes its section, which gives back a's share.
    EXPECT_EQ(chunk(a, 4, 3), 0);
    // A connection that closes mid-section gives back what it held.
    {
        Client c;
        begin(c);
        EXPECT_EQ(chunk(c, 4, 0), 0);
        EXPECT_EQ(chunk(c, 4, 1), 0);
        EXPECT_EQ(chunk(c, 4, 2), 0);
    }
    // b's whole section needs the limit whole: c's share must have come back. The server notices
    // c's close in its own time, so b may have to start again a few times.
    const Bytes section(LIMIT, 0x3C);
    EXPECT_TRUE(testkit::WaitUntil([&] { return UploadSection(b, section).back() == REP_UPGRADE_END; }));

    server.Stop();
    loop.join();
}

struct FaultSpecCase {
    const char* text;
    bool valid;
    uint8_t type = 0;
    unsigned nth = 0;
    FaultAction action = FaultAction::Status;
};

void PrintTo(const FaultSpecCase& c, std::ostream* os) { *os << '"' << c.text << '"'; }

class DevsimFaultSpec : public ::testing::TestWithParam<FaultSpecCase> {};

TEST_P(DevsimFaultSpec, Parses) {
    const FaultSpecCase& c = GetParam();
    std::string error;
    const auto parsed = ParseFaultSpec(c.text, &error);
    ASSERT_EQ(parsed.has_value(), c.valid) << error;
    if (!parsed) {
        EXPECT_FALSE(error.empty());
        return;
    }
    EXPECT_EQ(parsed->requestType, c.type);
    EXPECT_EQ(parsed->nth, c.nth);
    EXPECT_EQ(parsed->action, c.action);
}

INSTANTIATE_TEST_SUITE_P(FaultTexts, DevsimFaultSpec,
                         ::testing::Values(FaultSpecCase{"12:3:status", true, 12, 3, FaultAction::Status},
                                           FaultSpecCase{"0:1:wrong-type", true, 0, 1, FaultAction::WrongType},
                                           FaultSpecCase{"64:10:short16", true, 64, 10, FaultAction::Short16},
                                           FaultSpecCase{"15:1:silent", true, 15, 1, FaultAction::Silent},
                                           FaultSpecCase{"2:2:close", true, 2, 2, FaultAction::Close},
                                           FaultSpecCase{"12:3", false}, FaultSpecCase{"", false},
                                           FaultSpecCase{"12::status", false}, FaultSpecCase{"x:1:status", false},
                                           FaultSpecCase{"300:1:status", false}, FaultSpecCase{"-1:1:status", false},
                                           FaultSpecCase{"12:1:status:extra", false}));

TEST(DevsimLibrary, StateValuesSurviveEscaping) {
    const std::string hostile = std::string("a b%=c\n\r#\x01\xff", 11) + std::string(1, '\0') + "z";
    const std::string escaped = EscapeStateValue(hostile);
    EXPECT_EQ(escaped.find_first_of(" \n\r="), std::string::npos) << escaped;
    EXPECT_EQ(UnescapeStateValue(escaped), hostile);
    EXPECT_FALSE(UnescapeStateValue("%4").has_value());
    EXPECT_FALSE(UnescapeStateValue("%zz").has_value());
}

#ifndef _WIN32  // FIFOs
// The state is read without blocking and without limit only where it is a small regular file.
TEST(DevsimLibrary, StateFileThatIsNoFileOrTooLargeIsRefused) {
    ScratchDir dir;
    std::string error;
    const std::string fifo = dir.File("fifo.state");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(ReadStateFile(fifo, &error));
    EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
    EXPECT_FALSE(ReadStateFile(dir.Path(), &error));

    const std::string large = dir.File("large.state");
    std::ofstream(large) << std::string(MAX_STATE_FILE_SIZE, '#') << "\n";
    EXPECT_FALSE(ReadStateFile(large, &error));
    EXPECT_NE(error.find("larger than"), std::string::npos) << error;
    EXPECT_EQ(ReadStateFile(dir.File("missing.state"), &error), StateValues{});
}
#endif

TEST(DevsimLibrary, SectionTagsAreFoundAndWalksStayInside) {
    const Bytes section = MakeSection(200, {{"prod_id", "KBR3300"}, {"version", "2.0.1.7"}}, 1);
    EXPECT_TRUE(SectionCrcIsGood(section));
    EXPECT_EQ(FindSectionTag(section, "prod_id"), "KBR3300");
    EXPECT_EQ(FindSectionTag(section, "version"), "2.0.1.7");
    EXPECT_FALSE(FindSectionTag(section, "a:version").has_value());
    // Cut inside the second record: the walk ends without reading past the end.
    for (size_t size = 0; size < 60; ++size) {
        const Bytes cut(section.begin(), section.begin() + size);
        EXPECT_FALSE(FindSectionTag(cut, "version").has_value()) << size;
    }
    // A name ended by 0xFF is not padded: the value field starts at that byte. The simulator and
    // the program read it alike.
    Bytes ff = MakeSection(64, {}, 2);
    ff.resize(16);
    const Bytes record = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 4, 'v', 0xFF, 'o', 'k', 0};
    ff.insert(ff.end(), record.begin(), record.end());
    EXPECT_EQ(FindSectionTag(ff, "v"), "\xFFok");
    EXPECT_EQ(FindSectionTag(ff, "v"), FindImageTag(std::span<const uint8_t>(ff).subspan(16), "v"));
}

TEST(DevsimLibrary, FirmwareVersionNeedsFourNumbers) {
    EXPECT_EQ(ParseFirmwareVersion("1.2.3.4")->bytes, (std::array<uint8_t, 4>{1, 2, 3, 4}));
    for (const char* bad : {"", "1.2.3", "1.2.3.4.5", "1..3.4", "a.b.c.d", "1.2.3.256", "1.2.3.4 "}) {
        EXPECT_FALSE(ParseFirmwareVersion(bad).has_value()) << bad;
    }
}

}  // namespace
}  // namespace kbr::devsim::test

// What the simulator remembers across restarts, and how it refuses a bad command line.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <fstream>

#include "testkit/DevsimHarness.h"

namespace kbr::devsim::test {
namespace {

std::optional<uint32_t> ChannelMask(Client& client) {
    const Decoded<ConfigMessage> config = ReadConfigReply(client.Exchange(BuildGetConfigRequest()));
    for (const auto& entry : config->entries) {
        if (entry.name == "channelMask") return DecodeNumber(entry.valueB);
    }
    return std::nullopt;
}

TEST(DevsimState, SettingsAndInstalledFirmwareSurviveARestart) {
    ScratchDir dir;
    const std::string state = dir.File("device.state");
    {
        DevsimProcess device;
        std::string error;
        ASSERT_TRUE(device.Start(
            {"--state", state, "--password", "first", "--firmware-version", "1.0.0.0", "--verbose"}, &error))
            << error;
        Client client;
        ASSERT_TRUE(client.Connect(device.Port()));
        ASSERT_TRUE(client.LogIn("first"));
        // A password with a space and a '%' must come back as it was.
        const std::vector<ConfigEntry> entries = {MakeNumberEntry("channelMask", 0, 0x00AB00CD),
                                                  MakeTextEntry("admPswd", "first", "a b%=c", 8)};
        ASSERT_EQ(HeaderOf(client.Exchange(BuildSetConfigRequest(entries))).status, 0);
        ASSERT_EQ(UploadSection(client, MakeSection(300, {{"prod_id", "KBR3300"}}, 1)).back(), REP_UPGRADE_END);
        ASSERT_EQ(UploadSection(client, MakeSection(300, {{"prod_id", "KBR3300"}, {"version", "3.1.4.1"}}, 2)).back(),
                  REP_UPGRADE_END);
        ASSERT_EQ(HeaderOf(client.Exchange(BuildActionRequest())).status, 0);
        EXPECT_TRUE(device.WaitForStderr("installed firmware 3.1.4.1"));
        EXPECT_EQ(device.Stop(), 0);
    }
    DevsimProcess device;
    std::string error;
    // What the device remembers wins over the factory values given again.
    ASSERT_TRUE(device.Start({"--state", state, "--password", "first", "--firmware-version", "1.0.0.0"}, &error))
        << error;
    Client client;
    ASSERT_TRUE(client.Connect(device.Port()));
    EXPECT_EQ(ChannelMask(client), 0x00AB00CDu);
    EXPECT_EQ(HeaderOf(client.Exchange(BuildLoginRequest("a b%=c"))).status, 0);
    EXPECT_EQ(HeaderOf(client.Exchange(BuildLoginRequest("first"))).status, 1);
    const Bytes version = client.Exchange(BuildGetValueRequest(KEY_FIRMWARE_VERSION));
    EXPECT_EQ(ValueText(version), "3.1.4.1");
    EXPECT_EQ(HeaderOf(version).version, (std::array<uint8_t, 4>{3, 1, 4, 1}));
}

TEST(DevsimState, WithoutAStateFileNothingIsRemembered) {
    for (int run = 0; run < 2; ++run) {
        DevsimProcess device;
        std::string error;
        ASSERT_TRUE(device.Start({}, &error)) << error;
        Client client;
        ASSERT_TRUE(client.Connect(device.Port()));
        ASSERT_TRUE(client.LogIn());
        EXPECT_EQ(ChannelMask(client), 0x15554000u);
        const std::vector<ConfigEntry> entries = {MakeNumberEntry("channelMask", 0, 7)};
        ASSERT_EQ(HeaderOf(client.Exchange(BuildSetConfigRequest(entries))).status, 0);
        EXPECT_EQ(ChannelMask(client), 7u);
    }
}

TEST(DevsimState, UnwritableStateFileFailsTheSetAndKeepsTheSettings) {
    ScratchDir dir;
    DevsimProcess device;
    std::string error;
    ASSERT_TRUE(device.Start({"--state", dir.File("missing-folder/device.state")}, &error)) << error;
    Client client;
    ASSERT_TRUE(client.Connect(device.Port()));
    ASSERT_TRUE(client.LogIn());
    const std::vector<ConfigEntry> entries = {MakeNumberEntry("channelMask", 0, 7)};
    EXPECT_EQ(HeaderOf(client.Exchange(BuildSetConfigRequest(entries))).status, 1);
    EXPECT_TRUE(device.WaitForStderr("cannot write"));
    EXPECT_EQ(ChannelMask(client), 0x15554000u);
}

#ifndef _WIN32  // links and FIFOs planted in a shared folder
// As reported: a link planted at the state file's old fixed temporary name got the state, the
// passwords included, written into its target. Links there, at the state file itself and in the
// dump folder are replaced or passed by, never written through.
TEST(DevsimState, PlantedLinksGetNothingWritten) {
    ScratchDir dir;
    const std::string state = dir.File("st.state");
    const std::string victim = dir.File("victim");
    const std::string linkedState = dir.File("linked-state");
    std::ofstream(victim) << "untouched";
    std::ofstream(linkedState) << "# untouched too\n";
    ASSERT_EQ(::symlink(victim.c_str(), (state + ".tmp").c_str()), 0);
    ASSERT_EQ(::symlink(linkedState.c_str(), state.c_str()), 0);
    ASSERT_EQ(::mkdir(dir.File("dump").c_str(), 0700), 0);
    ASSERT_EQ(::symlink(victim.c_str(), dir.File("dump/section1.bin.tmp").c_str()), 0);

    DevsimProcess device;
    std::string error;
    ASSERT_TRUE(device.Start({"--state", state, "--dump-dir", dir.File("dump")}, &error)) << error;
    Client client;
    ASSERT_TRUE(client.Connect(device.Port()));
    ASSERT_TRUE(client.LogIn());
    const std::vector<ConfigEntry> entries = {MakeTextEntry("admPswd", "admin", "s3cret", 8)};
    ASSERT_EQ(HeaderOf(client.Exchange(BuildSetConfigRequest(entries))).status, 0);
    ASSERT_EQ(UploadSection(client, MakeSection(300, {{"prod_id", "KBR3300"}}, 1)).back(), REP_UPGRADE_END);
    EXPECT_EQ(device.Stop(), 0);

    const auto kept = ReadWholeFile(victim);
    EXPECT_EQ(std::string(kept->begin(), kept->end()), "untouched");
    const auto keptToo = ReadWholeFile(linkedState);
    EXPECT_EQ(std::string(keptToo->begin(), keptToo->end()), "# untouched too\n");
    struct stat info {};
    ASSERT_EQ(::lstat(state.c_str(), &info), 0);
    EXPECT_TRUE(S_ISREG(info.st_mode));     // the link itself was replaced
    EXPECT_EQ(info.st_mode & 0777, 0600u);  // the state holds the passwords
    const auto written = ReadWholeFile(state);
    EXPECT_NE(std::string(written->begin(), written->end()).find("admPswd=s3cret"), std::string::npos);
    EXPECT_EQ(ReadWholeFile(dir.File("dump/section1.bin"))->size(), 300u);
}
#endif

struct StartupErrorCase {
    const char* name;
    std::vector<std::string> args;
    std::string stateText;  // written to the state file when not empty (--state is then added)
    int exitCode;
    std::string complaint;
};

void PrintTo(const StartupErrorCase& c, std::ostream* os) { *os << '"' << c.name << '"'; }

class DevsimStartupError : public ::testing::TestWithParam<StartupErrorCase> {};

TEST_P(DevsimStartupError, ExitsWithAClearMessage) {
    const StartupErrorCase& c = GetParam();
    ScratchDir dir;
    std::vector<std::string> args = c.args;
    if (!c.stateText.empty()) {
        std::ofstream(dir.File("device.state")) << c.stateText;
        args.emplace_back("--state");
        args.push_back(dir.File("device.state"));
    }
    DevsimProcess device;
    EXPECT_FALSE(device.Start(args));
    EXPECT_EQ(device.WaitForExit(), c.exitCode);
    EXPECT_NE(device.Stderr().find(c.complaint), std::string::npos) << device.Stderr();
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, DevsimStartupError,
    ::testing::Values(
        StartupErrorCase{"UnknownOption", {"--colour"}, "", 2, "unknown argument '--colour'"},
        StartupErrorCase{"MissingValue", {"--password"}, "", 2, "--password needs a value"},
        StartupErrorCase{"RebootTimeNotANumber", {"--reboot-time", "soon"}, "", 2, "not a number of milliseconds"},
        StartupErrorCase{"PasswordTooLong", {"--password", "123456789"}, "", 2, "at most 8 characters"},
        StartupErrorCase{"ShortVersion", {"--firmware-version", "1.2.3"}, "", 2, "is not A.B.C.D"},
        StartupErrorCase{"VersionOutOfRange", {"--firmware-version", "1.2.3.256"}, "", 2, "is not A.B.C.D"},
        StartupErrorCase{"FaultNotARequest", {"--fault", "4:1:status"}, "", 2, "not a request type"},
        StartupErrorCase{"FaultCountZero", {"--fault", "64:0:status"}, "", 2, "not a count from 1"},
        StartupErrorCase{"FaultUnknownAction", {"--fault", "64:1:explode"}, "", 2, "unknown action 'explode'"},
        StartupErrorCase{"ListenWithoutPort", {"--listen", "127.0.0.1"}, "", 1, "is not ADDR:PORT"},
        StartupErrorCase{"ListenPortTooBig", {"--listen", "127.0.0.1:70000"}, "", 1, "is not ADDR:PORT"},
        StartupErrorCase{"StateLineWithoutEquals", {}, "channelMask 5\n", 2, "line 1: expected key=value"},
        StartupErrorCase{"StateNumberNotANumber", {}, "# comment\nscanMask=lots\n", 2, "scanMask = 'lots'"},
        StartupErrorCase{"StateTextTooLong", {}, "admPswd=123456789\n", 2, "longer than 8"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kbr::devsim::test

// kbr3300-talk against the real simulator on 127.0.0.1: the developer's conversation end to end,
// each side its own program (on Windows, both under the same system as the test).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/ChildProcess.h"
#include "testkit/DevsimHarness.h"

namespace kbr::devsim::test {
namespace {

platform::ProgramRun Talk(const std::vector<std::string>& args) {
    return platform::RunProgram(KBR_TALK_PATH, args, 30000);
}

TEST(TalkConversation, LogsInAndReadsTheDevicesValuesConfigurationAndDiagnostics) {
    DevsimProcess device;
    std::string error;
    ASSERT_TRUE(
        device.Start({"--password", "secret", "--product-id", "KBR-TALK", "--firmware-version", "2.3.4.5"}, &error))
        << error;
    const std::string port = std::to_string(device.Port());
    const platform::ProgramRun run = Talk({"127.0.0.1", port, "secret"});
    EXPECT_EQ(run.exitCode, 0) << run.output << run.errors;
    for (const std::string& expected :
         {"connected to 127.0.0.1:" + port, std::string("REQ_LOGIN"), std::string("c:prod_id = \"KBR-TALK\""),
          std::string("a:version = \"2.3.4.5\""), std::string("channelMask"), std::string("diagnostics:")}) {
        EXPECT_NE(run.output.find(expected), std::string::npos) << "missing: " << expected << "\n" << run.output;
    }
    // The right password: the login's reply has status 0.
    const size_t login = run.output.find("< REP_");
    ASSERT_NE(login, std::string::npos) << run.output;
    EXPECT_NE(run.output.find("status 0", login), std::string::npos) << run.output;
    EXPECT_EQ(device.Stop(), 0) << device.Stderr();
}

TEST(TalkConversation, NobodyListeningEndsWithOneAndSaysSo) {
    uint16_t port = 0;
    {
        DevsimProcess device;  // its port, once it has ended: nobody there
        ASSERT_TRUE(device.Start({}));
        port = device.Port();
        ASSERT_EQ(device.Stop(), 0);
    }
    const platform::ProgramRun run = Talk({"127.0.0.1", std::to_string(port)});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.errors.find("cannot connect to 127.0.0.1:" + std::to_string(port)), std::string::npos) << run.errors;
}

}  // namespace
}  // namespace kbr::devsim::test

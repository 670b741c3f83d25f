// The configuration program's pages and kbr3300ctl send the adaptor the same bytes for the same
// work: the real main window (page commands through its dispatcher, its link and its operations)
// against one simulator, the real kbr3300ctl against another started alike, a recording relay in
// front of each. The work: a login and a configuration read, a change of five settings, a write
// of all six (restore of a saved profile), and a firmware upgrade.
#include "tests/dispatcher/DispatcherSupport.h"

#include "devtools/image/ImageBuilder.h"
#include "tests/ctl/CtlProcess.h"
#include "tests/ctl/RequestRecorder.h"
#include "testkit/DevsimHarness.h"

#include <gtest/gtest.h>

#include <fstream>

namespace kbr::test {
namespace {

using devsim::test::DevsimProcess;
using devsim::test::ScratchDir;

constexpr int WAIT_MS = 20000;

std::string Hex(const Bytes& bytes) {
    std::string text;
    char two[4];
    for (size_t i = 0; i < bytes.size() && i < 48; ++i) {
        std::snprintf(two, sizeof two, "%02X ", bytes[i]);
        text += two;
    }
    return text + (bytes.size() > 48 ? "..." : "");
}

size_t CountType(const std::vector<Bytes>& requests, uint8_t type) {
    return static_cast<size_t>(
        std::count_if(requests.begin(), requests.end(), [&](const Bytes& r) { return !r.empty() && r[0] == type; }));
}

class PageSide {
public:
    explicit PageSide(uint16_t port) : main_(services_, port) {}
    bool Open() {
        return main_.Open() && QTest::qWaitFor([&] { return main_.IsOpen(); }, WAIT_MS);
    }
    // A function that completes: it gets the completion callback and is waited for.
    bool Complete(const std::string& command) {
        main_.Send("app:1006@CallbackLocal");
        main_.Send("app:1003@" + command);
        ++completions_;
        return QTest::qWaitFor(
            [&] {
                const auto log = main_.Log();
                return static_cast<size_t>(std::count_if(log.begin(), log.end(), [](const std::string& line) {
                           return line.rfind("CallbackLocal", 0) == 0;
                       })) >= completions_;
            },
            WAIT_MS);
    }
    // A pending value: queued, and run before the next function.
    void Store(const std::string& command) { main_.Send("app:1003@" + command); }

private:
    FakeConfigServices services_;  // boxes answered OK, Reminders counted
    TestMain main_;
    size_t completions_ = 0;
};

TEST(CtlSameBytes, PagesAndToolSendTheSameRequests) {
    ScratchDir dir;
    std::string error;
    const auto image = BuildUpgradeImage(StandardImageSpec("KBR3300", "2.0.0.0", "2.0.0.0", 2048, 1500), &error);
    ASSERT_TRUE(image) << error;
    const std::string imagePath = dir.File("fw.img");
    ASSERT_TRUE(WriteImageFile(imagePath, *image, &error)) << error;
    // A saved profile that changes all six settings back from what the change below leaves.
    const std::string profile = dir.File("profile.json");
    std::ofstream(profile) << R"({"kbr3300-settings-backup": 1, "device": {"product_id": "KBR3300"},
        "settings": {"DiplexerMode": 0, "channelMask": 1048576, "scanMask": 1392640, "SwConfig": 0,
                     "admPswd": "admin", "password": "40527163948205716"}})";

    DevsimProcess pageDevice;
    DevsimProcess toolDevice;
    ASSERT_TRUE(pageDevice.Start({}, &error)) << error;
    ASSERT_TRUE(toolDevice.Start({}, &error)) << error;
    ctl::test::RequestRecorder pageRecorder(pageDevice.Port());
    ctl::test::RequestRecorder toolRecorder(toolDevice.Port());
    ASSERT_NE(pageRecorder.Port(), 0);
    ASSERT_NE(toolRecorder.Port(), 0);

    // The pages: login and read (Setup page), the five settings and Apply, a profile's six values
    // and Apply, then the Firmware Upgrade page.
    PageSide page(pageRecorder.Port());
    ASSERT_TRUE(page.Open());
    ASSERT_TRUE(page.Complete("0:admin"));
    ASSERT_TRUE(page.Complete("1:"));

    ASSERT_TRUE(page.Complete("0:admin"));
    ASSERT_TRUE(page.Complete("1:"));
    for (const char* value : {"3:16", "6:1", "4:4096", "2:new1", "5:123456789012"}) page.Store(value);
    ASSERT_TRUE(page.Complete("7:"));
    ASSERT_TRUE(page.Complete("1:"));

    ASSERT_TRUE(page.Complete("0:new1"));
    ASSERT_TRUE(page.Complete("12:"));
    ASSERT_TRUE(page.Complete("1:"));
    for (const char* value : {"2:admin", "3:1048576", "11:1392640", "4:0", "5:40527163948205716", "6:0"}) {
        page.Store(value);
    }
    ASSERT_TRUE(page.Complete("7:"));
    ASSERT_TRUE(page.Complete("1:"));

    ASSERT_TRUE(page.Complete("0:admin"));
    ASSERT_TRUE(page.Complete("8:" + imagePath));

    // The tool, one run per piece of work.
    struct Step {
        std::vector<std::string> args;
        const char* password;
        std::optional<std::string> input;  // the new passwords, a line each
    };
    const Step steps[] = {
        {{"config", "get"}, "admin", std::nullopt},
        {{"config", "set", "channel=5", "diplexer=allpass", "privacy=on", "admin_password=-", "network_password=-"},
         "admin",
         "new1\n123456789012\n"},
        {{"config", "restore", profile, "--yes"}, "new1", std::nullopt},
        {{"upgrade", imagePath}, "admin", std::nullopt},
    };
    for (const Step& step : steps) {
        ctl::test::CtlRun run;
        run.args = ctl::test::LoopbackAddress(toolRecorder.Port());
        run.args.insert(run.args.end(), step.args.begin(), step.args.end());
        run.environment = {{"KBR3300_PASSWORD", step.password}};
        run.input = step.input;
        const ctl::test::CtlResult result = ctl::test::RunCtl(run);
        ASSERT_EQ(result.exitCode, 0) << step.args[1] << ": " << result.err;
    }

    const std::vector<Bytes> fromPages = pageRecorder.Requests();
    const std::vector<Bytes> fromTool = toolRecorder.Requests();
    ASSERT_EQ(fromTool.size(), fromPages.size());
    for (size_t i = 0; i < fromPages.size(); ++i) {
        ASSERT_EQ(fromTool[i], fromPages[i])
            << "request " << i << "\n pages: " << Hex(fromPages[i]) << "\n tool:  " << Hex(fromTool[i]);
    }
    // What was compared: four logins, five reads, two writes of all six settings, the whole upgrade.
    EXPECT_EQ(CountType(fromPages, REQ_LOGIN), 4u);
    EXPECT_EQ(CountType(fromPages, REQ_GET_CONFIG), 5u);
    EXPECT_EQ(CountType(fromPages, REQ_SET_CONFIG), 2u);
    EXPECT_EQ(CountType(fromPages, REQ_UPGRADE_START), 2u);
    EXPECT_EQ(CountType(fromPages, REQ_UPGRADE_DATA), 8u + 6u);
    EXPECT_EQ(CountType(fromPages, REQ_GET_VALUE), 3u);
    for (const Bytes& request : fromPages) {
        if (request[0] == REQ_SET_CONFIG) {
            EXPECT_EQ(request.size(), 156u);
        }
    }
}

}  // namespace
}  // namespace kbr::test

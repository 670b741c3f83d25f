// Operations over a real DeviceLink against kbr3300-devsim on loopback: a whole upgrade of an
// image made by the image builder (the simulator must end up with byte-identical sections), the
// configuration round trip, and a connection dropped in the middle of pass 2.

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "devtools/image/ImageBuilder.h"
#include "link/UpgradeImage.h"
#include "testkit/DevsimHarness.h"
#include "testkit/LinkContext.h"
#include "testkit/WaitUntil.h"

namespace kbr::test {
namespace {

using namespace std::chrono_literals;
using devsim::test::DevsimProcess;
using devsim::test::ReadWholeFile;
using devsim::test::ScratchDir;

constexpr std::string_view PRODUCT_ID = "KBR3300";

std::string WriteImage(const ScratchDir& dir, size_t size1, size_t size2) {
    std::string error;
    auto bytes = BuildUpgradeImage(StandardImageSpec(PRODUCT_ID, "2.0.0.0", "2.0.0.1", size1, size2), &error);
    EXPECT_TRUE(bytes) << error;
    std::string path = dir.File("fw image.img");
    EXPECT_TRUE(WriteImageFile(path, *bytes, &error)) << error;
    return path;
}

std::vector<uint8_t> Section(const std::string& path, int which) {
    const ImageFileData file = ReadImageFile(path);
    const ImageLayout layout = InspectImage(file.bytes);
    auto bytes = ImageSectionBytes(file.bytes, layout, which);
    return {bytes.begin(), bytes.end()};
}

// The simulator writes a section's dump when its last chunk arrives; wait for it, bounded.
std::optional<Bytes> WaitForDump(const std::string& path, size_t size) {
    (void)testkit::WaitUntil([&] {
        const auto bytes = ReadWholeFile(path);
        return bytes && bytes->size() == size;
    });
    return ReadWholeFile(path);
}

// The login the program makes before anything that changes the device; what it recorded is
// cleared, so the test sees the next operation alone.
void LogIn(LinkContext& ctx) {
    ASSERT_TRUE(ctx.RunOperation(PageFunction::FUNC_LOGIN, "admin", 10s));
    ASSERT_EQ(ctx.completions, std::vector<int>{0});
    ctx.completions.clear();
    ctx.pageCalls.clear();
}

TEST(OperationsEndToEnd, WholeUpgradeLeavesByteIdenticalSectionsInTheSimulator) {
    ScratchDir dir;
    const std::string dumps = dir.File("dumps");
    std::filesystem::create_directories(dumps);
    DevsimProcess sim;
    std::string error;
    ASSERT_TRUE(sim.Start({"--product-id", std::string(PRODUCT_ID), "--dump-dir", dumps}, &error)) << error;
    const std::string image = WriteImage(dir, 70000, 33333);

    LinkContext ctx;
    ASSERT_TRUE(ctx.Connect(sim.Port()));
    LogIn(ctx);
    // The page hands over paths with "%20" for spaces.
    std::string pagePath = image;
    pagePath.replace(pagePath.find(' '), 1, "%20");
    ASSERT_TRUE(ctx.RunOperation(PageFunction::FUNC_UPGRADE_IMAGE, pagePath, 60s));
    EXPECT_EQ(ctx.completions, std::vector<int>{0});
    EXPECT_TRUE(ctx.messages.empty());
    EXPECT_FALSE(ctx.progressVisible);
    EXPECT_EQ(ctx.progressPosition, (70000 + 255) / 256 + (33333 + 255) / 256);
    EXPECT_EQ(ctx.state.deviceProductId, PRODUCT_ID);
    EXPECT_EQ(ctx.state.imageVersion, "2.0.0.0");

    const Bytes section1 = Section(image, 1);
    const Bytes section2 = Section(image, 2);
    EXPECT_EQ(WaitForDump(dumps + "/section1.bin", section1.size()), section1);
    EXPECT_EQ(WaitForDump(dumps + "/section2.bin", section2.size()), section2);
}

TEST(OperationsEndToEnd, LoginConfigurationWriteAndReadBack) {
    DevsimProcess sim;
    std::string error;
    ASSERT_TRUE(sim.Start({"--password", "s3cret"}, &error)) << error;
    LinkContext ctx;
    ASSERT_TRUE(ctx.Connect(sim.Port()));

    ASSERT_TRUE(ctx.RunOperation(PageFunction::FUNC_LOGIN, "s3cret", 10s));
    EXPECT_EQ(ctx.pageCalls, std::vector<std::string>{"CallbackLogin"});
    EXPECT_EQ(ctx.completions, std::vector<int>{0});

    ASSERT_TRUE(ctx.RunOperation(PageFunction::FUNC_GETCONFIG, "", 10s));
    EXPECT_EQ(ctx.completions.back(), 0);
    EXPECT_EQ(ctx.pageCalls.back(), "display_config");
    EXPECT_EQ(FindParameter(ctx.state.parameters, "admPswd")->valueB, "s3cret");

    ASSERT_TRUE(ctx.RunOperation(PageFunction::FUNC_SET_CHAN_MASK, "1431650304", 1s));
    ASSERT_TRUE(ctx.RunOperation(PageFunction::FUNC_SET_SCAN_MASK, "-1", 1s));
    ASSERT_TRUE(ctx.RunOperation(PageFunction::FUNC_SET_CONFIG, "", 10s));
    EXPECT_EQ(ctx.completions.back(), 0);

    LinkContext fresh;  // a window that has never read the configuration
    ASSERT_TRUE(fresh.Connect(sim.Port()));
    ASSERT_TRUE(fresh.RunOperation(PageFunction::FUNC_GETCONFIG, "", 10s));
    EXPECT_EQ(FindParameter(fresh.state.parameters, "channelMask")->valueB, "1431650304");
    EXPECT_EQ(FindParameter(fresh.state.parameters, "scanMask")->valueB, "-1");

    ASSERT_TRUE(fresh.RunOperation(PageFunction::FUNC_GET_FIRMWARE_VERSION, "", 10s));
    EXPECT_EQ(fresh.completions.back(), 0);
    EXPECT_EQ(fresh.pageCalls.back(), "CallbackFwVer");
}

TEST(OperationsEndToEnd, ConnectionDroppedDuringPass2EndsTheUpgradeAndHidesProgress) {
    ScratchDir dir;
    DevsimProcess sim;
    std::string error;
    // Section 1 takes 4 data requests; the 6th is the second chunk of pass 2.
    ASSERT_TRUE(sim.Start({"--product-id", std::string(PRODUCT_ID), "--fault", "12:6:close"}, &error)) << error;
    const std::string image = WriteImage(dir, 1024, 1024);
    LinkContext ctx;
    ASSERT_TRUE(ctx.Connect(sim.Port()));
    LogIn(ctx);
    ASSERT_TRUE(ctx.RunOperation(PageFunction::FUNC_UPGRADE_IMAGE, image, 30s));
    EXPECT_TRUE(ctx.linkLost);
    EXPECT_FALSE(ctx.progressVisible);
    EXPECT_TRUE(ctx.completions.empty());
    EXPECT_EQ(ctx.progressPosition, 6);
}

}  // namespace
}  // namespace kbr::test

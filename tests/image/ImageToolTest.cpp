// kbr3300-image run as a program: exit statuses and what it prints.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "link/UpgradeImage.h"
#include "platform/ChildProcess.h"
#include "testkit/ScratchFolder.h"

namespace kbr {
namespace {

struct ToolRun {
    int status = -1;
    std::string output;
};

// Runs the tool with the arguments; its standard output, then its standard error, as output.
ToolRun Tool(const std::vector<std::string>& arguments) {
    const platform::ProgramRun run = platform::RunProgram(KBR_IMAGE_TOOL, arguments, 30000);
    return {run.exitCode, run.output + run.errors};
}

class ImageTool : public testing::Test {
protected:
    std::string Path(const std::string& name) const { return dir_.File(name); }
    testkit::ScratchFolder dir_{"kbr-image-"};
};

TEST_F(ImageTool, BuildsAnImageThatInfoAndTheReaderAccept) {
    const ToolRun build = Tool({"build", "--prod-id", "KBR3300", "--version", "1.2.3", "--a-version", "1.2.0",
                                "--size1", "1K", "--size2", "513", "-o", Path("fw.img")});
    ASSERT_EQ(build.status, 0) << build.output;

    const auto one = LoadImageSection(dir_.File("fw.img"), 1, {});
    const auto two = LoadImageSection(dir_.File("fw.img"), 2, {});
    ASSERT_TRUE(one && two);
    EXPECT_EQ(one->bytes.size(), 1024u);
    EXPECT_EQ(two->bytes.size(), 513u);
    EXPECT_EQ(ReadImageVersionTag(dir_.File("fw.img"), {}), "1.2.0");

    const ToolRun info = Tool({"info", Path("fw.img")});
    EXPECT_EQ(info.status, 0) << info.output;
    for (const char* expected :
         {"section 1  offset 12, 1024 bytes, CRC good", "section 2  offset 1036, 513 bytes, CRC good",
          "prod_id    \"KBR3300\"", "a:version  \"1.2.0\"", "version    \"1.2.3\"", "result     valid upgrade image"}) {
        EXPECT_NE(info.output.find(expected), std::string::npos) << "missing: " << expected << "\n" << info.output;
    }
}

struct BrokenCase {
    const char* kind;
    const char* expected;
    friend void PrintTo(const BrokenCase& c, std::ostream* os) { *os << c.kind; }
};

class ImageToolBroken : public ImageTool, public testing::WithParamInterface<BrokenCase> {};

TEST_P(ImageToolBroken, InfoExitsOneAndSaysWhy) {
    ASSERT_EQ(
        Tool({"build", "--prod-id", "KBR3300", "--version", "1", "--break", GetParam().kind, "-o", Path("bad.img")})
            .status,
        0);
    const ToolRun info = Tool({"info", Path("bad.img")});
    EXPECT_EQ(info.status, 1) << info.output;
    EXPECT_NE(info.output.find(GetParam().expected), std::string::npos) << info.output;
}

INSTANTIATE_TEST_SUITE_P(Kinds, ImageToolBroken,
                         testing::Values(BrokenCase{"crc1", "section 1 fails its CRC"}, BrokenCase{"crc2", "CRC bad"},
                                         BrokenCase{"no-prod-id", "section 1 has no \"prod_id\" tag"},
                                         BrokenCase{"empty-section2", "section 2 is empty"},
                                         BrokenCase{"truncated", "section 2 fails its CRC"},
                                         BrokenCase{"huge-offset", "not inside the file"}),
                         [](const testing::TestParamInfo<BrokenCase>& info) {
                             std::string name = info.param.kind;
                             std::erase(name, '-');
                             return name;
                         });

TEST_F(ImageTool, UnreadableFileExitsTwoWithTheFileErrorMessage) {
    ToolRun info = Tool({"info", Path("absent.img")});
    EXPECT_EQ(info.status, 2);
    EXPECT_NE(info.output.find("The file could not be located."), std::string::npos) << info.output;
    info = Tool({"info", dir_.Path()});
    EXPECT_EQ(info.status, 2);
    EXPECT_NE(info.output.find("The file could not be accessed."), std::string::npos) << info.output;
}

TEST_F(ImageTool, UsageErrors) {
    EXPECT_EQ(Tool({}).status, 64);
    EXPECT_EQ(Tool({"frobnicate"}).status, 64);
    EXPECT_EQ(Tool({"build", "--version", "1", "-o", Path("x")}).status, 64);  // no --prod-id
    EXPECT_EQ(Tool({"build", "--prod-id", "a", "--version", "1", "--size1", "12Q", "-o", Path("x")}).status, 64);
    EXPECT_EQ(Tool({"build", "--prod-id", "a", "--version", "1", "--break", "sideways", "-o", Path("x")}).status, 64);
    EXPECT_EQ(Tool({"build", "--prod-id", "a", "--version", "1", "--size1", "24", "-o", Path("x")}).status,
              1);  // too small
    EXPECT_EQ(Tool({"build", "--prod-id", "a", "--version", "1", "-o", Path("no/such/folder/x")}).status, 1);
    EXPECT_EQ(Tool({"--help"}).status, 0);
}

}  // namespace
}  // namespace kbr

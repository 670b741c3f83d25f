// kbr3300-image run as a program: exit statuses and what it prints.
#include <gtest/gtest.h>

#include <ostream>
#include <cstdio>
#include <string>
#include <sys/wait.h>

#include "link/UpgradeImage.h"
#include "tests/image/TempDir.h"

namespace kbr {
namespace {

struct ToolRun {
    int status = -1;
    std::string output;
};

// Runs the tool with arguments (already quoted for the shell), standard error joined to output.
ToolRun Tool(const std::string& arguments) {
    ToolRun run;
    const std::string command = std::string("'") + KBR_IMAGE_TOOL + "' " + arguments + " 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return run;
    char buffer[512];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) run.output.append(buffer, n);
    const int status = ::pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

class ImageTool : public testing::Test {
protected:
    std::string Quoted(const std::string& name) const { return "'" + dir_.File(name) + "'"; }
    test::TempDir dir_;
};

TEST_F(ImageTool, BuildsAnImageThatInfoAndTheReaderAccept) {
    const ToolRun build = Tool("build --prod-id KBR3300 --version 1.2.3 --a-version 1.2.0 --size1 1K --size2 513 -o " +
                           Quoted("fw.img"));
    ASSERT_EQ(build.status, 0) << build.output;

    const auto one = LoadImageSection(dir_.File("fw.img"), 1, {});
    const auto two = LoadImageSection(dir_.File("fw.img"), 2, {});
    ASSERT_TRUE(one && two);
    EXPECT_EQ(one->bytes.size(), 1024u);
    EXPECT_EQ(two->bytes.size(), 513u);
    EXPECT_EQ(ReadImageVersionTag(dir_.File("fw.img"), {}), "1.2.0");

    const ToolRun info = Tool("info " + Quoted("fw.img"));
    EXPECT_EQ(info.status, 0) << info.output;
    for (const char* expected : {"section 1  offset 12, 1024 bytes, CRC good", "section 2  offset 1036, 513 bytes, CRC good",
                                 "prod_id    \"KBR3300\"", "a:version  \"1.2.0\"", "version    \"1.2.3\"",
                                 "result     valid upgrade image"}) {
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
    ASSERT_EQ(Tool(std::string("build --prod-id KBR3300 --version 1 --break ") + GetParam().kind + " -o " +
                   Quoted("bad.img"))
                  .status,
              0);
    const ToolRun info = Tool("info " + Quoted("bad.img"));
    EXPECT_EQ(info.status, 1) << info.output;
    EXPECT_NE(info.output.find(GetParam().expected), std::string::npos) << info.output;
}

INSTANTIATE_TEST_SUITE_P(Kinds, ImageToolBroken,
                         testing::Values(BrokenCase{"crc1", "section 1 fails its CRC"},
                                         BrokenCase{"crc2", "CRC bad"},
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
    ToolRun info = Tool("info " + Quoted("absent.img"));
    EXPECT_EQ(info.status, 2);
    EXPECT_NE(info.output.find("The file could not be located."), std::string::npos) << info.output;
    info = Tool("info '" + dir_.Path().string() + "'");
    EXPECT_EQ(info.status, 2);
    EXPECT_NE(info.output.find("The file could not be accessed."), std::string::npos) << info.output;
}

TEST_F(ImageTool, UsageErrors) {
    EXPECT_EQ(Tool("").status, 64);
    EXPECT_EQ(Tool("frobnicate").status, 64);
    EXPECT_EQ(Tool("build --version 1 -o " + Quoted("x")).status, 64);          // no --prod-id
    EXPECT_EQ(Tool("build --prod-id a --version 1 --size1 12Q -o " + Quoted("x")).status, 64);
    EXPECT_EQ(Tool("build --prod-id a --version 1 --break sideways -o " + Quoted("x")).status, 64);
    EXPECT_EQ(Tool("build --prod-id a --version 1 --size1 24 -o " + Quoted("x")).status, 1);  // too small
    EXPECT_EQ(Tool("build --prod-id a --version 1 -o " + Quoted("no/such/folder/x")).status, 1);
    EXPECT_EQ(Tool("--help").status, 0);
}

}  // namespace
}  // namespace kbr

// The problem log's bounds: what a line may carry, and how large the file may grow.

#include "platform/ProblemLog.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <ostream>
#include <sstream>
#include <vector>

namespace kbr::platform {
namespace {

namespace fs = std::filesystem;

class ProblemLogFile : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("kbr-problemlog-" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string Slurp() const {
        std::ifstream in(Log(), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    fs::path Log() const { return dir_ / "kbr3300/log"; }
    fs::path dir_;
};

struct TextCase {
    const char* name;
    std::string message;
    std::string logged;
};

void PrintTo(const TextCase& c, std::ostream* os) { *os << c.name; }

class ProblemText : public ProblemLogFile, public ::testing::WithParamInterface<TextCase> {};

TEST_P(ProblemText, IsOneLineOfWholeCharacters) {
    const TextCase& c = GetParam();
    ASSERT_TRUE(LogProblemTo({"", Log().string()}, "nwinf", c.message));
    const std::string log = Slurp();
    const size_t start = log.find(" nwinf: ");
    ASSERT_NE(start, std::string::npos) << log;
    EXPECT_EQ(log.substr(start + 8), c.logged + "\n");
}

const std::string X1998(1998, 'x');
const std::string X1999(1999, 'x');

INSTANTIATE_TEST_SUITE_P(
    Messages, ProblemText,
    ::testing::Values(TextCase{"C0AndDel", "a\x01\nb\x7f", "a  b "},
                      // U+0085 (next line) and U+009F as UTF-8, and the same controls as lone bytes.
                      TextCase{"C1AsUtf8",
                               "a\xC2\x85"
                               "b\xC2\x9F",
                               "a b "},
                      TextCase{"C1AsLoneBytes",
                               "a\x85"
                               "b\x9F"
                               "c",
                               "a b c"},
                      // Printable characters beside them are kept: no-break space, e acute, euro sign, an emoji.
                      TextCase{"PrintableUtf8", "\xC2\xA0\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80",
                               "\xC2\xA0\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"},
                      // Other bytes that are not UTF-8 stay as they were.
                      TextCase{"OtherStrayBytes",
                               "a\xFF"
                               "b\xC3",
                               "a\xFF"
                               "b\xC3"},
                      TextCase{"CutAtTheLimit", std::string(2500, 'y'), std::string(2000, 'y')},
                      TextCase{"CharacterEndingAtTheLimitIsKept", X1998 + "\xC3\xA9", X1998 + "\xC3\xA9"},
                      TextCase{"CharacterAcrossTheLimitGoesWhole", X1999 + "\xC3\xA9", X1999},
                      TextCase{"FourByteCharacterAcrossTheLimit", X1998 + "\xF0\x9F\x98\x80", X1998}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ProblemLogFile, IsCutToItsNewerHalfAtLineEnds) {
    constexpr size_t MAX = 1000;
    const ProblemLogTargets targets{"", Log().string(), MAX};
    for (int i = 0; i < 60; ++i) {
        ASSERT_TRUE(LogProblemTo(targets, "ipconfig", "renewal " + std::to_string(i) + " failed: no lease"));
        ASSERT_LE(fs::file_size(Log()), MAX) << i;
    }
    const std::string log = Slurp();
    std::istringstream lines(log);
    std::vector<std::string> kept;
    for (std::string line; std::getline(lines, line);) kept.push_back(line);
    ASSERT_GE(kept.size(), 5u);
    // Whole lines only, the newest last, the oldest gone, in order.
    for (const auto& line : kept) EXPECT_NE(line.find(" ipconfig: renewal "), std::string::npos) << line;
    EXPECT_NE(kept.back().find("renewal 59 failed"), std::string::npos);
    EXPECT_EQ(log.find("renewal 0 failed"), std::string::npos);
    EXPECT_EQ(log.back(), '\n');
    struct stat info {};
    ASSERT_EQ(::stat(Log().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

}  // namespace
}  // namespace kbr::platform

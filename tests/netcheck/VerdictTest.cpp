// The verdict after a refresh, from a prepared "ipinfo.tmp" and the probe's result.

#include <gtest/gtest.h>

#include <stdlib.h>  // NOLINT(modernize-deprecated-headers): mkdtemp is POSIX, not in <cstdlib>
#include <sys/stat.h>

#include <chrono>

#include <filesystem>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>

#include "netcheck/RefreshVerdict.h"
#include "testkit/ScratchFolder.h"

namespace {

namespace fs = std::filesystem;
using kbr::AddressLine;

struct VerdictCase {
    const char* name;
    std::optional<std::string> fileContent;  // nothing: no file at all
    bool deviceStillReachable;
    const char* expected;
};

void PrintTo(const VerdictCase& c, std::ostream* os) { *os << c.name; }

class VerdictTable : public ::testing::TestWithParam<VerdictCase> {
protected:
    kbr::testkit::ScratchFolder scratch_{"kbr-verdict-"};
    const fs::path dir_{scratch_.Path()};
};

TEST_P(VerdictTable, MessageFollowsAddressAndProbe) {
    const VerdictCase& c = GetParam();
    const fs::path file = dir_ / kbr::IPINFO_FILE;
    if (c.fileContent) {
        std::ofstream(file, std::ios::binary) << *c.fileContent;
    }
    const AddressLine line = kbr::ReadAddressLine(file.string());
    EXPECT_EQ(kbr::ChooseVerdict(line, c.deviceStillReachable), c.expected);
}

const std::string LONG_LINE = "192.168.1.33" + std::string(300, ' ') + "\n";

INSTANTIATE_TEST_SUITE_P(
    Files, VerdictTable,
    ::testing::Values(
        VerdictCase{"Router192168", "192.168.1.33\n", false, kbr::MSG_REFRESHED},
        VerdictCase{"Device192168StillAnswers", "192.168.1.33\n", true, kbr::MSG_STILL_CONFIG_MODE},
        VerdictCase{"LinkLocalReachable", "169.254.10.2\n", true, kbr::MSG_NO_ADDRESS},
        VerdictCase{"LinkLocalUnreachable", "169.254.10.2\n", false, kbr::MSG_NO_ADDRESS},
        VerdictCase{"NoAddressReachable", "0.0.0.0\n", true, kbr::MSG_NO_ADDRESS},
        VerdictCase{"NoAddressUnreachable", "0.0.0.0\n", false, kbr::MSG_NO_ADDRESS},
        VerdictCase{"NoAddressWithoutNewline", "0.0.0.0", false, kbr::MSG_NO_ADDRESS},
        VerdictCase{"NoAddressCrLf", "0.0.0.0\r\n", true, kbr::MSG_NO_ADDRESS},
        VerdictCase{"OtherPrivateReachable", "10.0.0.7\n", true, kbr::MSG_REFRESHED},
        VerdictCase{"OtherPrivateUnreachable", "10.0.0.7\n", false, kbr::MSG_REFRESHED},
        // Shorter than the prefix: compared whole, newline included, so never a match.
        VerdictCase{"ShortLineLooksLikePrefix", "192.16\n", true, kbr::MSG_REFRESHED},
        VerdictCase{"ShortLine", "1.2.3\n", false, kbr::MSG_REFRESHED},
        VerdictCase{"OnlyTheFirstLineCounts", "10.0.0.7\n0.0.0.0\n", false, kbr::MSG_REFRESHED},
        VerdictCase{"LongFirstLine", LONG_LINE, true, kbr::MSG_STILL_CONFIG_MODE},
        VerdictCase{"EmptyLineThenAddress", "\n192.168.1.33\n", true, kbr::MSG_REFRESHED},
        VerdictCase{"MissingFile", std::nullopt, true, kbr::MSG_NO_ADDRESS},
        VerdictCase{"EmptyFile", std::string(), false, kbr::MSG_NO_ADDRESS},
        VerdictCase{"EmptyFileReachable", std::string(), true, kbr::MSG_NO_ADDRESS},
        // The helper could not renew: an address it still holds is not a refreshed one.
        VerdictCase{"RenewalFailedRouterAddress", "10.0.0.7\nrenewal=failed\n", false, kbr::MSG_NO_ADDRESS},
        VerdictCase{"RenewalFailedStale192168", "192.168.0.117\nrenewal=failed\n", false, kbr::MSG_NO_ADDRESS},
        VerdictCase{"RenewalFailedStillConfigMode", "192.168.0.117\nrenewal=failed\n", true,
                    kbr::MSG_STILL_CONFIG_MODE},
        VerdictCase{"RenewalFailedCrLf", "10.0.0.7\r\nrenewal=failed\r\n", false, kbr::MSG_NO_ADDRESS},
        VerdictCase{"RenewalOk", "10.0.0.7\nrenewal=ok\n", false, kbr::MSG_REFRESHED},
        VerdictCase{"RenewalSkipped", "192.168.1.33\nrenewal=skipped\n", false, kbr::MSG_REFRESHED},
        VerdictCase{"RenewalLineMustBeTheSecond", "10.0.0.7\n\nrenewal=failed\n", false, kbr::MSG_REFRESHED},
        VerdictCase{"RenewalFailedIsAWholeWord", "10.0.0.7\nrenewal=failedish\n", false, kbr::MSG_REFRESHED},
        // After an overlong first line the rest of it is not a line of its own.
        VerdictCase{"RenewalAfterLongLine", std::string(150, '1') + "\nrenewal=failed\n", false, kbr::MSG_REFRESHED}),
    [](const ::testing::TestParamInfo<VerdictCase>& info) { return std::string(info.param.name); });

TEST(AddressLineRead, StatesAndBound) {
    const kbr::testkit::ScratchFolder scratch("kbr-verdict-");
    const fs::path dir = scratch.Path();
    const fs::path file = dir / "ipinfo.tmp";

    EXPECT_EQ(kbr::ReadAddressLine(file.string()).state, AddressLine::State::Missing);

    std::ofstream(file, std::ios::binary).close();
    EXPECT_EQ(kbr::ReadAddressLine(file.string()).state, AddressLine::State::Empty);

    std::ofstream(file, std::ios::binary) << std::string(5000, '7');
    const AddressLine longLine = kbr::ReadAddressLine(file.string());
    EXPECT_EQ(longLine.state, AddressLine::State::Read);
    EXPECT_EQ(longLine.text.size(), kbr::ADDRESS_LINE_MAX);

    std::ofstream(file, std::ios::binary) << "192.168.1.33\nsecond\n";
    EXPECT_EQ(kbr::ReadAddressLine(file.string()).text, "192.168.1.33\n");

    // A directory of that name cannot be read as a file: reported like a missing one, never a crash.
    fs::remove(file);
    fs::create_directories(file);
    EXPECT_NE(kbr::ReadAddressLine(file.string()).state, AddressLine::State::Read);
}

TEST(AddressLineRead, AFifoOrALinkInItsPlaceIsNotRead) {
    const kbr::testkit::ScratchFolder scratch("kbr-verdict-");
    const fs::path dir = scratch.Path();
    const fs::path file = dir / "ipinfo.tmp";
    // A FIFO with no writer: opening it for reading the ordinary way would wait for ever.
    ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(kbr::ReadAddressLine(file.string()).state, AddressLine::State::Missing);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    fs::remove(file);

    // A planted link to another file is not followed.
    std::ofstream(dir / "elsewhere") << "10.0.0.7\n";
    fs::create_symlink(dir / "elsewhere", file);
    EXPECT_EQ(kbr::ReadAddressLine(file.string()).state, AddressLine::State::Missing);
}

}  // namespace

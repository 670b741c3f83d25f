#include <gtest/gtest.h>

#include <ostream>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "devtools/image/ImageBuilder.h"
#include "link/UpgradeImage.h"
#include "testkit/ScratchFolder.h"

namespace kbr {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr size_t SIZE1 = 300;
constexpr size_t SIZE2 = 200;
constexpr size_t SECTION1 = 12;          // first byte of section 1
constexpr size_t SECTION2 = 12 + SIZE1;  // first byte of section 2

Bytes StandardImage() {
    auto image = BuildUpgradeImage(StandardImageSpec("KBR3300", "1.0.7", "1.0.6", SIZE1, SIZE2));
    return image.value();
}

void SetU32(Bytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

// Collects what a load shows, to check that file errors show exactly one message and validation
// failures none.
struct Shown {
    std::vector<std::string> messages;
    MessageSink Sink() {
        return [this](const std::string& m) { messages.push_back(m); };
    }
};

struct LayoutCase {
    const char* name;
    std::function<void(Bytes&)> change;
    bool section1Loads;
    bool section2Loads;
    friend void PrintTo(const LayoutCase& c, std::ostream* os) { *os << c.name; }
};

class ImageValidation : public testing::TestWithParam<LayoutCase> {
protected:
    testkit::ScratchFolder dir_{"kbr-image-"};
};

TEST_P(ImageValidation, BothSections) {
    Bytes image = StandardImage();
    GetParam().change(image);
    const std::string path = dir_.Write("image.bin", image);
    Shown shown;
    EXPECT_EQ(LoadImageSection(path, 1, shown.Sink()).has_value(), GetParam().section1Loads);
    EXPECT_EQ(LoadImageSection(path, 2, shown.Sink()).has_value(), GetParam().section2Loads);
    EXPECT_TRUE(shown.messages.empty()) << "a validation failure shows no message";
    const ImageLayout layout = InspectImage(image);
    if (!layout.valid) {
        EXPECT_FALSE(layout.problem.empty());
    }
}

Bytes RandomBytes(size_t n, unsigned seed) {
    Bytes b(n);
    std::mt19937 random(seed);
    for (auto& x : b) x = static_cast<uint8_t>(random());
    return b;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ImageValidation,
    testing::Values(
        LayoutCase{"Valid", [](Bytes&) {}, true, true},
        LayoutCase{"HeaderWordZeroNotExamined",
                   [](Bytes& b) {
                       b[0] ^= 0xFF;
                       b[3] ^= 0x01;
                   },
                   true, true},
        LayoutCase{"Off2IsLastByteSoSection2IsEmpty", [](Bytes& b) { SetU32(b, 8, uint32_t(b.size() - 1)); }, false,
                   false},
        LayoutCase{"Off2IsFileLength", [](Bytes& b) { SetU32(b, 8, uint32_t(b.size())); }, false, false},
        LayoutCase{"Off2FarBeyondTheFile", [](Bytes& b) { SetU32(b, 8, 0xFFFFFFF0u); }, false, false},
        LayoutCase{"Off1EqualsOff2", [](Bytes& b) { SetU32(b, 4, SECTION2 - 1); }, false, false},
        LayoutCase{"Off2BeforeOff1", [](Bytes& b) { SetU32(b, 4, SECTION2 + 10); }, false, false},
        LayoutCase{"Off1AllOnes", [](Bytes& b) { SetU32(b, 4, 0xFFFFFFFFu); }, false, false},
        LayoutCase{"Section1ByteAfterStartChanged", [](Bytes& b) { b[SECTION1 + 16] ^= 0x01; }, false, false},
        LayoutCase{"Section1CrcChanged", [](Bytes& b) { b[SECTION2 - 1] ^= 0x80; }, false, false},
        LayoutCase{"Section1StartChanged",
                   [](Bytes& b) {
                       b[SECTION1] ^= 0xFF;
                       b[SECTION1 + 15] ^= 0x01;
                   },
                   true, true},
        LayoutCase{"Section2ByteAfterStartChanged", [](Bytes& b) { b[SECTION2 + 16] ^= 0x01; }, false, false},
        LayoutCase{"Section2LastByteChanged", [](Bytes& b) { b.back() ^= 0x01; }, false, false},
        LayoutCase{"Section2StartChanged",
                   [](Bytes& b) {
                       b[SECTION2] ^= 0xFF;
                       b[SECTION2 + 15] ^= 0x01;
                   },
                   true, true},
        LayoutCase{"Truncated", [](Bytes& b) { b.pop_back(); }, false, false},
        LayoutCase{"Empty", [](Bytes& b) { b.clear(); }, false, false},
        LayoutCase{"ShorterThanHeader", [](Bytes& b) { b.resize(11); }, false, false},
        LayoutCase{"HeaderOnly", [](Bytes& b) { b.resize(12); }, false, false},
        LayoutCase{"Garbage", [](Bytes& b) { b = RandomBytes(4096, 5); }, false, false},
        LayoutCase{"AllZeros", [](Bytes& b) { b.assign(4096, 0); }, false, false},
        // Section 1 of 10 bytes cannot even hold its 16-byte start.
        LayoutCase{"Section1ShorterThanItsStart",
                   [](Bytes& b) {
                       Bytes section2(b.begin() + SECTION2, b.end());
                       b.resize(SECTION1 + 10);
                       SetU32(b, 8, uint32_t(SECTION1 + 10 - 1));
                       b.insert(b.end(), section2.begin(), section2.end());
                   },
                   false, false},
        LayoutCase{"Section2ShorterThanItsStart", [](Bytes& b) { b.resize(SECTION2 + 15); }, false, false},
        // Exactly 16 bytes: an empty CRC-covered part checks, but there is no "prod_id" in it.
        LayoutCase{"Section1OfSixteenBytes",
                   [](Bytes& b) {
                       Bytes section2(b.begin() + SECTION2, b.end());
                       b.resize(SECTION1 + 16);
                       SetU32(b, 8, uint32_t(SECTION1 + 16 - 1));
                       b.insert(b.end(), section2.begin(), section2.end());
                   },
                   false, true},
        LayoutCase{"NoProductIdInSection1",
                   [](Bytes& b) {
                       auto plan = StandardImageSpec("KBR3300", "1", "1", SIZE1, SIZE2);
                       plan.defect = ImageDefect::NoProductId;
                       b = BuildUpgradeImage(plan).value();
                   },
                   false, true},
        LayoutCase{"NoProductIdInSection2",
                   [](Bytes& b) {
                       ImageSpec plan = StandardImageSpec("KBR3300", "1", "1");
                       plan.section2.tags = {{"version", "1"}};
                       b = BuildUpgradeImage(plan).value();
                   },
                   true, false},
        LayoutCase{"LongerHeader",
                   [](Bytes& b) {
                       auto plan = StandardImageSpec("KBR3300", "1", "1");
                       plan.headerSize = 40;
                       b = BuildUpgradeImage(plan).value();
                   },
                   true, true}),
    [](const testing::TestParamInfo<LayoutCase>& info) { return info.param.name; });

class ImageLoading : public testing::Test {
protected:
    testkit::ScratchFolder dir_{"kbr-image-"};
};

TEST_F(ImageLoading, ReturnsTheRequestedSectionWholeWithItsProductId) {
    const Bytes image = StandardImage();
    const std::string path = dir_.Write("image.bin", image);
    const auto one = LoadImageSection(path, 1, {});
    const auto two = LoadImageSection(path, 2, {});
    ASSERT_TRUE(one && two);
    EXPECT_EQ(one->bytes, Bytes(image.begin() + SECTION1, image.begin() + SECTION2));
    EXPECT_EQ(two->bytes, Bytes(image.begin() + SECTION2, image.end()));
    EXPECT_EQ(one->productId, "KBR3300");
    EXPECT_EQ(two->productId, "KBR3300");
    EXPECT_EQ(FindImageTag(std::span<const uint8_t>(two->bytes).subspan(16), "version"), "1.0.7");
    EXPECT_FALSE(LoadImageSection(path, 0, {}));
    EXPECT_FALSE(LoadImageSection(path, 3, {}));
}

TEST_F(ImageLoading, PercentTwentyInThePathStandsForASpace) {
    const Bytes image = StandardImage();
    dir_.Write("new firmware 2.img", image);
    EXPECT_TRUE(LoadImageSection(dir_.File("new%20firmware%202.img"), 1, {}));
    // Only "%20" is decoded: other escapes stay as they are.
    dir_.Write("a%41.img", image);
    EXPECT_TRUE(LoadImageSection(dir_.File("a%41.img"), 1, {}));
}

TEST(DecodeImagePath, ReplacesEveryPercentTwentyOnly) {
    EXPECT_EQ(DecodeImagePath("C:/My%20Files/fw%20v2.img"), "C:/My Files/fw v2.img");
    EXPECT_EQ(DecodeImagePath("%20%20"), "  ");
    EXPECT_EQ(DecodeImagePath("%2020"), " 20");
    EXPECT_EQ(DecodeImagePath("%2"), "%2");
    EXPECT_EQ(DecodeImagePath("a%41b"), "a%41b");
    EXPECT_EQ(DecodeImagePath(""), "");
}

TEST_F(ImageLoading, FilesOverTheSizeBoundAreInvalidWithoutBeingRead) {
    const std::string path = dir_.File("huge.img");
    std::ofstream(path, std::ios::binary).put('\0');
    std::error_code ec;
    std::filesystem::resize_file(path, MAX_IMAGE_FILE_SIZE + 1, ec);  // sparse where it can be, costs nothing
    ASSERT_FALSE(ec) << ec.message();
    Shown shown;
    EXPECT_FALSE(LoadImageSection(path, 1, shown.Sink()));
    EXPECT_TRUE(shown.messages.empty());
    EXPECT_TRUE(ReadImageFile(path).tooLarge);
}

TEST_F(ImageLoading, ImageVersionComesFromSection1) {
    const std::string path = dir_.Write("image.bin", StandardImage());
    EXPECT_EQ(ReadImageVersionTag(path, {}), "1.0.6");

    ImageSpec plan = StandardImageSpec("KBR3300", "1", "1");
    plan.section1.tags = {{"prod_id", "KBR3300"}};
    EXPECT_EQ(ReadImageVersionTag(dir_.Write("no-version.bin", BuildUpgradeImage(plan).value()), {}), std::nullopt);

    Bytes broken = StandardImage();
    broken[SECTION1 + 20] ^= 1;
    Shown shown;
    EXPECT_EQ(ReadImageVersionTag(dir_.Write("broken.bin", broken), shown.Sink()), std::nullopt);
    EXPECT_TRUE(shown.messages.empty());
    EXPECT_EQ(ReadImageVersionTag(dir_.File("missing.bin"), shown.Sink()), std::nullopt);
    EXPECT_EQ(shown.messages, std::vector<std::string>{"The file could not be located."});
}

TEST(DescribeImage, ReportsLayoutCrcsAndTags) {
    Bytes image = StandardImage();
    image[SECTION2 + 100] ^= 1;  // in the payload, after the tags
    const ImageDescription d = DescribeImage(image);
    EXPECT_FALSE(d.upgradeImage);
    EXPECT_EQ(d.layout.off1, 11u);
    EXPECT_EQ(d.layout.off2, SECTION2 - 1);
    EXPECT_EQ(d.layout.sections[0].offset, SECTION1);
    EXPECT_EQ(d.layout.sections[0].size, SIZE1);
    EXPECT_EQ(d.layout.sections[1].size, SIZE2);
    EXPECT_TRUE(d.layout.sections[0].crcGood);
    EXPECT_FALSE(d.layout.sections[1].crcGood);
    EXPECT_EQ(d.layout.problem, "section 2 fails its CRC");
    ASSERT_TRUE(d.tags[0] && d.tags[1]);
    EXPECT_EQ(d.tags[0]->appVersion, "1.0.6");
    EXPECT_EQ(d.tags[1]->version, "1.0.7");
    EXPECT_EQ(d.tags[1]->productId, "KBR3300");
}

}  // namespace
}  // namespace kbr

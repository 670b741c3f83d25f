#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "devtools/image/ImageBuilder.h"
#include "link/ImageCrc.h"
#include "link/UpgradeImage.h"

namespace kbr {
namespace {

using Bytes = std::vector<uint8_t>;

TEST(ImageBuilder, TagRecordLayout) {
    const Bytes record = EncodeImageTag("prod_id", "K3300");
    const Bytes expected = {0,   0,   0,   0,   0,   0,   0,   0, 0, 0, 0, 6,  // words 0 and 1, V = 6
                            'p', 'r', 'o', 'd', '_', 'i', 'd', 0,              // name and zero: 8 bytes
                            'K', '3', '3', '0', '0', 0,   0,   0};             // value raised to 8 bytes
    EXPECT_EQ(record, expected);
    EXPECT_EQ(EncodeImageTag("abc", "").size(), 12u + 4u + 4u);
}

struct SizeCase {
    size_t size1;
    size_t size2;
    friend void PrintTo(const SizeCase& c, std::ostream* os) { *os << c.size1 << " + " << c.size2; }
};

class ImageBuilderSizes : public testing::TestWithParam<SizeCase> {};

TEST_P(ImageBuilderSizes, SectionsHaveTheAskedSizesAndLoad) {
    const auto [size1, size2] = GetParam();
    const auto image = BuildUpgradeImage(StandardImageSpec("KBR3300", "2.1", "2.0", size1, size2));
    ASSERT_TRUE(image);
    const ImageDescription d = DescribeImage(*image);
    EXPECT_TRUE(d.upgradeImage) << d.layout.problem;
    const auto minimum1 = MinimumImageSectionSize(StandardImageSpec("KBR3300", "2.1", "2.0").section1.tags);
    EXPECT_EQ(d.layout.sections[0].size, size1 ? size1 : minimum1);
    if (size2) {
        EXPECT_EQ(d.layout.sections[1].size, size2);
    }
    EXPECT_EQ(d.layout.fileSize, 12 + d.layout.sections[0].size + d.layout.sections[1].size);
    EXPECT_EQ(d.tags[1]->version, "2.1");
    EXPECT_EQ(d.tags[0]->appVersion, "2.0");
}

INSTANTIATE_TEST_SUITE_P(Sizes, ImageBuilderSizes,
                         testing::Values(SizeCase{0, 0}, SizeCase{100, 100}, SizeCase{512, 513}, SizeCase{1024, 256},
                                         SizeCase{65536, 4096}),
                         [](const testing::TestParamInfo<SizeCase>& info) {
                             return std::to_string(info.param.size1) + "_" + std::to_string(info.param.size2);
                         });

TEST(ImageBuilder, RefusesWhatCannotBeBuilt) {
    std::string error;
    EXPECT_FALSE(BuildUpgradeImage(StandardImageSpec("KBR3300", "1", "1", 30, 0), &error));
    EXPECT_NE(error.find("section 1 needs at least"), std::string::npos) << error;

    ImageSpec longName = StandardImageSpec("KBR3300", "1", "1");
    longName.section2.tags.push_back({std::string(128, 'n'), "x"});
    EXPECT_FALSE(BuildUpgradeImage(longName, &error));

    ImageSpec zeroInValue = StandardImageSpec(std::string("KBR\0x", 5), "1", "1");
    EXPECT_FALSE(BuildUpgradeImage(zeroInValue, &error));

    ImageSpec shortHeader = StandardImageSpec("KBR3300", "1", "1");
    shortHeader.headerSize = 11;
    EXPECT_FALSE(BuildUpgradeImage(shortHeader, &error));

    EXPECT_FALSE(BuildUpgradeImage(StandardImageSpec("KBR3300", "1", "1", MAX_IMAGE_FILE_SIZE, 0), &error));
}

struct DefectCase {
    ImageDefect defect;
    const char* problem;  // empty when only the tags are wrong
    friend void PrintTo(const DefectCase& c, std::ostream* os) { *os << '"' << c.problem << '"'; }
};

class ImageBuilderDefects : public testing::TestWithParam<DefectCase> {};

TEST_P(ImageBuilderDefects, BrokenImagesAreRefusedForTheirReason) {
    ImageSpec plan = StandardImageSpec("KBR3300", "1", "1", 600, 300);
    plan.defect = GetParam().defect;
    const auto image = BuildUpgradeImage(plan);
    ASSERT_TRUE(image);
    const ImageDescription d = DescribeImage(*image);
    EXPECT_FALSE(d.upgradeImage);
    EXPECT_EQ(d.layout.problem, GetParam().problem);
}

INSTANTIATE_TEST_SUITE_P(
    Defects, ImageBuilderDefects,
    testing::Values(DefectCase{ImageDefect::Section1Crc, "section 1 fails its CRC"},
                    DefectCase{ImageDefect::Section2Crc, "section 2 fails its CRC"},
                    DefectCase{ImageDefect::NoProductId, ""},
                    DefectCase{ImageDefect::EmptySection2, "section 2 is empty (off2 is the last byte of the file)"},
                    DefectCase{ImageDefect::Truncated, "section 2 fails its CRC"},
                    DefectCase{ImageDefect::HugeOffset, "off2 lies beyond the end of the file"}),
    [](const testing::TestParamInfo<DefectCase>& info) { return "defect" + std::to_string(int(info.param.defect)); });

TEST(ImageBuilder, SealMakesAnyContentPass) {
    Bytes section(64, 0x5C);
    SealImageSection(section);
    EXPECT_EQ(ImageCrc(std::span<const uint8_t>(section).subspan(16)), 0u);
}

}  // namespace
}  // namespace kbr

#include "link/ByteReader.h"

#include <gtest/gtest.h>

#include <vector>

namespace kbr {
namespace {

TEST(ByteReader, ReadsBigEndianFields) {
    const std::vector<uint8_t> data = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE};
    ByteReader reader(data);
    uint8_t u8 = 0;
    uint16_t u16 = 0;
    uint32_t u32 = 0;
    ASSERT_TRUE(reader.ReadU8(u8));
    ASSERT_TRUE(reader.ReadU16BE(u16));
    ASSERT_TRUE(reader.ReadU32BE(u32));
    EXPECT_EQ(u8, 0x12);
    EXPECT_EQ(u16, 0x3456);
    EXPECT_EQ(u32, 0x789ABCDEu);
    EXPECT_TRUE(reader.AtEnd());
}

TEST(ByteReader, ReadPastTheEndFailsAndSticks) {
    const std::vector<uint8_t> data = {1, 2, 3};
    ByteReader reader(data);
    uint32_t value = 0;
    EXPECT_FALSE(reader.ReadU32BE(value));
    EXPECT_TRUE(reader.Failed());
    EXPECT_EQ(reader.Error(), "expected 4 bytes at offset 0, only 3 left");
    uint8_t byte = 0;
    EXPECT_FALSE(reader.ReadU8(byte)) << "a failed reader stays failed";
    EXPECT_EQ(reader.Offset(), 0u);
}

TEST(ByteReader, TextsStopAtZeroAndNeverRunPastTheData) {
    const std::vector<uint8_t> data = {'a', 'b', 0, 'c', 'd', 'e', 0, 0, 'x'};
    ByteReader reader(data);
    std::string text;
    ASSERT_TRUE(reader.ReadCString(text));
    EXPECT_EQ(text, "ab");
    ASSERT_TRUE(reader.ReadFixedText(5, text));
    EXPECT_EQ(text, "cde");
    EXPECT_FALSE(reader.ReadCString(text)) << "no zero byte is left";
    EXPECT_NE(reader.Error().find("no zero byte"), std::string::npos);
}

TEST(ByteReader, NullDataIsEmpty) {
    ByteReader reader(nullptr, 100);
    EXPECT_EQ(reader.Size(), 0u);
    uint8_t byte;
    EXPECT_FALSE(reader.ReadU8(byte));
}

TEST(ByteReader, SeekIsBounded) {
    const std::vector<uint8_t> data(10, 0);
    ByteReader reader(data);
    EXPECT_TRUE(reader.Seek(10));
    EXPECT_FALSE(reader.Seek(11));
}

TEST(ByteReader, ReadUpToStopsAtTheEndOfTheData) {
    const std::vector<uint8_t> data = {1, 2, 3, 4, 5};
    ByteReader reader(data);
    std::span<const uint8_t> part;
    ASSERT_TRUE(reader.ReadUpTo(3, part));
    EXPECT_EQ(part.size(), 3u);
    ASSERT_TRUE(reader.ReadUpTo(512, part)) << "fewer bytes than asked for are no error";
    EXPECT_EQ(std::vector<uint8_t>(part.begin(), part.end()), (std::vector<uint8_t>{4, 5}));
    ASSERT_TRUE(reader.ReadUpTo(1, part));
    EXPECT_TRUE(part.empty());
    uint32_t value = 0;
    EXPECT_FALSE(reader.ReadU32BE(value));
    EXPECT_FALSE(reader.ReadUpTo(1, part)) << "after a failure";
}

TEST(ByteReader, PrefixErrorSaysWhichRecordFailed) {
    const std::vector<uint8_t> data = {1};
    ByteReader reader(data);
    reader.PrefixError("entry 1 of 2: ");
    EXPECT_EQ(reader.Error(), "") << "no failure, nothing to say";
    uint16_t value = 0;
    EXPECT_FALSE(reader.ReadU16BE(value));
    reader.PrefixError("entry 2 of 2: ");
    EXPECT_EQ(reader.Error(), "entry 2 of 2: expected 2 bytes at offset 0, only 1 left");
}

}  // namespace
}  // namespace kbr

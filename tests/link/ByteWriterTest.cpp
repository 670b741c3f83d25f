#include "link/ByteWriter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kbr {
namespace {

using B = std::vector<uint8_t>;

TEST(ByteWriter, WritesBigEndianFieldsInOrder) {
    ByteWriter writer;
    writer.WriteU8(0x12);
    writer.WriteU16BE(0x3456);
    writer.WriteU32BE(0x789ABCDEu);
    writer.WriteCString("ab");
    writer.WriteZeros(2);
    EXPECT_EQ(writer.Size(), 12u);
    EXPECT_EQ(writer.Take(), (B{0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 'a', 'b', 0, 0, 0}));
    EXPECT_EQ(writer.Size(), 0u) << "taken";
}

TEST(ByteWriter, FieldsHaveExactlyTheirWidth) {
    const struct {
        const char* name;
        std::string text;
        size_t width;
        B expected;
    } cases[] = {
        {"shorter: zero-filled", "ab", 4, {'a', 'b', 0, 0}},
        {"exact: no zero", "abcd", 4, {'a', 'b', 'c', 'd'}},
        {"longer: cut", "abcdef", 4, {'a', 'b', 'c', 'd'}},
        {"empty field", "abc", 0, {}},
    };
    for (const auto& c : cases) {
        ByteWriter writer;
        writer.WriteFixedText(c.width, c.text);
        EXPECT_EQ(writer.Data(), c.expected) << c.name;
    }
    ByteWriter writer;
    writer.WriteField(3, B{1, 2, 3, 4, 5});
    writer.WriteField(3, B{9});
    EXPECT_EQ(writer.Data(), (B{1, 2, 3, 9, 0, 0}));
}

TEST(StoreU32BE, WritesOnlyIntoAFieldOfFourBytesOrMore) {
    B bytes = {0, 0, 0, 0, 7};
    EXPECT_TRUE(StoreU32BE(bytes, 0x01020304u));
    EXPECT_EQ(bytes, (B{1, 2, 3, 4, 7}));
    B three = {9, 9, 9};
    EXPECT_FALSE(StoreU32BE(three, 0));
    EXPECT_EQ(three, (B{9, 9, 9})) << "nothing written";
}

}  // namespace
}  // namespace kbr

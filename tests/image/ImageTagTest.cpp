#include <gtest/gtest.h>

#include <ostream>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "devtools/image/ImageBuilder.h"
#include "link/UpgradeImage.h"

namespace kbr {
namespace {

using Bytes = std::vector<uint8_t>;

void Append(Bytes& out, const Bytes& more) { out.insert(out.end(), more.begin(), more.end()); }

Bytes U32(uint32_t v) {
    return {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 8),
            static_cast<uint8_t>(v)};
}

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

// A record written byte by byte, so that the walk is tested against the layout rather than
// against the builder: words 0 and 1, V, then the name and value fields exactly as given.
Bytes Record(uint32_t v, const Bytes& nameField, const Bytes& valueField) {
    Bytes out = {0xAA, 0xBB, 0xCC, 0xDD, 0x11, 0x22, 0x33, 0x44};
    Append(out, U32(v));
    Append(out, nameField);
    Append(out, valueField);
    return out;
}

TEST(FindImageTag, ProductIdWithFiveByteValueIsFollowedByTheNextRecord28BytesOn) {
    // "prod_id" and its zero make an 8-byte name field; V = 5 raises to an 8-byte value field.
    Bytes data = Record(5, Text(std::string("prod_id\0", 8)), Text(std::string("K3300\0\0\0", 8)));
    ASSERT_EQ(data.size(), 12u + 8u + 8u);
    Append(data, Record(4, Text(std::string("version\0", 8)), Text(std::string("1.2\0", 4))));
    EXPECT_EQ(FindImageTag(data, "prod_id"), "K3300");
    EXPECT_EQ(FindImageTag(data, "version"), "1.2");
}

struct TagCase {
    const char* name;
    Bytes data;
    std::string wanted;
    std::optional<std::string> expected;
    friend void PrintTo(const TagCase& c, std::ostream* os) { *os << c.name; }
};

class FindImageTagCases : public testing::TestWithParam<TagCase> {};

TEST_P(FindImageTagCases, Walk) { EXPECT_EQ(FindImageTag(GetParam().data, GetParam().wanted), GetParam().expected); }

Bytes TwoTags() {
    Bytes data = EncodeImageTag("prod_id", "KBR3300");
    Append(data, EncodeImageTag("a:version", "2.0.1"));
    return data;
}

Bytes WithTrailer(Bytes data, const Bytes& trailer) {
    Append(data, trailer);
    return data;
}

const std::string NAME_127(127, 'n');
const std::string NAME_128(128, 'n');

INSTANTIATE_TEST_SUITE_P(
    Cases, FindImageTagCases,
    testing::Values(
        TagCase{"FirstRecord", TwoTags(), "prod_id", "KBR3300"},
        TagCase{"SecondRecord", TwoTags(), "a:version", "2.0.1"},
        TagCase{"NamesAreCaseSensitive", TwoTags(), "Prod_id", std::nullopt},
        TagCase{"PrefixIsNoMatch", TwoTags(), "prod", std::nullopt},
        // After the last record the walk reads payload as records until it leaves the data.
        TagCase{"MissingNameEndsAtTheDataEnd", WithTrailer(TwoTags(), Bytes(40, 0x00)), "version", std::nullopt},
        TagCase{"EmptyData", Bytes{}, "prod_id", std::nullopt},
        TagCase{"RecordHeaderCutShort", Bytes{0, 0, 0, 0, 0, 0, 0}, "prod_id", std::nullopt},
        TagCase{"NameWithoutEnd", Record(4, Text("prod_id"), {}), "prod_id", std::nullopt},
        // A 0xFF byte ends the name with no padding: the value field starts at the 0xFF byte.
        TagCase{"NameEndedByFF", Record(4, WithTrailer(Text("ver"), {0xFF}), Text(std::string("9.1\0", 4))), "ver",
                "\xFF"
                "9.1"},
        TagCase{"FFEndedNameThenNextRecord",
                WithTrailer(Record(4, WithTrailer(Text("abc"), {0xFF}), {'x', 0, 0}), EncodeImageTag("version", "3")),
                "version", "3"},
        TagCase{"LongestNameFound", EncodeImageTag(NAME_127, "v"), NAME_127, "v"},
        TagCase{"OverlongNameEndsTheWalk", WithTrailer(EncodeImageTag(NAME_128, "v"), EncodeImageTag("prod_id", "x")),
                "prod_id", std::nullopt},
        TagCase{"ValueFieldPastTheEnd", Record(64, Text(std::string("prod_id\0", 8)), Text("abc")), "prod_id",
                std::nullopt},
        TagCase{"HugeValueLengthDoesNotWrap",
                WithTrailer(Record(0xFFFFFFFFu, Text(std::string("a\0\0\0", 4)), {}), EncodeImageTag("prod_id", "x")),
                "prod_id", std::nullopt},
        TagCase{"EmptyValueField", Record(0, Text(std::string("prod_id\0", 8)), {}), "prod_id", ""},
        // A value that fills its field without a zero ends with the field.
        TagCase{"ValueFillsItsField", WithTrailer(Record(4, Text(std::string("prod_id\0", 8)), Text("ABCD")), {'E', 0}),
                "prod_id", "ABCD"}),
    [](const testing::TestParamInfo<TagCase>& info) { return info.param.name; });

}  // namespace
}  // namespace kbr

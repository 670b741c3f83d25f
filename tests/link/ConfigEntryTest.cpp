#include "link/ConfigEntry.h"

#include <gtest/gtest.h>

namespace kbr {
namespace {

using B = std::vector<uint8_t>;

TEST(ConfigEntryNumbers, RoundTripModulo32Bits) {
    struct Case {
        const char* text;
        uint32_t value;
        B bytes;
        const char* signedText;
    };
    const Case cases[] = {
        {"-1", 0xFFFFFFFFu, {0xFF, 0xFF, 0xFF, 0xFF}, "-1"},
        {"357908480", 357908480u, {0x15, 0x55, 0x40, 0x00}, "357908480"},
        {"1431650304", 1431650304u, {0x55, 0x55, 0x40, 0x00}, "1431650304"},
        {"4294967296", 0u, {0, 0, 0, 0}, "0"},  // modulo 2^32
        {"4294967297", 1u, {0, 0, 0, 1}, "1"},
        {"2147483648", 0x80000000u, {0x80, 0, 0, 0}, "-2147483648"},
        {"  +12abc", 12u, {0, 0, 0, 12}, "12"},
        {"abc", 0u, {0, 0, 0, 0}, "0"},
        {"", 0u, {0, 0, 0, 0}, "0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(ParseDecimalModulo32(c.text), c.value);
        EXPECT_EQ(EncodeNumber(c.value, 4), c.bytes);
        EXPECT_EQ(DecodeNumber(c.bytes), c.value);
        EXPECT_EQ(SignedDecimal(DecodeNumber(c.bytes)), c.signedText);
    }
}

TEST(ConfigEntryTexts, ZeroFilledAndCutToWidth) {
    EXPECT_EQ(EncodeText("ab", 4), (B{'a', 'b', 0, 0}));
    EXPECT_EQ(EncodeText("abcdef", 4), (B{'a', 'b', 'c', 'd'}));
    EXPECT_EQ(DecodeText(B{'a', 'b', 0, 'c'}), "ab");
    EXPECT_EQ(DecodeText(B{'a', 'b', 'c', 'd'}), "abcd") << "a full field has no zero byte";
}

TEST(ConfigEntryWire, EncodeDecodeRoundTrip) {
    const ConfigEntry entries[] = {
        MakeNumberEntry("scanMask", 0, 0xFFFFFFFF),
        MakeTextEntry("password", "old-password", "new-password-17ch", 17),
        MakeTextEntry("admPswd", "", "", 8),
    };
    for (const auto& entry : entries) {
        const B wire = EncodeConfigEntry(entry);
        EXPECT_EQ(wire.size(), entry.name.size() + 2 + 2 * size_t{entry.width});  // n + 2 + 2W
        const Decoded<ConfigEntry> back = ReadConfigEntry(wire);
        ASSERT_TRUE(back) << back.error;
        EXPECT_EQ(back->name, entry.name);
        EXPECT_EQ(back->width, entry.width);
        EXPECT_EQ(back->valueA, entry.valueA);
        EXPECT_EQ(back->valueB, entry.valueB);
        EXPECT_EQ(back.length, wire.size());
    }
}

TEST(ConfigEntryWire, ScanMaskMinusOneIsFourFFBytes) {
    const B wire = EncodeConfigEntry(MakeNumberEntry("scanMask", 0, ParseDecimalModulo32("-1")));
    const B expected = {'s', 'c', 'a', 'n', 'M', 'a', 's', 'k', 0, 4, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(wire, expected);
}

TEST(ConfigEntryWire, ValuesOfTheWrongLengthAreWrittenAsExactlyWBytes) {
    const ConfigEntry entry{"x", 4, B{1, 2, 3, 4, 5, 6}, B{9}};
    const B wire = EncodeConfigEntry(entry);
    EXPECT_EQ(wire, (B{'x', 0, 4, 1, 2, 3, 4, 9, 0, 0, 0}));
}

TEST(ConfigEntryWire, TruncatedEntriesFailWithoutReadingPastTheData) {
    const B wire = EncodeConfigEntry(MakeNumberEntry("channelMask", 1, 2));
    for (size_t cut = 0; cut < wire.size(); ++cut) {
        const Decoded<ConfigEntry> entry = ReadConfigEntry(std::span<const uint8_t>(wire).first(cut));
        EXPECT_FALSE(entry) << "cut at " << cut;
        EXPECT_FALSE(entry.error.empty()) << "cut at " << cut;
    }
}

TEST(ConfigEntryNumbers, NarrowFieldsDecodeWhatTheyHave) {
    EXPECT_EQ(DecodeNumber(B{0x01, 0x02}), 0x0102u);
    EXPECT_EQ(DecodeNumber(B{0x01, 0x02, 0x03, 0x04, 0x05}), 0x01020304u) << "only the first 4 bytes count";
    EXPECT_EQ(EncodeNumber(0x01020304, 6), (B{0, 0, 1, 2, 3, 4}));
}

}  // namespace
}  // namespace kbr

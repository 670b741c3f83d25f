#include <gtest/gtest.h>

#include <ostream>
#include <cstdint>
#include <random>
#include <string_view>
#include <vector>

#include "link/ImageCrc.h"

namespace kbr {
namespace {

std::span<const uint8_t> Bytes(std::string_view text) {
    return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

TEST(ImageCrc, KnownValues) {
    EXPECT_EQ(ImageCrc(Bytes("123456789")), 0x89A1897Fu);
    EXPECT_EQ(ImageCrc({}), 0u);
    EXPECT_EQ(ImageCrc({}, 0xDEADBEEFu), 0xDEADBEEFu);
    const uint8_t one[] = {1};
    EXPECT_EQ(ImageCrc(one), 0x04C11DB7u);  // the table's T[1] is the polynomial
}

TEST(ImageCrc, DataFollowedByItsBigEndianCrcChecksToZero) {
    std::vector<uint8_t> data(1000);
    std::mt19937 random(7);
    for (auto& b : data) b = static_cast<uint8_t>(random());
    const uint32_t crc = ImageCrc(data);
    for (int shift = 24; shift >= 0; shift -= 8) data.push_back(static_cast<uint8_t>(crc >> shift));
    EXPECT_EQ(ImageCrc(data), 0u);
}

// Every way of computing the CRC must agree with the byte-at-a-time definition, whatever the
// length (around each path's block sizes), the alignment of the data and the CRC carried in.
struct CrcCase {
    const char* name;
    uint32_t (*crc)(std::span<const uint8_t>, uint32_t);
    friend void PrintTo(const CrcCase& c, std::ostream* os) { *os << c.name; }
};

class CrcAgreement : public testing::TestWithParam<CrcCase> {};

TEST_P(CrcAgreement, MatchesBytewiseForEveryLengthAlignmentAndStart) {
    if (GetParam().crc == crc_detail::Folded && !crc_detail::FoldedAvailable()) {
        GTEST_SKIP() << "no carry-less multiplication on this processor";
    }
    std::vector<uint8_t> buffer(5000 + 16);
    std::mt19937 random(3300);
    for (auto& b : buffer) b = static_cast<uint8_t>(random());
    const size_t lengths[] = {0, 1, 3, 4, 15, 16, 17, 63, 64, 65, 127, 128, 129, 191, 192, 200, 255, 256, 1000, 5000};
    const uint32_t starts[] = {0, 0xFFFFFFFFu, 0x89A1897Fu};
    for (size_t length : lengths) {
        for (size_t align : {0, 1, 7}) {
            for (uint32_t start : starts) {
                const std::span<const uint8_t> data(buffer.data() + align, length);
                EXPECT_EQ(GetParam().crc(data, start), crc_detail::Bytewise(data, start))
                    << "length " << length << ", alignment " << align << ", start " << start;
            }
        }
    }
}

TEST_P(CrcAgreement, ContinuingInPiecesGivesTheWholeCrc) {
    if (GetParam().crc == crc_detail::Folded && !crc_detail::FoldedAvailable()) {
        GTEST_SKIP() << "no carry-less multiplication on this processor";
    }
    std::vector<uint8_t> buffer(3000);
    std::mt19937 random(1);
    for (auto& b : buffer) b = static_cast<uint8_t>(random());
    const uint32_t whole = crc_detail::Bytewise(buffer, 0);
    for (size_t split : {0, 1, 13, 128, 1500, 2999, 3000}) {
        const std::span<const uint8_t> all(buffer);
        const uint32_t first = GetParam().crc(all.first(split), 0);
        EXPECT_EQ(GetParam().crc(all.subspan(split), first), whole) << "split at " << split;
    }
}

INSTANTIATE_TEST_SUITE_P(Paths, CrcAgreement,
                         testing::Values(CrcCase{"ImageCrc",
                                                 [](std::span<const uint8_t> d, uint32_t c) { return ImageCrc(d, c); }},
                                         CrcCase{"Sliced", crc_detail::Sliced}, CrcCase{"Folded", crc_detail::Folded}),
                         [](const testing::TestParamInfo<CrcCase>& info) { return info.param.name; });

}  // namespace
}  // namespace kbr

#include "link/ImageCrc.h"

#include <array>
#include <cstddef>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define KBR_CRC_HAVE_FOLDED 1
#include <immintrin.h>
#else
#define KBR_CRC_HAVE_FOLDED 0
#endif

namespace kbr {
namespace {

constexpr uint32_t POLYNOMIAL = 0x04C11DB7u;
constexpr size_t SLICES = 16;

using CrcTables = std::array<std::array<uint32_t, 256>, SLICES>;

// tables[0][i] is the CRC of the single byte i; tables[k][i] is the CRC of byte i followed by k
// zero bytes. With them sixteen input bytes are folded into the CRC with sixteen independent
// look-ups instead of sixteen dependent steps.
constexpr CrcTables MakeTables() {
    CrcTables tables{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t crc = i << 24;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 0x80000000u) ? (crc << 1) ^ POLYNOMIAL : crc << 1;
        }
        tables[0][i] = crc;
    }
    for (size_t k = 1; k < SLICES; ++k) {
        for (size_t i = 0; i < 256; ++i) {
            const uint32_t previous = tables[k - 1][i];
            tables[k][i] = (previous << 8) ^ tables[0][previous >> 24];
        }
    }
    return tables;
}

constexpr CrcTables TABLES = MakeTables();
static_assert(TABLES[0][1] == POLYNOMIAL);

inline uint32_t LoadBE32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}

inline uint32_t Step(uint32_t crc, uint8_t byte) { return (crc << 8) ^ TABLES[0][(crc >> 24) ^ byte]; }

#if KBR_CRC_HAVE_FOLDED

// x^n mod P, the factor that moves a bit n places further down the message.
constexpr uint64_t XPowModP(unsigned n) {
    uint64_t r = 1;
    for (unsigned i = 0; i < n; ++i) {
        r <<= 1;
        if (r & 0x100000000ull) r ^= 0x100000000ull | POLYNOMIAL;
    }
    return r;
}

// A 128-bit block B = H·x^64 + L of the message, moved F bits further on, is congruent to
// H·(x^(F+64) mod P) + L·(x^F mod P): two carry-less products of at most 95 bits that line up
// with the block F bits later.
struct FoldConstants {
    uint64_t high;
    uint64_t low;
};
constexpr FoldConstants FoldBy(unsigned bits) { return {XPowModP(bits + 64), XPowModP(bits)}; }

constexpr FoldConstants FOLD512 = FoldBy(512);
constexpr FoldConstants FOLD128 = FoldBy(128);

__attribute__((target("pclmul,sse4.1"))) inline __m128i Fold(__m128i block, __m128i k) {
    return _mm_xor_si128(_mm_clmulepi64_si128(block, k, 0x11), _mm_clmulepi64_si128(block, k, 0x00));
}

// Sixteen message bytes as one 128-bit number whose most significant bit is the message's first
// bit, so that bit i is the coefficient of x^i.
__attribute__((target("pclmul,sse4.1"))) inline __m128i LoadBlock(const uint8_t* p) {
    const __m128i reverse = _mm_set_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    return _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), reverse);
}

__attribute__((target("pclmul,sse4.1"))) uint32_t FoldedImpl(const uint8_t* p, size_t n, uint32_t crc) {
    // Short inputs are not worth the set-up.
    if (n < 128) return crc_detail::Sliced({p, n}, crc);

    const __m128i fold512 = _mm_set_epi64x(static_cast<long long>(FOLD512.high), static_cast<long long>(FOLD512.low));
    const __m128i fold128 = _mm_set_epi64x(static_cast<long long>(FOLD128.high), static_cast<long long>(FOLD128.low));

    // Continuing from crc is the same as adding it to the message's first 32 bits.
    __m128i x0 = _mm_xor_si128(LoadBlock(p), _mm_set_epi32(static_cast<int>(crc), 0, 0, 0));
    __m128i x1 = LoadBlock(p + 16);
    __m128i x2 = LoadBlock(p + 32);
    __m128i x3 = LoadBlock(p + 48);
    p += 64;
    n -= 64;

    // Four independent lanes keep the multiplier busy; each lane folds onto its block 64 bytes on.
    while (n >= 64) {
        x0 = _mm_xor_si128(Fold(x0, fold512), LoadBlock(p));
        x1 = _mm_xor_si128(Fold(x1, fold512), LoadBlock(p + 16));
        x2 = _mm_xor_si128(Fold(x2, fold512), LoadBlock(p + 32));
        x3 = _mm_xor_si128(Fold(x3, fold512), LoadBlock(p + 48));
        p += 64;
        n -= 64;
    }

    __m128i x = _mm_xor_si128(Fold(x0, fold128), x1);
    x = _mm_xor_si128(Fold(x, fold128), x2);
    x = _mm_xor_si128(Fold(x, fold128), x3);
    while (n >= 16) {
        x = _mm_xor_si128(Fold(x, fold128), LoadBlock(p));
        p += 16;
        n -= 16;
    }

    // x is congruent to everything read so far; its CRC (from 0) is the CRC of all of it.
    alignas(16) uint8_t residue[16];
    const __m128i reverse = _mm_set_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    _mm_store_si128(reinterpret_cast<__m128i*>(residue), _mm_shuffle_epi8(x, reverse));
    crc = crc_detail::Sliced({residue, sizeof residue}, 0);
    return crc_detail::Sliced({p, n}, crc);
}

#endif  // KBR_CRC_HAVE_FOLDED

}  // namespace

namespace crc_detail {

uint32_t Bytewise(std::span<const uint8_t> data, uint32_t crc) {
    for (uint8_t byte : data) crc = Step(crc, byte);
    return crc;
}

uint32_t Sliced(std::span<const uint8_t> data, uint32_t crc) {
    const uint8_t* p = data.data();
    size_t n = data.size();
    const auto& t = TABLES;
    while (n >= SLICES) {
        const uint32_t a = crc ^ LoadBE32(p);
        crc = t[15][a >> 24] ^ t[14][(a >> 16) & 0xFF] ^ t[13][(a >> 8) & 0xFF] ^ t[12][a & 0xFF] ^ t[11][p[4]] ^
              t[10][p[5]] ^ t[9][p[6]] ^ t[8][p[7]] ^ t[7][p[8]] ^ t[6][p[9]] ^ t[5][p[10]] ^ t[4][p[11]] ^
              t[3][p[12]] ^ t[2][p[13]] ^ t[1][p[14]] ^ t[0][p[15]];
        p += SLICES;
        n -= SLICES;
    }
    while (n-- > 0) crc = Step(crc, *p++);
    return crc;
}

bool FoldedAvailable() {
#if KBR_CRC_HAVE_FOLDED
    static const bool available = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
    return available;
#else
    return false;
#endif
}

uint32_t Folded(std::span<const uint8_t> data, uint32_t crc) {
#if KBR_CRC_HAVE_FOLDED
    return FoldedImpl(data.data(), data.size(), crc);
#else
    return Sliced(data, crc);
#endif
}

}  // namespace crc_detail

uint32_t ImageCrc(std::span<const uint8_t> data, uint32_t crc) {
    if (crc_detail::FoldedAvailable()) return crc_detail::Folded(data, crc);
    return crc_detail::Sliced(data, crc);
}

}  // namespace kbr

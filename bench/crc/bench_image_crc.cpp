// Throughput of the image section CRC on a 16 MiB buffer, side by side with zlib's crc32 over the
// same buffer: a different polynomial, but the same work per byte, so zlib is the bar to meet.
// ImageCrc is what the reader uses; the Sliced and Bytewise rows show the table-driven fallback
// (processors without carry-less multiplication) and the plain definition.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdint>
#include <random>
#include <span>
#include <vector>

#include "link/ImageCrc.h"

namespace {

constexpr size_t BUFFER_SIZE = 16u << 20;

const std::vector<uint8_t>& Buffer() {
    static const std::vector<uint8_t> buffer = [] {
        std::vector<uint8_t> bytes(BUFFER_SIZE);
        std::mt19937 random(3300);
        for (auto& b : bytes) b = static_cast<uint8_t>(random());
        return bytes;
    }();
    return buffer;
}

template <typename Crc>
void Run(benchmark::State& state, Crc crc) {
    const auto& buffer = Buffer();
    for (auto _ : state) {
        benchmark::DoNotOptimize(crc(buffer));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(buffer.size()));
}

void BM_ImageCrc(benchmark::State& state) {
    Run(state, [](std::span<const uint8_t> b) { return kbr::ImageCrc(b); });
}

void BM_ZlibCrc32(benchmark::State& state) {
    // zlib takes at most 4 GiB per call through its uInt length; 16 MiB is one call.
    Run(state, [](std::span<const uint8_t> b) { return crc32(0L, b.data(), static_cast<uInt>(b.size())); });
}

void BM_ImageCrcSliced(benchmark::State& state) {
    Run(state, [](std::span<const uint8_t> b) { return kbr::crc_detail::Sliced(b, 0); });
}

void BM_ImageCrcBytewise(benchmark::State& state) {
    Run(state, [](std::span<const uint8_t> b) { return kbr::crc_detail::Bytewise(b, 0); });
}

}  // namespace

BENCHMARK(BM_ImageCrc)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ZlibCrc32)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ImageCrcSliced)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ImageCrcBytewise)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();

// Any bytes as an upgrade image file: the in-memory description and the loader reading the same
// bytes from a file must agree, and neither may read outside what it was given.
//
// Random bytes almost never pass a CRC, so the fuzzer would rarely get past the CRC check. When the
// lowest bit of the file's first byte (a header byte the reader ignores) is set, the harness
// rewrites the CRC of each section that lies inside the file, so that the tag walk and the loading
// of sections with arbitrary contents are reached too.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include <sys/mman.h>
#include <unistd.h>

#include "devtools/image/ImageBuilder.h"
#include "link/UpgradeImage.h"

namespace {

// One anonymous in-memory file for the whole run, rewritten for each input.
const std::string& InputPath() {
    static const std::string path = [] {
        const int fd = ::memfd_create("kbr-image-fuzz", MFD_CLOEXEC);
        if (fd < 0) std::abort();
        return "/proc/self/fd/" + std::to_string(fd);
    }();
    return path;
}

int InputFd() { return std::stoi(InputPath().substr(sizeof("/proc/self/fd/") - 1)); }

void Check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

std::vector<uint8_t> WithSealedSections(std::span<const uint8_t> input) {
    std::vector<uint8_t> bytes(input.begin(), input.end());
    const kbr::ImageLayout layout = kbr::InspectImage(bytes);
    for (int which = 1; which <= 2; ++which) {
        const auto section = kbr::ImageSectionBytes(bytes, layout, which);
        if (section.empty()) continue;
        const auto offset = static_cast<size_t>(section.data() - bytes.data());
        kbr::SealImageSection(std::span<uint8_t>(bytes).subspan(offset, section.size()));
    }
    return bytes;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t inputSize) {
    std::vector<uint8_t> sealed;
    if (inputSize > 0 && (input[0] & 1)) sealed = WithSealedSections({input, inputSize});
    const uint8_t* data = sealed.empty() ? input : sealed.data();
    const size_t size = inputSize;
    const std::span<const uint8_t> file(data, size);
    const kbr::ImageDescription description = kbr::DescribeImage(file);

    const int fd = InputFd();
    Check(::ftruncate(fd, 0) == 0);
    Check(size == 0 || ::pwrite(fd, data, size, 0) == static_cast<ssize_t>(size));

    for (int which = 1; which <= 2; ++which) {
        int messages = 0;
        const auto section = kbr::LoadImageSection(InputPath(), which, [&](const std::string&) { ++messages; });
        Check(messages == 0);  // the file is always readable
        const auto& tags = description.tags[static_cast<size_t>(which - 1)];
        const bool expected = description.layout.valid && tags && tags->productId;
        Check(section.has_value() == expected);
        if (section) {
            const auto bytes = kbr::ImageSectionBytes(file, description.layout, which);
            Check(bytes.size() == section->bytes.size());
            Check(std::equal(bytes.begin(), bytes.end(), section->bytes.begin()));
            Check(section->productId == *tags->productId);
        }
    }
    return 0;
}

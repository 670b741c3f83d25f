#pragma once
// Writing upgrade images: valid ones with chosen tags and section sizes, and deliberately broken
// ones, for the image tool, tests, demos and benchmarks.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "link/UpgradeImage.h"

namespace kbr {

struct ImageTagText {
    std::string name;
    std::string value;
};

struct ImageSectionSpec {
    std::vector<ImageTagText> tags;
    // Total bytes of the section (16-byte start, tags, payload, CRC); 0 for the smallest that holds
    // the tags.
    size_t size = 0;
};

// Ways to spoil an otherwise valid image.
enum class ImageDefect {
    None,
    Section1Crc,    // one byte of section 1 changed after its CRC was written
    Section2Crc,    // the same in section 2
    NoProductId,    // section 1 without its "prod_id" tag (CRC correct)
    EmptySection2,  // off2 points at the last byte of the file
    Truncated,      // the file's last byte cut off
    HugeOffset,     // off2 far beyond the end of the file
};

struct ImageSpec {
    ImageSectionSpec section1;
    ImageSectionSpec section2;
    size_t headerSize = IMAGE_HEADER_SIZE;  // bytes before section 1, at least 12 (off1 = headerSize - 1)
    ImageDefect defect = ImageDefect::None;
};

// The usual image: section 1 carries "prod_id" and "a:version", section 2 "prod_id" and
// "version"; sizes of 0 mean as small as possible.
ImageSpec StandardImageSpec(std::string_view productId, std::string_view version, std::string_view appVersion,
                            size_t size1 = 0, size_t size2 = 0);

// One tag record: words 0 and 1 zero, V = value length + 1, the name zero-ended and padded to a
// multiple of 4, the value zero-ended and padded to a multiple of 4. No checks of the texts: a
// test may want a record with odd contents.
std::vector<uint8_t> EncodeImageTag(std::string_view name, std::string_view value);

// Bytes a section needs at the least for these tags.
size_t MinimumImageSectionSize(const std::vector<ImageTagText>& tags);

// Rewrites a section's last four bytes so that its bytes from offset 16 pass the CRC check.
// Sections shorter than 20 bytes are left alone.
void SealImageSection(std::span<uint8_t> section);

// A section: the start text, the tags, payload bytes (a fixed pseudo-random pattern) up to the
// size, and the CRC. nullopt, with error set, when the tags are unusable or do not fit.
std::optional<std::vector<uint8_t>> BuildImageSection(const ImageSectionSpec& plan, int which, std::string* error);

// A whole image file. nullopt, with error set, when the plan cannot be built.
std::optional<std::vector<uint8_t>> BuildUpgradeImage(const ImageSpec& plan, std::string* error = nullptr);

// Writes bytes to a file (created or replaced). False, with error set, on failure.
[[nodiscard]] bool WriteImageFile(const std::string& path, std::span<const uint8_t> bytes, std::string* error);

}  // namespace kbr

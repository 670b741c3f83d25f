#include "devtools/image/ImageBuilder.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "link/ByteWriter.h"
#include "link/ImageCrc.h"
#include "link/UpgradeImage.h"

namespace kbr {
namespace {

constexpr size_t RoundUp4(size_t n) { return (n + 3) & ~size_t{3}; }

// A text, its zero byte, and zero bytes up to a multiple of 4.
void WritePaddedText(ByteWriter& out, std::string_view text) { out.WriteFixedText(RoundUp4(text.size() + 1), text); }

bool Fail(std::string* error, std::string message) {
    if (error) *error = std::move(message);
    return false;
}

bool CheckTag(const ImageTagText& tag, std::string* error) {
    if (tag.name.empty() || tag.name.size() > MAX_IMAGE_TAG_NAME_LENGTH) {
        return Fail(error, "tag name \"" + tag.name + "\" must have 1 to 127 characters");
    }
    auto bad = [](char c) { return c == '\0' || static_cast<uint8_t>(c) == 0xFF; };
    if (std::any_of(tag.name.begin(), tag.name.end(), bad)) {
        return Fail(error, "tag name \"" + tag.name + "\" holds a zero or 0xFF byte");
    }
    if (tag.value.find('\0') != std::string::npos) {
        return Fail(error, "the value of tag \"" + tag.name + "\" holds a zero byte");
    }
    return true;
}

}  // namespace

ImageSpec StandardImageSpec(std::string_view productId, std::string_view version, std::string_view appVersion,
                            size_t size1, size_t size2) {
    ImageSpec plan;
    plan.section1.tags = {{std::string(IMAGE_TAG_PRODUCT_ID), std::string(productId)},
                          {std::string(IMAGE_TAG_APP_VERSION), std::string(appVersion)}};
    plan.section1.size = size1;
    plan.section2.tags = {{std::string(IMAGE_TAG_PRODUCT_ID), std::string(productId)},
                          {std::string(IMAGE_TAG_VERSION), std::string(version)}};
    plan.section2.size = size2;
    return plan;
}

std::vector<uint8_t> EncodeImageTag(std::string_view name, std::string_view value) {
    ByteWriter out;
    out.WriteU32BE(0);  // words 0 and 1, not examined
    out.WriteU32BE(0);
    out.WriteU32BE(static_cast<uint32_t>(value.size() + 1));  // V: the value and its zero byte
    WritePaddedText(out, name);
    WritePaddedText(out, value);
    return out.Take();
}

size_t MinimumImageSectionSize(const std::vector<ImageTagText>& tags) {
    size_t size = IMAGE_SECTION_START_SIZE + IMAGE_CRC_SIZE;
    for (const auto& tag : tags) size += EncodeImageTag(tag.name, tag.value).size();
    return size;
}

void SealImageSection(std::span<uint8_t> section) {
    if (section.size() < IMAGE_SECTION_START_SIZE + IMAGE_CRC_SIZE) return;
    const auto covered =
        section.subspan(IMAGE_SECTION_START_SIZE, section.size() - IMAGE_SECTION_START_SIZE - IMAGE_CRC_SIZE);
    (void)StoreU32BE(section.last(IMAGE_CRC_SIZE), ImageCrc(covered));
}

std::optional<std::vector<uint8_t>> BuildImageSection(const ImageSectionSpec& plan, int which, std::string* error) {
    for (const auto& tag : plan.tags) {
        if (!CheckTag(tag, error)) return std::nullopt;
    }
    const size_t minimum = MinimumImageSectionSize(plan.tags);
    const size_t size = plan.size == 0 ? minimum : plan.size;
    if (size < minimum) {
        Fail(error, "section " + std::to_string(which) + " needs at least " + std::to_string(minimum) +
                        " bytes for its tags, " + std::to_string(size) + " asked for");
        return std::nullopt;
    }
    if (size > MAX_IMAGE_FILE_SIZE) {
        Fail(error, "section " + std::to_string(which) + " is larger than an image may be");
        return std::nullopt;
    }

    std::vector<uint8_t> section;
    section.reserve(size);
    // The start is not examined by the reader; a readable marker helps when looking at a dump.
    const std::string start = "KBR3300-SECTION" + std::to_string(which);
    section.insert(section.end(), start.begin(), start.begin() + IMAGE_SECTION_START_SIZE);
    for (const auto& tag : plan.tags) {
        const auto record = EncodeImageTag(tag.name, tag.value);
        section.insert(section.end(), record.begin(), record.end());
    }
    // Payload: a fixed pseudo-random pattern, so that images are reproducible and a transfer that
    // moves or drops bytes shows.
    uint32_t state = 0x9E3779B9u * static_cast<uint32_t>(which);
    while (section.size() < size - IMAGE_CRC_SIZE) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        section.push_back(static_cast<uint8_t>(state >> 24));
    }
    section.resize(size);
    SealImageSection(section);
    return section;
}

std::optional<std::vector<uint8_t>> BuildUpgradeImage(const ImageSpec& plan, std::string* error) {
    if (plan.headerSize < IMAGE_HEADER_SIZE) {
        Fail(error, "the header needs at least " + std::to_string(IMAGE_HEADER_SIZE) + " bytes");
        return std::nullopt;
    }
    ImageSectionSpec first = plan.section1;
    if (plan.defect == ImageDefect::NoProductId) {
        std::erase_if(first.tags, [](const ImageTagText& tag) { return tag.name == IMAGE_TAG_PRODUCT_ID; });
    }
    // Refuse an oversized image before spending time on its payload.
    auto plannedSize = [](const ImageSectionSpec& section) {
        return uint64_t{section.size == 0 ? MinimumImageSectionSize(section.tags) : section.size};
    };
    const uint64_t total = uint64_t{plan.headerSize} + plannedSize(first) + plannedSize(plan.section2);
    if (total > MAX_IMAGE_FILE_SIZE) {
        Fail(error, "the image would be " + std::to_string(total) + " bytes, more than the " +
                        std::to_string(MAX_IMAGE_FILE_SIZE) + " an image may have");
        return std::nullopt;
    }
    auto section1 = BuildImageSection(first, 1, error);
    if (!section1) return std::nullopt;
    auto section2 = BuildImageSection(plan.section2, 2, error);
    if (!section2) return std::nullopt;

    const auto off1 = static_cast<uint32_t>(plan.headerSize - 1);
    const auto off2 = static_cast<uint32_t>(off1 + section1->size());
    const size_t fileSize = plan.headerSize + section1->size() + section2->size();
    uint32_t writtenOff2 = off2;
    if (plan.defect == ImageDefect::EmptySection2) writtenOff2 = static_cast<uint32_t>(fileSize - 1);
    if (plan.defect == ImageDefect::HugeOffset) writtenOff2 = 0xFFFFFFF0u;

    ByteWriter file(fileSize);
    const uint8_t marker[] = {'K', 'B', 'R', 'I'};  // word 0, not examined
    file.WriteBytes(marker);
    file.WriteU32BE(off1);
    file.WriteU32BE(writtenOff2);
    file.WriteZeros(plan.headerSize - IMAGE_HEADER_SIZE);
    file.WriteBytes(*section1);
    file.WriteBytes(*section2);
    std::vector<uint8_t> image = file.Take();

    // A changed byte just past the tags, inside the CRC-covered part.
    auto spoil = [&image](size_t sectionOffset, size_t sectionSize) {
        const size_t at = sectionOffset + std::min(sectionSize - 1, IMAGE_SECTION_START_SIZE + 1);
        image[at] ^= 0x5A;
    };
    switch (plan.defect) {
        case ImageDefect::None:
        case ImageDefect::NoProductId:
        case ImageDefect::EmptySection2:  // in the header written above
        case ImageDefect::HugeOffset: break;
        case ImageDefect::Section1Crc: spoil(off1 + 1, section1->size()); break;
        case ImageDefect::Section2Crc: spoil(off2 + 1, section2->size()); break;
        case ImageDefect::Truncated: image.pop_back(); break;
    }
    return image;
}

bool WriteImageFile(const std::string& path, std::span<const uint8_t> bytes, std::string* error) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return Fail(error, path + ": " + std::strerror(errno));
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    const int writeError = errno;
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed) return Fail(error, path + ": " + std::strerror(written ? errno : writeError));
    return true;
}

}  // namespace kbr

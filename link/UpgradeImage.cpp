#include "link/UpgradeImage.h"

#include <algorithm>
#include <cerrno>

#include "link/ByteReader.h"
#include "link/ImageCrc.h"
#include "platform/Platform.h"

namespace kbr {
namespace {

constexpr uint64_t RoundUp4(uint64_t n) { return (n + 3) & ~uint64_t{3}; }

ImageFileData FileError(int error) {
    ImageFileData result;
    result.errorNumber = error;
    result.error = FileErrorCauseFromErrno(error);
    return result;
}

}  // namespace

// ---- File errors -------------------------------------------------------------------------------

FileErrorCause FileErrorCauseFromErrno(int error) {
    switch (error) {
        case 0: return FileErrorCause::Unspecified;
        case ENOENT: return FileErrorCause::NotFound;
        case ENOTDIR:
        case ENAMETOOLONG:
        case ELOOP: return FileErrorCause::BadPath;
        case EMFILE:
        case ENFILE: return FileErrorCause::TooManyOpenFiles;
        case EACCES:
        case EPERM:
        case EISDIR:  // what opening a folder as a file gives on Windows, too
            return FileErrorCause::AccessDenied;
        case EBADF: return FileErrorCause::InvalidHandle;
        case ESPIPE: return FileErrorCause::BadSeek;
        case EIO: return FileErrorCause::HardwareError;
        case ETXTBSY:
        case EBUSY: return FileErrorCause::SharingViolation;
        default: return FileErrorCause::Other;
    }
}

std::string_view FileErrorMessage(FileErrorCause cause) {
    switch (cause) {
        case FileErrorCause::Unspecified: return "An unspecified error occurred.";
        case FileErrorCause::NotFound: return "The file could not be located.";
        case FileErrorCause::BadPath: return "All or part of the path is invalid.";
        case FileErrorCause::TooManyOpenFiles: return "The permitted number of open files was exceeded.";
        case FileErrorCause::AccessDenied: return "The file could not be accessed.";
        case FileErrorCause::InvalidHandle: return "There was an attempt to use an invalid file handle.";
        case FileErrorCause::BadSeek: return "There was an error trying to set the file pointer.";
        case FileErrorCause::HardwareError: return "There was a hardware error.";
        case FileErrorCause::SharingViolation: return "Sharing Violation.";
        case FileErrorCause::Other: break;
    }
    return "File Open Error.";
}

// ---- Reading -----------------------------------------------------------------------------------

std::string DecodeImagePath(std::string_view path) {
    std::string decoded;
    decoded.reserve(path.size());
    for (size_t i = 0; i < path.size();) {
        if (path.substr(i, 3) == "%20") {
            decoded += ' ';
            i += 3;
        } else {
            decoded += path[i++];
        }
    }
    return decoded;
}

ImageFileData ReadImageFile(const std::string& path) {
    platform::WholeFile file = platform::ReadWholeFile(path, MAX_IMAGE_FILE_SIZE);
    if (file.error != 0) return FileError(file.error);
    ImageFileData result;
    result.tooLarge = file.tooLarge;
    result.bytes = std::move(file.bytes);
    return result;
}

// ---- Layout ------------------------------------------------------------------------------------

ImageLayout InspectImage(std::span<const uint8_t> file) {
    ImageLayout layout;
    layout.fileSize = file.size();

    ByteReader header(file);
    uint32_t notExamined = 0;
    if (!header.ReadU32BE(notExamined) || !header.ReadU32BE(layout.off1) || !header.ReadU32BE(layout.off2)) {
        layout.problem = "the file is shorter than its " + std::to_string(IMAGE_HEADER_SIZE) + "-byte header";
        return layout;
    }
    layout.headerComplete = true;

    const uint64_t length = file.size();
    const uint64_t off1 = layout.off1;
    const uint64_t off2 = layout.off2;
    auto& s1 = layout.sections[0];
    auto& s2 = layout.sections[1];
    s1.offset = off1 + 1;
    s2.offset = off2 + 1;
    // Computed wide, so that offsets in the wrong order show as an empty extent rather than wrap.
    s1.size = off2 > off1 ? off2 - off1 : 0;
    s2.size = length > off2 + 1 ? length - off2 - 1 : 0;
    s1.insideFile = s1.size > 0 && off2 < length;
    s2.insideFile = s2.size > 0;

    if (s1.size == 0) {
        layout.problem = off2 == off1 ? "section 1 is empty (off1 equals off2)" : "off2 lies before off1";
    } else if (s2.size == 0) {
        layout.problem = off2 + 1 == length ? "section 2 is empty (off2 is the last byte of the file)"
                                            : "off2 lies beyond the end of the file";
    }

    for (size_t i = 0; i < 2; ++i) {
        auto& section = layout.sections[i];
        if (!section.insideFile) continue;
        if (section.size < IMAGE_SECTION_START_SIZE) {
            if (layout.problem.empty()) {
                layout.problem = "section " + std::to_string(i + 1) + " is shorter than its " +
                                 std::to_string(IMAGE_SECTION_START_SIZE) + "-byte start";
            }
            continue;
        }
        const auto covered =
            file.subspan(section.offset + IMAGE_SECTION_START_SIZE, section.size - IMAGE_SECTION_START_SIZE);
        section.crcGood = ImageCrc(covered) == 0;
        if (!section.crcGood && layout.problem.empty()) {
            layout.problem = "section " + std::to_string(i + 1) + " fails its CRC";
        }
    }
    layout.valid = layout.problem.empty();
    return layout;
}

std::span<const uint8_t> ImageSectionBytes(std::span<const uint8_t> file, const ImageLayout& layout, int which) {
    if (which != 1 && which != 2) return {};
    const auto& section = layout.sections[static_cast<size_t>(which - 1)];
    if (!section.insideFile || section.offset > file.size() || section.size > file.size() - section.offset) return {};
    return file.subspan(section.offset, section.size);
}

// ---- Tags --------------------------------------------------------------------------------------

std::optional<std::string> FindImageTag(std::span<const uint8_t> data, std::string_view name) {
    ByteReader record(data);
    while (!record.AtEnd()) {
        // Words 0 and 1 are not examined; V is the length of the value field.
        uint32_t word0 = 0;
        uint32_t word1 = 0;
        uint32_t valueLength = 0;
        if (!record.ReadU32BE(word0) || !record.ReadU32BE(word1) || !record.ReadU32BE(valueLength)) return std::nullopt;

        // The name ends at a zero byte (padded to a multiple of 4 from the name's start) or at a
        // 0xFF byte (no padding); without either within 128 bytes it is too long or runs out.
        const size_t nameStart = record.Offset();
        std::span<const uint8_t> window;
        if (!record.ReadUpTo(MAX_IMAGE_TAG_NAME_LENGTH + 1, window)) return std::nullopt;
        const auto end = std::find_if(window.begin(), window.end(), [](uint8_t b) { return b == 0 || b == 0xFF; });
        if (end == window.end()) return std::nullopt;
        const auto nameLength = static_cast<size_t>(end - window.begin());
        const uint64_t nameField = *end == 0 ? RoundUp4(nameLength + 1) : nameLength;
        const uint64_t valueField = RoundUp4(valueLength);
        const bool wanted = std::equal(window.begin(), end, name.begin(), name.end(),
                                       [](uint8_t b, char c) { return b == static_cast<uint8_t>(c); });

        // A record that does not fit in data ends the walk.
        std::span<const uint8_t> value;
        if (!record.Seek(nameStart + nameField) || !record.ReadBytes(valueField, value)) return std::nullopt;
        if (wanted) return TextUpToZero(value);
    }
    return std::nullopt;
}

ImageSectionTags ReadKnownImageTags(std::span<const uint8_t> section) {
    ImageSectionTags tags;
    if (section.size() < IMAGE_SECTION_START_SIZE) return tags;
    const auto data = section.subspan(IMAGE_SECTION_START_SIZE);
    tags.productId = FindImageTag(data, IMAGE_TAG_PRODUCT_ID);
    tags.version = FindImageTag(data, IMAGE_TAG_VERSION);
    tags.appVersion = FindImageTag(data, IMAGE_TAG_APP_VERSION);
    return tags;
}

ImageDescription DescribeImage(std::span<const uint8_t> file) {
    ImageDescription description;
    description.layout = InspectImage(file);
    bool productIds = true;
    for (int which = 1; which <= 2; ++which) {
        const auto bytes = ImageSectionBytes(file, description.layout, which);
        auto& tags = description.tags[static_cast<size_t>(which - 1)];
        if (bytes.size() >= IMAGE_SECTION_START_SIZE) tags = ReadKnownImageTags(bytes);
        productIds = productIds && tags && tags->productId;
    }
    description.upgradeImage = description.layout.valid && productIds;
    return description;
}

// ---- Loading -----------------------------------------------------------------------------------

std::span<const uint8_t> LoadedImage::Section(int which) const { return ImageSectionBytes(file, layout, which); }

std::optional<ImageSection> LoadedImage::TakeSection(int which) const {
    if (which != 1 && which != 2) return std::nullopt;
    const auto& productId = productIds[static_cast<size_t>(which - 1)];
    if (!productId) return std::nullopt;
    const auto bytes = Section(which);
    return ImageSection{std::vector<uint8_t>(bytes.begin(), bytes.end()), *productId};
}

std::optional<LoadedImage> LoadImage(std::string_view path, const MessageSink& showMessage) {
    ImageFileData data = ReadImageFile(DecodeImagePath(path));
    if (data.error) {
        if (showMessage) showMessage(std::string(FileErrorMessage(*data.error)));
        return std::nullopt;
    }
    if (data.tooLarge) return std::nullopt;

    LoadedImage image;
    image.layout = InspectImage(data.bytes);
    if (!image.layout.valid) return std::nullopt;
    image.file = std::move(data.bytes);
    for (int which = 1; which <= 2; ++which) {
        image.productIds[static_cast<size_t>(which - 1)] =
            FindImageTag(image.Section(which).subspan(IMAGE_SECTION_START_SIZE), IMAGE_TAG_PRODUCT_ID);
    }
    return image;
}

std::optional<ImageSection> LoadImageSection(std::string_view path, int which, const MessageSink& showMessage) {
    if (which != 1 && which != 2) return std::nullopt;
    const std::optional<LoadedImage> image = LoadImage(path, showMessage);
    if (!image) return std::nullopt;
    return image->TakeSection(which);
}

std::optional<std::string> ReadImageVersionTag(std::string_view path, const MessageSink& showMessage) {
    const auto section = LoadImageSection(path, 1, showMessage);
    if (!section) return std::nullopt;
    return FindImageTag(std::span<const uint8_t>(section->bytes).subspan(IMAGE_SECTION_START_SIZE),
                        IMAGE_TAG_APP_VERSION);
}

}  // namespace kbr

#pragma once
// Reading firmware upgrade images.
//
// File layout (big-endian): bytes 4-7 hold off1, the offset of the last byte before section 1;
// bytes 8-11 hold off2, the offset of the last byte of section 1. Section 1 runs from off1 + 1 to
// off2, section 2 from off2 + 1 to the end of the file. Each section starts with 16 bytes that are
// sent to the device but not checked; from byte 16 to its end the section is covered by ImageCrc
// (its last four bytes make the CRC come out 0) and begins with a run of tag records:
//
//   word 0, word 1 (4 bytes each, not examined), V (4 bytes: length of the value field),
//   the name (ended by a zero byte and padded with further bytes to a multiple of 4, or ended by
//   a 0xFF byte with no padding), the value field (V raised to a multiple of 4 bytes, holding a
//   text that ends at its first zero byte).
//
// Where the layout leaves room for harm the reader is strict: sections shorter than 16 bytes,
// sections that do not lie inside the file, offsets whose differences wrap around, and files
// larger than MAX_IMAGE_FILE_SIZE are not valid images; a tag walk that would leave the section, and
// a name longer than MAX_IMAGE_TAG_NAME_LENGTH characters, end the lookup as "not found".

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kbr {

// Shows one message box with an OK button.
using MessageSink = std::function<void(const std::string&)>;

inline constexpr size_t IMAGE_HEADER_SIZE = 12;
inline constexpr size_t IMAGE_SECTION_START_SIZE = 16;  // sent, but not covered by the CRC
inline constexpr size_t IMAGE_CRC_SIZE = 4;
inline constexpr size_t MAX_IMAGE_TAG_NAME_LENGTH = 127;
// Larger files are refused before they are read: firmware for this adaptor is far smaller, and
// each section is held in memory whole.
inline constexpr uint64_t MAX_IMAGE_FILE_SIZE = 64ull << 20;

inline constexpr std::string_view IMAGE_TAG_PRODUCT_ID = "prod_id";     // both sections
inline constexpr std::string_view IMAGE_TAG_VERSION = "version";        // section 2
inline constexpr std::string_view IMAGE_TAG_APP_VERSION = "a:version";  // section 1

struct ImageSection {
    std::vector<uint8_t> bytes;  // the whole section, its 16-byte start included
    std::string productId;       // its "prod_id" tag
};

// Validates the whole file and returns section `which` (1 or 2) with its "prod_id" text; nullopt on
// failure. A file error calls showMessage once with the cause's text; a validation failure shows
// nothing. Every "%20" in path stands for a space.
std::optional<ImageSection> LoadImageSection(std::string_view path, int which, const MessageSink& showMessage);

// The text of the tag `name` in data, which is a section's bytes from offset 16 to its end;
// nullopt when there is no such tag or the walk would leave data.
std::optional<std::string> FindImageTag(std::span<const uint8_t> data, std::string_view name);

// The "a:version" tag of section 1 of a valid image (what the page's image version read shows).
std::optional<std::string> ReadImageVersionTag(std::string_view path, const MessageSink& showMessage);

// ---- File errors -------------------------------------------------------------------------------

enum class FileErrorCause {
    Unspecified,
    NotFound,
    BadPath,
    TooManyOpenFiles,
    AccessDenied,
    InvalidHandle,
    BadSeek,
    HardwareError,
    SharingViolation,
    Other,
};

// The cause an errno value stands for (0, an error without a code, is Unspecified).
FileErrorCause FileErrorCauseFromErrno(int error);
// The text shown to the user for a cause, e.g. "The file could not be located."
std::string_view FileErrorMessage(FileErrorCause cause);

// ---- Reading and describing a file ------------------------------------------------------------

// "%20" replaced by a space, as the pages hand over file names.
std::string DecodeImagePath(std::string_view path);

struct ImageFileData {
    std::vector<uint8_t> bytes;
    std::optional<FileErrorCause> error;  // set when the file could not be read
    int errorNumber = 0;                  // the errno behind error
    bool tooLarge = false;                // larger than MAX_IMAGE_FILE_SIZE: not read, not an error
};

// Reads a regular file whole, in binary. The path is used as given (no "%20" decoding). Paths
// that are not regular files are file errors: a directory counts as access denied, a pipe or
// device as a seek error (it has no length and cannot be positioned).
ImageFileData ReadImageFile(const std::string& path);

struct ImageSectionLayout {
    uint64_t offset = 0;  // first byte in the file
    uint64_t size = 0;    // 0 when the offsets give no sensible extent
    bool insideFile = false;
    bool crcGood = false;  // only checked when the section lies inside the file
};

struct ImageLayout {
    uint64_t fileSize = 0;
    bool headerComplete = false;
    uint32_t off1 = 0;
    uint32_t off2 = 0;
    std::array<ImageSectionLayout, 2> sections;
    bool valid = false;   // offsets, sizes and both CRCs good (the tags are not looked at)
    std::string problem;  // why not valid, in words, for tools and tests
};

// Checks the header offsets, the section extents and both sections' CRCs of a file's bytes.
ImageLayout InspectImage(std::span<const uint8_t> file);

// The bytes of section `which` (1 or 2) of a file that InspectImage found valid.
std::span<const uint8_t> ImageSectionBytes(std::span<const uint8_t> file, const ImageLayout& layout, int which);

// The known tags of one section, where present.
struct ImageSectionTags {
    std::optional<std::string> productId;
    std::optional<std::string> version;
    std::optional<std::string> appVersion;
};
ImageSectionTags ReadKnownImageTags(std::span<const uint8_t> section);

// Everything a tool reports about a file: its layout, the tags found in each section that lies
// inside it, and whether both sections load (the file is a usable upgrade image).
struct ImageDescription {
    ImageLayout layout;
    std::array<std::optional<ImageSectionTags>, 2> tags;
    bool upgradeImage = false;
};
ImageDescription DescribeImage(std::span<const uint8_t> file);

// ---- Loading a whole image ------------------------------------------------------------------

// An image file read whole and found valid (header offsets, both sections' CRCs), with each
// section's "prod_id" text where it has one.
struct LoadedImage {
    std::vector<uint8_t> file;
    ImageLayout layout;
    std::array<std::optional<std::string>, 2> productIds;

    // The bytes of section 1 or 2 (empty for any other number).
    std::span<const uint8_t> Section(int which) const;
    // Section `which` as LoadImageSection gives it; nullopt when it has no "prod_id".
    std::optional<ImageSection> TakeSection(int which) const;
};

// Reads the file once and checks what LoadImageSection checks of it, but loads both sections; a
// file error is shown the same way. Nullopt when the file is not a valid image.
std::optional<LoadedImage> LoadImage(std::string_view path, const MessageSink& showMessage);

}  // namespace kbr

#include "tools/devsim/ImageTags.h"

#include "link/ByteReader.h"
#include "link/ImageCrc.h"

namespace kbr::devsim {

namespace {
constexpr size_t SECTION_START_SIZE = 16;
constexpr size_t MAX_TAG_NAME = 127;

size_t RoundUp4(size_t n) { return (n + 3) & ~size_t{3}; }
}  // namespace

std::optional<std::string> FindSectionTag(std::span<const uint8_t> section, std::string_view name) {
    if (section.size() <= SECTION_START_SIZE) return std::nullopt;
    ByteReader reader(section.subspan(SECTION_START_SIZE));
    while (!reader.AtEnd()) {
        uint32_t valueLength = 0;
        if (!reader.Skip(8) || !reader.ReadU32BE(valueLength)) return std::nullopt;
        // The name ends at a zero byte (the field is then padded to a multiple of 4 from the
        // name's start) or at a 0xFF byte (no padding).
        std::string tagName;
        size_t fieldSize = 0;
        for (;;) {
            uint8_t byte = 0;
            if (!reader.ReadU8(byte)) return std::nullopt;
            if (byte == 0) {
                fieldSize = RoundUp4(tagName.size() + 1);
                break;
            }
            if (byte == 0xFF) {
                fieldSize = tagName.size() + 1;
                break;
            }
            if (tagName.size() == MAX_TAG_NAME) return std::nullopt;
            tagName.push_back(static_cast<char>(byte));
        }
        std::span<const uint8_t> value;
        if (!reader.Skip(fieldSize - (tagName.size() + 1)) || valueLength > reader.Remaining() ||
            !reader.ReadBytes(RoundUp4(valueLength), value)) {
            return std::nullopt;
        }
        if (tagName == name) return TextUpToZero(value);
    }
    return std::nullopt;
}

bool SectionCrcIsGood(std::span<const uint8_t> section) {
    return section.size() > SECTION_START_SIZE + 4 && ImageCrc(section.subspan(SECTION_START_SIZE)) == 0;
}

}  // namespace kbr::devsim

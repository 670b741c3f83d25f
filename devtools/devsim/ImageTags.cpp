#include "devtools/devsim/ImageTags.h"

#include "link/ImageCrc.h"
#include "link/UpgradeImage.h"

namespace kbr::devsim {

std::optional<std::string> FindSectionTag(std::span<const uint8_t> section, std::string_view name) {
    // The same tag walk as the program's, so the device and the program never read one image
    // differently.
    if (section.size() <= IMAGE_SECTION_START_SIZE) return std::nullopt;
    return FindImageTag(section.subspan(IMAGE_SECTION_START_SIZE), name);
}

bool SectionCrcIsGood(std::span<const uint8_t> section) {
    return section.size() > IMAGE_SECTION_START_SIZE + IMAGE_CRC_SIZE &&
           ImageCrc(section.subspan(IMAGE_SECTION_START_SIZE)) == 0;
}

}  // namespace kbr::devsim

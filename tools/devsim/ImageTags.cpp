#include "tools/devsim/ImageTags.h"

#include "link/ImageCrc.h"
#include "link/UpgradeImage.h"

namespace kbr::devsim {

std::optional<std::string> FindSectionTag(std::span<const uint8_t> section, std::string_view name) {
    // The same tag walk as the program's, so the device and the program never read one image
    // differently.
    if (section.size() <= kImageSectionStartSize) return std::nullopt;
    return FindImageTag(section.subspan(kImageSectionStartSize), name);
}

bool SectionCrcIsGood(std::span<const uint8_t> section) {
    return section.size() > kImageSectionStartSize + 4 && ImageCrc(section.subspan(kImageSectionStartSize)) == 0;
}

}  // namespace kbr::devsim

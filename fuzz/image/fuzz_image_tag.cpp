// The tag walk over any bytes, looking for any name: the first byte gives the length of the wanted
// name, the bytes after it are the name and then the section data.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string_view>

#include "link/UpgradeImage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const size_t nameLength = std::min<size_t>(data[0], size - 1);
    const std::string_view name(reinterpret_cast<const char*>(data + 1), nameLength);
    const std::span<const uint8_t> section(data + 1 + nameLength, size - 1 - nameLength);

    const auto value = kbr::FindImageTag(section, name);
    if (value && value->size() > section.size()) std::abort();
    // The names the program looks for, too.
    for (std::string_view known : {kbr::IMAGE_TAG_PRODUCT_ID, kbr::IMAGE_TAG_VERSION, kbr::IMAGE_TAG_APP_VERSION}) {
        (void)kbr::FindImageTag(section, known);
    }
    return 0;
}

// Fuzzes the PE resource reader of the page library: any bytes must be parsed or refused without
// reading outside them, and every resource found must lie inside the file.
#include "browser/PeResources.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kbr::PeResourceReader reader;
    if (reader.Parse(std::span<const uint8_t>(data, size))) {
        for (const kbr::PeResource& res : reader.Resources()) {
            if (res.offset > size || res.size > size - res.offset) std::abort();
            (void)reader.Find(res.name);
        }
    }
    return 0;
}

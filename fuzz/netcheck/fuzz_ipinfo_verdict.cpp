// Fuzzes the reading of the IP helper's ipinfo.tmp: the address line stays within its bound,
// the renewal mark is read only from the line after it, and the verdict is always one of the
// three messages.
#include "netcheck/RefreshVerdict.h"

#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view content(reinterpret_cast<const char*>(data), size);
    const kbr::AddressLine line = kbr::ParseAddressLine(content);
    if (line.text.size() > kbr::ADDRESS_LINE_MAX) std::abort();
    if (content.substr(0, line.text.size()) != line.text) std::abort();
    if ((line.state == kbr::AddressLine::State::Read) != !content.empty()) std::abort();
    for (const bool reachable : {false, true}) {
        const std::string_view verdict = kbr::ChooseVerdict(line, reachable);
        if (verdict != kbr::MSG_NO_ADDRESS && verdict != kbr::MSG_STILL_CONFIG_MODE && verdict != kbr::MSG_REFRESHED) {
            std::abort();
        }
        // A failed renewal never reads as success.
        if (line.renewalFailed && verdict == kbr::MSG_REFRESHED) std::abort();
    }
    return 0;
}

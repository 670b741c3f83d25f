#include "netcheck/RefreshVerdict.h"

#include <fstream>

namespace kbr {

AddressLine ReadAddressLine(const std::string& path) {
    AddressLine line;
    std::ifstream file(path);
    if (!file.is_open()) return line;
    line.state = AddressLine::State::Empty;
    char c;
    while (line.text.size() < ADDRESS_LINE_MAX && file.get(c)) {
        line.text.push_back(c);
        if (c == '\n') break;
    }
    if (!line.text.empty()) line.state = AddressLine::State::Read;
    return line;
}

std::string_view ChooseVerdict(const AddressLine& line, bool deviceStillReachable) {
    if (line.state != AddressLine::State::Read) return MSG_NO_ADDRESS;
    // A line shorter than the prefix is compared whole, newline and all, so it never matches.
    const std::string_view prefix = std::string_view(line.text).substr(0, ADDRESS_PREFIX_LENGTH);
    if (prefix == "0.0.0.0" || prefix == "169.254") return MSG_NO_ADDRESS;
    // A 192.168 address while the device still answers on its configuration address most likely
    // came from the device itself.
    if (prefix == "192.168" && deviceStillReachable) return MSG_STILL_CONFIG_MODE;
    return MSG_REFRESHED;
}

}  // namespace kbr

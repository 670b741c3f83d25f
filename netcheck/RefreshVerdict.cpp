#include "netcheck/RefreshVerdict.h"

#include <algorithm>
#include <cstring>

#include "platform/SafeFile.h"

namespace kbr {

namespace {

// The address line, then the renewal line after it.
constexpr size_t READ_MAX = ADDRESS_LINE_MAX + 1 + 64;

}  // namespace

AddressLine ParseAddressLine(std::string_view content) {
    AddressLine line;
    line.state = AddressLine::State::Empty;
    const size_t newline = content.find('\n');
    const size_t length = newline == std::string_view::npos ? content.size() : newline + 1;
    line.text = std::string(content.substr(0, std::min(length, ADDRESS_LINE_MAX)));
    if (!line.text.empty()) line.state = AddressLine::State::Read;
    if (newline != std::string_view::npos && newline < ADDRESS_LINE_MAX) {
        const std::string_view next = content.substr(newline + 1);
        const size_t size = std::strlen(RENEWAL_FAILED_LINE);
        line.renewalFailed = next.substr(0, size) == RENEWAL_FAILED_LINE &&
                             (next.size() == size || next[size] == '\n' || next[size] == '\r' || next[size] == ' ');
    }
    return line;
}

AddressLine ReadAddressLine(const std::string& path) {
    const auto content = platform::ReadRegularFile(path, READ_MAX);
    if (!content) return AddressLine{};
    return ParseAddressLine(*content);
}

std::string_view ChooseVerdict(const AddressLine& line, bool deviceStillReachable) {
    if (line.state != AddressLine::State::Read) return MSG_NO_ADDRESS;
    // A line shorter than the prefix is compared whole, newline and all, so it never matches.
    const std::string_view prefix = std::string_view(line.text).substr(0, ADDRESS_PREFIX_LENGTH);
    if (prefix == "0.0.0.0" || prefix == "169.254") return MSG_NO_ADDRESS;
    // A 192.168 address while the device still answers on its configuration address most likely
    // came from the device itself.
    if (prefix == "192.168" && deviceStillReachable) return MSG_STILL_CONFIG_MODE;
    // Success only for an address that was refreshed: after a failed renewal the PC may still hold
    // the adaptor's lease, which no longer reaches the router.
    if (line.renewalFailed) return MSG_NO_ADDRESS;
    return MSG_REFRESHED;
}

}  // namespace kbr

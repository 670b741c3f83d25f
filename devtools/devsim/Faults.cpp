#include "devtools/devsim/Faults.h"

#include <charconv>

#include "link/Messages.h"

namespace kbr::devsim {

namespace {

bool SetError(std::string* error, std::string text) {
    if (error) *error = std::move(text);
    return false;
}

template <typename T>
bool ParseUnsigned(std::string_view text, T& out) {
    if (text.empty()) return false;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc() && end == text.data() + text.size();
}

struct ActionName {
    std::string_view name;
    FaultAction action;
};
constexpr ActionName ACTION_NAMES[] = {
    {"status", FaultAction::Status}, {"wrong-type", FaultAction::WrongType}, {"short16", FaultAction::Short16},
    {"silent", FaultAction::Silent}, {"close", FaultAction::Close},
};

}  // namespace

const char* FaultActionName(FaultAction action) {
    for (const auto& entry : ACTION_NAMES) {
        if (entry.action == action) return entry.name.data();
    }
    return "?";
}

std::optional<FaultSpec> ParseFaultSpec(std::string_view text, std::string* error) {
    const size_t first = text.find(':');
    const size_t second = first == std::string_view::npos ? first : text.find(':', first + 1);
    if (second == std::string_view::npos) {
        SetError(error, "fault '" + std::string(text) + "' is not REQ:N:ACTION");
        return std::nullopt;
    }
    const std::string_view typeText = text.substr(0, first);
    const std::string_view nthText = text.substr(first + 1, second - first - 1);
    const std::string_view actionText = text.substr(second + 1);

    FaultSpec parsed;
    unsigned type = 0;
    if (!ParseUnsigned(typeText, type) || type > 255 || !IsRequestType(static_cast<uint8_t>(type))) {
        SetError(error, "fault '" + std::string(text) + "': '" + std::string(typeText) +
                            "' is not a request type (0, 2, 6, 8, 10, 12, 15 or 64)");
        return std::nullopt;
    }
    parsed.requestType = static_cast<uint8_t>(type);
    if (!ParseUnsigned(nthText, parsed.nth) || parsed.nth == 0) {
        SetError(error, "fault '" + std::string(text) + "': '" + std::string(nthText) + "' is not a count from 1");
        return std::nullopt;
    }
    for (const auto& entry : ACTION_NAMES) {
        if (entry.name == actionText) {
            parsed.action = entry.action;
            return parsed;
        }
    }
    SetError(error, "fault '" + std::string(text) + "': unknown action '" + std::string(actionText) +
                        "' (status, wrong-type, short16, silent or close)");
    return std::nullopt;
}

}  // namespace kbr::devsim

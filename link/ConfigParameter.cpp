#include "link/ConfigParameter.h"

#include <algorithm>

namespace kbr {

std::optional<size_t> ParameterIndex(std::string_view name) {
    auto it = std::find(ParameterNames.begin(), ParameterNames.end(), name);
    if (it == ParameterNames.end()) return std::nullopt;
    return static_cast<size_t>(it - ParameterNames.begin());
}

ConfigParameters MakeConfigParameters() {
    return ConfigParameters{{
        {"admPswd", 8, true, {}, {}},
        {"channelMask", 4, false, {}, {}},
        {"scanMask", 4, false, {}, {}},
        {"SwConfig", 4, false, {}, {}},
        {"password", 17, true, {}, {}},
        {"DiplexerMode", 4, false, {}, {}},
    }};
}

ConfigParameter* FindParameter(ConfigParameters& records, std::string_view name) {
    for (auto& record : records) {
        if (record.name == name) return &record;
    }
    return nullptr;
}

std::optional<std::string_view> StoredParameterName(int function) {
    switch (function) {
        case 2: return "admPswd";
        case 3: return "channelMask";
        case 4: return "SwConfig";
        case 5: return "password";
        case 6: return "DiplexerMode";
        case 11: return "scanMask";
        default: return std::nullopt;
    }
}

}  // namespace kbr

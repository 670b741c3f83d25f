#include "ctl/CommandText.h"

#include <algorithm>
#include <sstream>

#include "link/PrintableText.h"

namespace kbr::ctl {

std::string Shown(std::string_view text) { return PrintableText(text); }
std::string ShownPath(std::string_view path) { return PrintablePath(path); }

std::string SecondsText(std::chrono::milliseconds period) {
    std::ostringstream text;
    text << static_cast<double>(period.count()) / 1000.0 << " s";
    return text.str();
}

std::string Joined(const std::vector<std::string>& lines, std::string_view separator) {
    std::string text;
    for (const auto& line : lines) text += (text.empty() ? "" : std::string(separator)) + line;
    return text;
}

std::string Label(std::string_view label) {
    std::string text(label);
    text.resize(std::max<size_t>(text.size() + 1, 18), ' ');
    return text;
}

std::string PrivacyText(uint32_t swConfig) { return (swConfig & PRIVACY_BIT) ? "on" : "off"; }

Json ConfigJson(const DeviceConfig& config, bool withSecrets) {
    Json out = {
        {"firmware_version", config.firmwareVersion},
        {"diplexer", DiplexerText(config.diplexerMode)},
        {"channel", ChannelText(config.channelMask, config.diplexerMode)},
        {"privacy", PrivacyText(config.swConfig)},
        {"diplexer_mode", config.diplexerMode},
        {"channel_mask", config.channelMask},
        {"scan_mask", config.scanMask},
        {"sw_config", config.swConfig},
    };
    if (config.txPower) {
        // The adaptor's two numbers, as numbers where they are.
        Json power = Json::array();
        std::istringstream words(*config.txPower);
        for (std::string word; words >> word;) {
            const bool number = word.size() < 10 && word.find_first_not_of("0123456789") == std::string::npos;
            power.push_back(number ? Json(std::stoul(word)) : Json(word));
        }
        out["tx_power"] = power;
    }
    if (withSecrets) {
        out[SettingName(SettingKey::AdminPassword)] = config.adminPassword;
        out[SettingName(SettingKey::NetworkPassword)] = config.networkPassword;
    }
    return out;
}

}  // namespace kbr::ctl

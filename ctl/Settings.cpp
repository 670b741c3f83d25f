#include "ctl/Settings.h"

#include <algorithm>
#include <charconv>
#include <map>

#include <nlohmann/json.hpp>

#include "link/ConfigEntry.h"
#include "link/PrintableText.h"

namespace kbr::ctl {

namespace {

using Json = nlohmann::ordered_json;

constexpr std::string_view BACKUP_MARKER = "kbr3300-settings-backup";
constexpr int BACKUP_FORMAT = 2;
// Format 1 named the settings as the adaptor does; its files are still read.
constexpr int OLD_BACKUP_FORMAT = 1;

// The names of the settings in a backup of each format, in the order of SettingsProfile.
struct BackupNames {
    const char* diplexerMode;
    const char* channelMask;
    const char* scanMask;
    const char* swConfig;
    const char* adminPassword;
    const char* networkPassword;
};
constexpr BackupNames NAMES = {"diplexer_mode", "channel_mask",   "scan_mask",
                               "sw_config",     "admin_password", "network_password"};
constexpr BackupNames OLD_NAMES = {"DiplexerMode", "channelMask", "scanMask", "SwConfig", "admPswd", "password"};

// The page's decimal texts: signed ("%i"), or unsigned where the page computed them; both read
// modulo 2^32, as the configuration write reads them.
uint32_t Number(std::string_view text) { return ParseDecimalModulo32(text); }

std::string Decimal(uint32_t value) { return std::to_string(value); }

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsLetterOrDigit(char c) { return IsDigit(c) || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

std::string ChannelList(uint32_t diplexerMode) {
    std::string text;
    for (int channel : OfferedChannels(diplexerMode)) text += (text.empty() ? "" : ", ") + std::to_string(channel);
    return text;
}

const char* KeyName(SettingKey key) {
    switch (key) {
        case SettingKey::Channel: return "channel";
        case SettingKey::Diplexer: return "diplexer";
        case SettingKey::Privacy: return "privacy";
        case SettingKey::AdminPassword: return "admin_password";
        case SettingKey::NetworkPassword: return "network_password";
    }
    return "?";
}

bool Fail(std::string* error, std::string text) {
    if (error) *error = std::move(text);
    return false;
}

// A setting of a backup: an unsigned 32-bit number.
bool ReadNumber(const Json& settings, const char* name, uint32_t& out, std::string* error) {
    const auto it = settings.find(name);
    if (it == settings.end()) return Fail(error, std::string("settings.") + name + " is missing");
    if (!it->is_number_integer() || it->get<int64_t>() < 0 || it->get<int64_t>() > 0xFFFFFFFFll) {
        return Fail(error, std::string("settings.") + name + " is not a number from 0 to 4294967295");
    }
    out = static_cast<uint32_t>(it->get<int64_t>());
    return true;
}

bool ReadText(const Json& object, const char* name, std::string& out, std::string* error, const char* where) {
    const auto it = object.find(name);
    if (it == object.end() || !it->is_string())
        return Fail(error, std::string(where) + name + " is missing or not a text");
    out = it->get<std::string>();
    return true;
}

}  // namespace

const std::vector<int>& OfferedChannels(uint32_t diplexerMode) {
    static const std::vector<int> dBand = {15, 17, 19, 21, 23, 25, 27, 29};
    static const std::vector<int> allPass = {4, 5, 6, 7, 8, 9, 15, 17, 19, 21, 23, 25, 27, 29};
    return diplexerMode == 0 ? dBand : allPass;
}

int ChannelMhz(int channel) { return 800 + (channel - 1) * 25; }

std::optional<std::string> CheckAdminPassword(std::string_view text) {
    if (text.empty()) return "Value is required";
    for (size_t i = 0; i < text.size(); ++i) {
        if (!IsLetterOrDigit(text[i])) {
            return "The " + std::to_string(i) + "st char " + std::string(1, text[i]) + " is invalid !";
        }
    }
    if (text.size() < 4 || text.size() > 8) {
        return "Your password must be at least 4 characters and a maximum of 8, and it cannot contain any spaces.";
    }
    return std::nullopt;
}

std::optional<std::string> CheckNetworkPassword(std::string_view text) {
    if (text.size() < 12 || text.size() > 17) return "Your password must be 12 to 17 numeric characters long!";
    for (size_t i = 0; i < text.size(); ++i) {
        if (!IsDigit(text[i])) {
            return "The " + std::to_string(i + 1) + "th char " + std::string(1, text[i]) + " is invalid !";
        }
    }
    return std::nullopt;
}

DeviceConfig ConfigFromPageCalls(const std::vector<std::vector<std::string>>& storeConfigCalls) {
    DeviceConfig config;
    unsigned seen = 0;
    for (const auto& call : storeConfigCalls) {
        if (call.size() < 2) continue;
        const std::string& key = call[0];
        const std::string& value = call[1];
        if (key == VERSION_KEY) {
            config.firmwareVersion = value;
        } else if (key == "0") {
            config.txPower = call.size() > 2 ? value + " " + call[2] : value;
        } else if (key == "1") {
            config.diplexerMode = Number(value);
            seen |= 1u;
        } else if (key == "2") {
            config.adminPassword = value;
            seen |= 2u;
        } else if (key == "3") {
            config.swConfig = Number(value);
            seen |= 4u;
        } else if (key == "4") {
            config.channelMask = Number(value);
            seen |= 8u;
        } else if (key == "5") {
            config.networkPassword = value;
            seen |= 16u;
        } else if (key == "6") {
            config.scanMask = Number(value);
            seen |= 32u;
        }
    }
    config.complete = seen == 63u;
    return config;
}

uint32_t OfferedChannelsMask(uint32_t diplexerMode) {
    uint32_t mask = 0;
    for (int channel : OfferedChannels(diplexerMode)) mask |= 1u << (channel - 1);
    return mask;
}

DeviceConfig ConfigFromRead(const ConfigRead& read) {
    std::vector<std::vector<std::string>> calls = {{std::string(VERSION_KEY), read.firmwareVersion}};
    calls.insert(calls.end(), read.parameters.begin(), read.parameters.end());
    return ConfigFromPageCalls(calls);
}

std::string ChannelText(uint32_t channelMask, uint32_t diplexerMode) {
    int matched = 0;
    int count = 0;
    for (int channel : OfferedChannels(diplexerMode)) {
        if ((channelMask >> (channel - 1)) & 1u) {
            ++count;
            matched = channel;
        }
    }
    if (count != 1) return "scan";
    return std::to_string(matched) + " (" + std::to_string(ChannelMhz(matched)) + " MHz)";
}

std::string DiplexerText(uint32_t diplexerMode) { return diplexerMode == 0 ? "dband" : "allpass"; }

std::optional<std::vector<SettingChange>> ParseSettingChanges(const std::vector<std::string>& arguments,
                                                              std::string* error) {
    static const std::map<std::string, SettingKey, std::less<>> keys = {
        {"channel", SettingKey::Channel},
        {"diplexer", SettingKey::Diplexer},
        {"privacy", SettingKey::Privacy},
        {"admin_password", SettingKey::AdminPassword},
        {"network_password", SettingKey::NetworkPassword},
    };
    std::vector<SettingChange> changes;
    if (arguments.empty()) {
        Fail(error, "config set needs at least one KEY=VALUE");
        return std::nullopt;
    }
    for (const std::string& argument : arguments) {
        const size_t equals = argument.find('=');
        const std::string name = argument.substr(0, equals);
        const auto key = keys.find(name);
        if (equals == std::string::npos || key == keys.end()) {
            // Only the key: the value may be a password typed in the wrong place.
            Fail(error, "'" + PrintableText(name) +
                            "' is not a setting: give KEY=VALUE with KEY one of channel, diplexer, privacy, "
                            "admin_password, network_password");
            return std::nullopt;
        }
        if (std::any_of(changes.begin(), changes.end(), [&](const SettingChange& c) { return c.key == key->second; })) {
            Fail(error, name + " is given twice");
            return std::nullopt;
        }
        SettingChange change{key->second, argument.substr(equals + 1), std::nullopt, 0};
        const std::string& value = change.text;
        switch (change.key) {
            case SettingKey::Channel: {
                if (value == "scan") break;
                int channel = 0;
                const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), channel);
                if (value.empty() || ec != std::errc() || end != value.data() + value.size() ||
                    std::find(OfferedChannels(1).begin(), OfferedChannels(1).end(), channel) ==
                        OfferedChannels(1).end()) {
                    Fail(error, "channel '" + value + "' is not scan or one of " + ChannelList(1));
                    return std::nullopt;
                }
                change.channel = channel;
                break;
            }
            case SettingKey::Diplexer:
                if (value != "dband" && value != "allpass") {
                    Fail(error, "diplexer '" + value + "' is not dband (MoCA D Band) or allpass (All Pass)");
                    return std::nullopt;
                }
                change.number = value == "dband" ? 0 : 1;
                break;
            case SettingKey::Privacy:
                if (value != "on" && value != "off") {
                    Fail(error, "privacy '" + value + "' is not on or off");
                    return std::nullopt;
                }
                change.number = value == "on" ? 1 : 0;
                break;
            case SettingKey::AdminPassword:
            case SettingKey::NetworkPassword:
                // ps shows every argument: a new password is read, never taken from here.
                if (value != NEW_PASSWORD_READ) {
                    Fail(error, std::string(KeyName(change.key)) +
                                    " is never taken from the command line (ps would show it): give " +
                                    KeyName(change.key) + "=- to type it, or to read it from a line of standard input");
                    return std::nullopt;
                }
                change.text.clear();
                break;
        }
        changes.push_back(std::move(change));
    }
    return changes;
}

std::optional<std::string> CheckNewPassword(SettingKey key, std::string_view text) {
    auto problem = key == SettingKey::AdminPassword ? CheckAdminPassword(text) : CheckNetworkPassword(text);
    if (problem) return std::string(KeyName(key)) + ": " + *problem;
    return std::nullopt;
}

const char* SettingName(SettingKey key) { return KeyName(key); }

std::optional<std::vector<PendingValue>> PendingValuesFor(const DeviceConfig& current,
                                                          const std::vector<SettingChange>& changes,
                                                          std::string* error) {
    uint32_t diplexer = current.diplexerMode;
    for (const auto& change : changes) {
        if (change.key == SettingKey::Diplexer) diplexer = change.number;
    }
    std::vector<PendingValue> pending;
    for (const auto& change : changes) {
        switch (change.key) {
            case SettingKey::Channel: {
                uint32_t mask = SCAN_CHANNEL_MASK;
                if (change.channel) {
                    const auto& offered = OfferedChannels(diplexer);
                    if (std::find(offered.begin(), offered.end(), *change.channel) == offered.end()) {
                        Fail(error, "channel " + std::to_string(*change.channel) + " is not offered in " +
                                        (diplexer == 0 ? "MoCA D Band" : "All Pass") + " mode: choose scan or one of " +
                                        ChannelList(diplexer));
                        return std::nullopt;
                    }
                    mask = 1u << (*change.channel - 1);
                }
                pending.push_back({PageFunction::FUNC_SET_CHAN_MASK, Decimal(mask)});
                break;
            }
            case SettingKey::Diplexer:
                pending.push_back({PageFunction::FUNC_SET_DIPLEXER_MODE, Decimal(change.number)});
                break;
            case SettingKey::Privacy:
                pending.push_back(
                    {PageFunction::FUNC_SET_SWCONFIG,
                     Decimal(change.number ? current.swConfig | PRIVACY_BIT : current.swConfig & ~PRIVACY_BIT)});
                break;
            case SettingKey::AdminPassword: pending.push_back({PageFunction::FUNC_SET_ADMIN_PSWD, change.text}); break;
            case SettingKey::NetworkPassword: pending.push_back({PageFunction::FUNC_SET_MOCA_PSWD, change.text}); break;
        }
    }
    return pending;
}

// ---- Backups

std::string BackupJson(const Backup& backup) {
    Json settings = {
        {NAMES.diplexerMode, backup.settings.diplexerMode},
        {NAMES.channelMask, backup.settings.channelMask},
        {NAMES.scanMask, backup.settings.scanMask},
        {NAMES.swConfig, backup.settings.swConfig},
    };
    if (backup.settings.adminPassword) settings[NAMES.adminPassword] = *backup.settings.adminPassword;
    if (backup.settings.networkPassword) settings[NAMES.networkPassword] = *backup.settings.networkPassword;
    const Json document = {
        {BACKUP_MARKER, BACKUP_FORMAT},
        {"device",
         {{"product_id", backup.productId}, {"firmware_version", backup.firmwareVersion}, {"address", backup.address}}},
        {"settings", settings},
    };
    return document.dump(2) + "\n";
}

std::optional<Backup> ParseBackup(std::string_view text, std::string* error) {
    const Json document = Json::parse(text.begin(), text.end(), nullptr, false);
    if (document.is_discarded() || !document.is_object()) {
        Fail(error, "not a settings backup (not a JSON object)");
        return std::nullopt;
    }
    const auto marker = document.find(BACKUP_MARKER);
    if (marker == document.end()) {
        Fail(error, "not a settings backup (no \"" + std::string(BACKUP_MARKER) + "\")");
        return std::nullopt;
    }
    if (!marker->is_number_integer() ||
        (marker->get<int64_t>() != BACKUP_FORMAT && marker->get<int64_t>() != OLD_BACKUP_FORMAT)) {
        Fail(error, "a settings backup of a format this tool does not know");
        return std::nullopt;
    }
    Backup backup;
    const auto device = document.find("device");
    if (device == document.end() || !device->is_object() ||
        !ReadText(*device, "product_id", backup.productId, error, "device.")) {
        if (error && (device == document.end() || !device->is_object())) *error = "device is missing";
        return std::nullopt;
    }
    if (const auto version = device->find("firmware_version"); version != device->end() && version->is_string()) {
        backup.firmwareVersion = version->get<std::string>();
    }
    if (const auto address = device->find("address"); address != device->end() && address->is_string()) {
        backup.address = address->get<std::string>();
    }
    const auto settings = document.find("settings");
    if (settings == document.end() || !settings->is_object()) {
        Fail(error, "settings are missing");
        return std::nullopt;
    }
    const BackupNames& names = marker->get<int64_t>() == OLD_BACKUP_FORMAT ? OLD_NAMES : NAMES;
    const std::vector<std::string> known = {names.diplexerMode, names.channelMask,   names.scanMask,
                                            names.swConfig,     names.adminPassword, names.networkPassword};
    for (const auto& [name, value] : settings->items()) {
        if (std::find(known.begin(), known.end(), name) == known.end()) {
            Fail(error, "settings." + PrintableText(name) + " is not a setting of the adaptor");
            return std::nullopt;
        }
    }
    SettingsProfile& profile = backup.settings;
    if (!ReadNumber(*settings, names.diplexerMode, profile.diplexerMode, error) ||
        !ReadNumber(*settings, names.channelMask, profile.channelMask, error) ||
        !ReadNumber(*settings, names.scanMask, profile.scanMask, error) ||
        !ReadNumber(*settings, names.swConfig, profile.swConfig, error)) {
        return std::nullopt;
    }
    if (profile.diplexerMode > 1) {
        Fail(error, std::string("settings.") + names.diplexerMode + " is not 0 (MoCA D Band) or 1 (All Pass)");
        return std::nullopt;
    }
    // The values config set would send, and no other.
    // One channel, or the channels the adaptor scans (its own default holds several).
    if ((profile.channelMask & ~OfferedChannelsMask(profile.diplexerMode)) != 0) {
        Fail(error, std::string("settings.") + names.channelMask + " " + std::to_string(profile.channelMask) +
                        " holds channels not offered in " + (profile.diplexerMode == 0 ? "MoCA D Band" : "All Pass") +
                        " mode (" + ChannelList(profile.diplexerMode) + ")");
        return std::nullopt;
    }
    // The adaptor may report every bit set; a mask without one offered channel leaves nothing to scan.
    if ((profile.scanMask & OfferedChannelsMask(profile.diplexerMode)) == 0) {
        Fail(error, std::string("settings.") + names.scanMask + " " + std::to_string(profile.scanMask) +
                        " holds none of the channels offered in " +
                        (profile.diplexerMode == 0 ? "MoCA D Band" : "All Pass") + " mode (" +
                        ChannelList(profile.diplexerMode) + ")");
        return std::nullopt;
    }
    const auto password = [&](const char* name, auto check, std::optional<std::string>& out) {
        if (!settings->contains(name)) return true;
        std::string text;
        if (!ReadText(*settings, name, text, error, "settings.")) return false;
        // The page's words without the character they quote: it is part of a secret.
        if (check(text)) return Fail(error, std::string("settings.") + name + " does not keep the password rules");
        out = text;
        return true;
    };
    if (!password(names.adminPassword, CheckAdminPassword, profile.adminPassword) ||
        !password(names.networkPassword, CheckNetworkPassword, profile.networkPassword)) {
        return std::nullopt;
    }
    return backup;
}

std::optional<std::string> CheckProfileFor(const DeviceConfig& current, const SettingsProfile& wanted) {
    // config set changes the privacy bit alone; a backup may not do more.
    const uint32_t others = (current.swConfig ^ wanted.swConfig) & ~PRIVACY_BIT;
    if (others != 0) {
        return std::string(NAMES.swConfig) + " " + std::to_string(wanted.swConfig) +
               " changes bits other than privacy (bit 12) of the adaptor's " + std::to_string(current.swConfig);
    }
    return std::nullopt;
}

SettingsProfile ProfileOf(const DeviceConfig& config) {
    return SettingsProfile{config.diplexerMode, config.channelMask,   config.scanMask,
                           config.swConfig,     config.adminPassword, config.networkPassword};
}

std::vector<SettingDifference> Differences(const DeviceConfig& current, const SettingsProfile& wanted) {
    std::vector<SettingDifference> out;
    auto number = [&](const char* name, uint32_t from, uint32_t to) {
        if (from != to) out.push_back({name, Decimal(from), Decimal(to)});
    };
    number(NAMES.diplexerMode, current.diplexerMode, wanted.diplexerMode);
    number(NAMES.channelMask, current.channelMask, wanted.channelMask);
    number(NAMES.scanMask, current.scanMask, wanted.scanMask);
    number(NAMES.swConfig, current.swConfig, wanted.swConfig);
    if (wanted.adminPassword && *wanted.adminPassword != current.adminPassword) {
        out.push_back({NAMES.adminPassword, "(secret)", "(another secret)"});
    }
    if (wanted.networkPassword && *wanted.networkPassword != current.networkPassword) {
        out.push_back({NAMES.networkPassword, "(secret)", "(another secret)"});
    }
    return out;
}

std::vector<PendingValue> PendingValuesForProfile(const DeviceConfig& current, const SettingsProfile& wanted) {
    return {
        {PageFunction::FUNC_SET_ADMIN_PSWD, wanted.adminPassword.value_or(current.adminPassword)},
        {PageFunction::FUNC_SET_CHAN_MASK, Decimal(wanted.channelMask)},
        {PageFunction::FUNC_SET_SCAN_MASK, Decimal(wanted.scanMask)},
        {PageFunction::FUNC_SET_SWCONFIG, Decimal(wanted.swConfig)},
        {PageFunction::FUNC_SET_MOCA_PSWD, wanted.networkPassword.value_or(current.networkPassword)},
        {PageFunction::FUNC_SET_DIPLEXER_MODE, Decimal(wanted.diplexerMode)},
    };
}

}  // namespace kbr::ctl

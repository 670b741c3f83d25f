// The settings commands: config get, set, backup and restore, and the backup file.
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "ctl/CommandText.h"
#include "ctl/Commands.h"
#include "platform/Platform.h"
#include "platform/SafeFile.h"

namespace kbr::ctl {

namespace {

// A backup is a few hundred bytes; a larger file is not one.
constexpr uint64_t MAX_BACKUP_FILE_SIZE = 64 * 1024;

// Writes text to path as a new file of mode 0600 that replaces path in one step.
bool WritePrivateFile(const std::string& path, const std::string& text, std::string* error) {
    const std::filesystem::path where(path);
    const std::string folder = where.has_parent_path() ? where.parent_path().string() : std::string(".");
    std::string why;
    if (where.filename().empty() || !platform::ReplaceFile(folder, where.filename().string(), text, 0600, &why)) {
        *error = "cannot write " + ShownPath(path) + (why.empty() ? "" : ": " + why);
        return false;
    }
    return true;
}

std::optional<std::string> ReadBackupFile(const std::string& path, std::string* error) {
    const platform::WholeFile file = platform::ReadWholeFile(path, MAX_BACKUP_FILE_SIZE);
    if (file.tooLarge) {
        *error = ShownPath(path) + ": larger than " + std::to_string(MAX_BACKUP_FILE_SIZE / 1024) +
                 " KiB, not a settings backup";
        return std::nullopt;
    }
    if (file.error != 0) {
        *error = ShownPath(path) + ": " +
                 (file.error == ESPIPE ? std::string("not a regular file") : std::strerror(file.error));
        return std::nullopt;
    }
    return std::string(file.bytes.begin(), file.bytes.end());
}

}  // namespace

CommandResult CommandSession::ConfigGet() {
    if (auto failed = Login()) return *failed;
    DeviceConfig config;
    if (auto failed = ReadConfig(config)) return *failed;
    ShowConfig(config, invocation_.withSecrets);
    reporter_.Event("result", {{"command", "config get"},
                               {"exit", EXIT_DONE},
                               {"settings", ConfigJson(config, invocation_.withSecrets)}});
    return {};
}

CommandResult CommandSession::ConfigSet() {
    std::string error;
    auto changes = ParseSettingChanges(invocation_.arguments, &error);
    if (!changes) return Fail(EXIT_USAGE, error);
    // The login password first, then the new ones: standard input gives them in that order.
    if (auto failed = ObtainPassword()) return *failed;
    for (SettingChange& change : *changes) {
        if (change.key != SettingKey::AdminPassword && change.key != SettingKey::NetworkPassword) continue;
        if (auto failed = ReadNewPassword(change)) return *failed;
    }
    if (auto failed = Login()) return *failed;
    DeviceConfig before;
    if (auto failed = ReadConfig(before)) return *failed;
    if (!before.complete) return Fail(EXIT_REFUSED, "the adaptor did not report all six settings; nothing is written");
    const auto pending = PendingValuesFor(before, *changes, &error);
    if (!pending) return Fail(EXIT_USAGE, error + "; nothing is written");
    DeviceConfig after;
    if (auto failed = WriteConfig(*pending, after)) return *failed;

    // What each change looks like read back; a value the adaptor did not take is a failure.
    std::vector<std::string> notTaken;
    Json changed = Json::array();
    for (const SettingChange& change : *changes) {
        std::string name;
        std::string from;
        std::string to;
        bool taken = true;
        // A password is shown only as changed or not.
        auto secret = [&](const char* key, const std::string& now) {
            name = key;
            from = "(secret)";
            taken = now == change.text;
            to = taken ? "(the new one)" : "(unchanged)";
        };
        switch (change.key) {
            case SettingKey::Channel:
                name = "channel";
                from = ChannelText(before.channelMask, before.diplexerMode);
                to = ChannelText(after.channelMask, after.diplexerMode);
                taken = after.channelMask == (change.channel ? 1u << (*change.channel - 1) : SCAN_CHANNEL_MASK);
                break;
            case SettingKey::Diplexer:
                name = "diplexer";
                from = DiplexerText(before.diplexerMode);
                to = DiplexerText(after.diplexerMode);
                taken = after.diplexerMode == change.number;
                break;
            case SettingKey::Privacy:
                name = "privacy";
                from = PrivacyText(before.swConfig);
                to = PrivacyText(after.swConfig);
                taken = ((after.swConfig & PRIVACY_BIT) != 0) == (change.number != 0);
                break;
            case SettingKey::AdminPassword: secret(SettingName(change.key), after.adminPassword); break;
            case SettingKey::NetworkPassword: secret(SettingName(change.key), after.networkPassword); break;
        }
        if (!taken) notTaken.push_back(name);
        reporter_.Text(Label(name) + from + " -> " + to);
        changed.push_back({{"setting", name}, {"from", from}, {"to", to}, {"taken", taken}});
    }
    if (!notTaken.empty()) {
        return Fail(EXIT_REFUSED, "the adaptor reports other values after the write for " + Joined(notTaken, ", "));
    }
    reporter_.Event(
        "result",
        {{"command", "config set"}, {"exit", EXIT_DONE}, {"changes", changed}, {"settings", ConfigJson(after, false)}});
    return {};
}

CommandResult CommandSession::ConfigBackup() {
    const std::string& path = invocation_.arguments[0];
    if (auto failed = Login()) return *failed;
    std::string productId;
    DeviceConfig config;
    if (auto failed = ReadValue(PageFunction::FUNC_GET_PRODUCT_ID, "the product id read", productId)) return *failed;
    if (auto failed = ReadConfig(config)) return *failed;
    if (!config.complete) return Fail(EXIT_REFUSED, "the adaptor did not report all six settings; nothing is saved");
    Backup backup{productId, config.firmwareVersion, invocation_.Endpoint(), ProfileOf(config)};
    if (!invocation_.withSecrets) {
        backup.settings.adminPassword.reset();
        backup.settings.networkPassword.reset();
    }
    std::string error;
    if (!WritePrivateFile(path, BackupJson(backup), &error)) return Fail(EXIT_USAGE, error);
    reporter_.Text("Saved the settings of " + Shown(productId) + " (firmware " + Shown(config.firmwareVersion) +
                   ") to " + ShownPath(path) +
                   (invocation_.withSecrets ? ", passwords included" : "; passwords not included (--with-secrets)"));
    reporter_.Event("result", {{"command", "config backup"},
                               {"exit", EXIT_DONE},
                               {"file", path},
                               {"product_id", productId},
                               {"firmware_version", config.firmwareVersion},
                               {"with_secrets", invocation_.withSecrets}});
    return {};
}

CommandResult CommandSession::ConfigRestore() {
    const std::string& path = invocation_.arguments[0];
    std::string error;
    const auto text = ReadBackupFile(path, &error);
    if (!text) return Fail(EXIT_USAGE, "cannot read " + error);
    const auto backup = ParseBackup(*text, &error);
    if (!backup) return Fail(EXIT_USAGE, ShownPath(path) + ": " + error);

    if (auto failed = Login()) return *failed;
    std::string productId;
    DeviceConfig current;
    if (auto failed = ReadValue(PageFunction::FUNC_GET_PRODUCT_ID, "the product id read", productId)) return *failed;
    if (productId != backup->productId) {
        return Fail(EXIT_USAGE, ShownPath(path) + " holds the settings of a " + Shown(backup->productId) +
                                    "; this adaptor is a " + Shown(productId) + ". Nothing is written");
    }
    if (auto failed = ReadConfig(current)) return *failed;
    if (!current.complete) return Fail(EXIT_REFUSED, "the adaptor did not report all six settings; nothing is written");
    if (auto problem = CheckProfileFor(current, backup->settings)) {
        return Fail(EXIT_USAGE, ShownPath(path) + ": settings." + *problem + ". Nothing is written");
    }

    const auto differences = Differences(current, backup->settings);
    Json changes = Json::array();
    for (const auto& difference : differences) {
        reporter_.Text(Label(difference.name) + difference.from + " -> " + difference.to);
        changes.push_back({{"setting", difference.name}, {"from", difference.from}, {"to", difference.to}});
    }
    if (differences.empty()) {
        reporter_.Text("Nothing to change: the adaptor already has the settings of " + ShownPath(path) + ".");
        reporter_.Event("result", {{"command", "config restore"}, {"exit", EXIT_DONE}, {"written", false}});
        return {};
    }
    if (!invocation_.yes) {
        const std::optional<bool> answer =
            surroundings_.ask ? surroundings_.ask("Write these settings to the adaptor?") : std::nullopt;
        if (!answer) return Fail(EXIT_USAGE, "nothing is written: give --yes to write without being asked");
        if (!*answer) return Fail(EXIT_REFUSED, "nothing is written");
    }
    DeviceConfig after;
    if (auto failed = WriteConfig(PendingValuesForProfile(current, backup->settings), after)) return *failed;
    const auto left = Differences(after, backup->settings);
    if (!left.empty()) {
        std::vector<std::string> names;
        names.reserve(left.size());
        for (const auto& difference : left) names.push_back(difference.name);
        return Fail(EXIT_REFUSED, "the adaptor reports other values after the write for " + Joined(names, ", "));
    }
    reporter_.Text("Settings written.");
    reporter_.Event("result",
                    {{"command", "config restore"}, {"exit", EXIT_DONE}, {"written", true}, {"changes", changes}});
    return {};
}

}  // namespace kbr::ctl

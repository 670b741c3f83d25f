#include "ctl/Commands.h"

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <thread>

#include "link/ByteReader.h"
#include "link/Messages.h"
#include "link/PrintableText.h"
#include "link/UpgradeImage.h"
#include "link/UpgradeOperation.h"
#include "ctl/Terminal.h"
#include "platform/Platform.h"
#include "platform/SafeFile.h"
#include "platform/Terminal.h"

namespace kbr::ctl {

namespace {

using Clock = std::chrono::steady_clock;

std::string TypeName(uint8_t type) {
    const char* name = MessageTypeName(type);
    return name ? name : "type " + std::to_string(type);
}

std::string SecondsText(std::chrono::milliseconds period) {
    std::ostringstream text;
    text << static_cast<double>(period.count()) / 1000.0 << " s";
    return text.str();
}

// What the last request of a run was for, in words.
std::string StepOf(const RunOutcome& outcome) {
    switch (outcome.lastRequestType) {
        case REQ_LOGIN: return "the login";
        case REQ_GET_CONFIG: return "the settings read";
        case REQ_SET_CONFIG: return "the settings write";
        case REQ_GET_DIAG: return "the diagnostics read";
        case REQ_UPGRADE_START: return "the start of an upgrade pass";
        case REQ_UPGRADE_DATA: return "a firmware chunk";
        case REQ_ACTION: return "the reboot request";
        case REQ_GET_VALUE:
            if (outcome.lastKey == KEY_PRODUCT_ID) return "the product id read";
            if (outcome.lastKey == KEY_FIRMWARE_VERSION) return "the firmware version read";
            return "a value read";
        default: return "the request";
    }
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

// The page function of each pending value, as a command name for messages.
std::string PrivacyText(uint32_t swConfig) { return (swConfig & PRIVACY_BIT) ? "on" : "off"; }

// A backup is a few hundred bytes; a larger file is not one.
constexpr uint64_t MAX_BACKUP_FILE_SIZE = 64 * 1024;
// How long a second Ctrl-C aborts a transfer after the first.
constexpr auto SECOND_INTERRUPT_WINDOW = std::chrono::seconds(5);

// Text from the adaptor, a file or the command line, fit for a terminal line.
std::string Shown(std::string_view text) { return PrintableText(text); }
std::string ShownPath(std::string_view path) { return PrintablePath(path); }

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

// Dotted decimal versions, "1.0.2.3", as numbers; nothing for another form.
std::optional<std::vector<unsigned long>> VersionNumbers(std::string_view text) {
    std::vector<unsigned long> numbers;
    size_t start = 0;
    for (;;) {
        const size_t dot = std::min(text.find('.', start), text.size());
        const std::string_view part = text.substr(start, dot - start);
        if (part.empty() || part.size() > 9 || part.find_first_not_of("0123456789") != std::string_view::npos) {
            return std::nullopt;
        }
        numbers.push_back(std::stoul(std::string(part)));
        if (dot == text.size()) return numbers;
        start = dot + 1;
    }
}

bool IsOlder(std::string_view image, std::string_view device) {
    const auto a = VersionNumbers(image);
    const auto b = VersionNumbers(device);
    return a && b && *a < *b;
}

// Why a valid image could not be sent, looked up after a failed upgrade: section 2 without the
// tags the upgrade reads there, or a section of more chunks than the 16-bit count of the chunks
// still to come can say (the device would take a chunk in the middle for the last one).
std::optional<std::string> UnsendableImage(const std::string& path) {
    const ImageFileData file = ReadImageFile(path);
    if (file.error || file.tooLarge) return std::nullopt;
    const ImageDescription description = DescribeImage(file.bytes);
    if (!description.layout.valid) return std::nullopt;
    const auto& section2 = description.tags[1];
    if (!section2 || !section2->productId) return "section 2 has no \"prod_id\" tag. Not a valid upgrade file!";
    if (!section2->version) return "section 2 has no \"version\" tag. Not a valid upgrade file!";
    for (int which = 1; which <= 2; ++which) {
        const uint64_t chunks = (description.layout.sections[static_cast<size_t>(which) - 1].size + 255) / 256;
        if (chunks > 65536) {
            return "section " + std::to_string(which) + " has " + std::to_string(chunks) +
                   " chunks of 256 bytes; an upgrade can count at most 65536 (16 MiB)";
        }
    }
    return std::nullopt;
}

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

}  // namespace

Surroundings RealSurroundings() {
    Surroundings surroundings;
    surroundings.environment = [](const char* name) -> std::optional<std::string> {
        const char* value = std::getenv(name);
        if (!value) return std::nullopt;
        return std::string(value);
    };
    surroundings.readSecret = ReadSecretFromTerminal;
    surroundings.ask = AskOnTerminal;
    surroundings.readLine = ReadInputLine;
    surroundings.progressBar = platform::IsTerminal(platform::StandardStream::Error);
    return surroundings;
}

CommandSession::CommandSession(const Invocation& invocation, const Reporter& reporter, Surroundings surroundings)
    : invocation_(invocation), reporter_(reporter), surroundings_(std::move(surroundings)) {
    context_.SetTimerLimit(invocation.replyTimeout);
}

int CommandSession::Execute() {
    switch (invocation_.command) {
        case Command::Probe: return Probe();
        case Command::Status: return Status();
        case Command::ConfigGet: return ConfigGet();
        case Command::ConfigSet: return ConfigSet();
        case Command::ConfigBackup: return ConfigBackup();
        case Command::ConfigRestore: return ConfigRestore();
        case Command::Upgrade: return Upgrade();
        case Command::Diag: return Diag();
        case Command::Reboot: return Reboot();
        case Command::Wait: return Wait();
        case Command::Help:
        case Command::Version: break;
    }
    return EXIT_USAGE;
}

CommandSession::Failed CommandSession::Fail(int code, const std::string& message) {
    reporter_.Error(code, message);
    return code;
}

CommandSession::Failed CommandSession::Failure(const RunOutcome& outcome, std::string_view what) {
    const std::string step = what.empty() ? StepOf(outcome) : std::string(what);
    if (outcome.lost) return Fail(EXIT_LOST, "lost the connection to " + invocation_.Endpoint() + " during " + step);
    const bool answeredAsAsked = outcome.lastReply && outcome.lastReply->status == 0 &&
                                 (!outcome.expectedReply || outcome.lastReply->type == *outcome.expectedReply);
    if (outcome.lastReply && !answeredAsAsked) {
        const MessageHeader& header = *outcome.lastReply;
        if (header.status != 0) {
            return Fail(EXIT_REFUSED, "the adaptor refused " + step + " (" + TypeName(header.type) + " with status " +
                                          std::to_string(header.status) + ")");
        }
        return Fail(EXIT_REFUSED, "the adaptor answered " + step + " with " + TypeName(header.type) +
                                      (outcome.expectedReply ? ", not " + TypeName(*outcome.expectedReply) : ""));
    }
    if (outcome.timedOut) {
        return Fail(EXIT_LOST, "no answer from the adaptor to " + step + " within " + SecondsText(outcome.timerPeriod));
    }
    return Fail(EXIT_REFUSED, step + " failed");
}

// ---- Steps

std::optional<CommandSession::Failed> CommandSession::Connect() {
    reporter_.Event("phase", {{"phase", "connect"}, {"address", invocation_.Endpoint()}});
    if (!context_.Connect(invocation_.address, invocation_.port)) {
        return Fail(EXIT_UNREACHABLE, "cannot connect to " + invocation_.Endpoint() +
                                          " (is the adaptor in configuration mode and cabled to this PC?)");
    }
    return std::nullopt;
}

std::optional<CommandSession::Failed> CommandSession::ObtainPassword() {
    if (password_) return std::nullopt;
    std::optional<std::string> password;
    if (invocation_.passwordFile) {
        std::string error;
        password = ReadFirstLine(*invocation_.passwordFile, &error);
        if (!password) return Fail(EXIT_USAGE, "cannot read the password: " + error);
    } else if (surroundings_.environment && (password = surroundings_.environment(PASSWORD_VARIABLE))) {
    } else if (surroundings_.readSecret) {
        password = surroundings_.readSecret("Password for the adaptor at " + invocation_.Endpoint() + ": ");
    }
    if (!password) {
        return Fail(EXIT_USAGE, std::string("no password: give --password-file FILE, set ") + PASSWORD_VARIABLE +
                                    ", or run on a terminal to type it");
    }
    password_ = std::move(password);
    return std::nullopt;
}

std::optional<CommandSession::Failed> CommandSession::ReadNewPassword(SettingChange& change) {
    const std::string name = SettingName(change.key);
    std::optional<std::string> text;
    if (surroundings_.readSecret && (text = surroundings_.readSecret("New " + name + ": "))) {
        // Typed without echo: a second time, so that a slip of the finger is not written.
        const std::optional<std::string> again = surroundings_.readSecret("The same " + name + " again: ");
        if (!again || *again != *text)
            return Fail(EXIT_USAGE, "the two " + name + " entries differ; nothing is written");
    } else if (surroundings_.readLine) {
        text = surroundings_.readLine();
    }
    if (!text) {
        return Fail(EXIT_USAGE, "no new " + name + ": type it on a terminal, or give it as a line of standard input");
    }
    if (auto problem = CheckNewPassword(change.key, *text)) return Fail(EXIT_USAGE, *problem + "; nothing is written");
    change.text = std::move(*text);
    return std::nullopt;
}

std::optional<CommandSession::Failed> CommandSession::Login() {
    if (auto failed = ObtainPassword()) return failed;
    if (auto failed = Connect()) return failed;
    reporter_.Event("phase", {{"phase", "login"}});
    const RunOutcome outcome = context_.Run(PageFunction::FUNC_LOGIN, *password_);
    if (const auto* call = outcome.LastCall("CallbackLogin")) {
        if (!call->empty() && (*call)[0] == "0") return std::nullopt;
        return Fail(EXIT_REFUSED, "Password Incorrect!");
    }
    if (outcome.lost) return Failure(outcome, "the login");
    // The operation's own words when nothing answered.
    const std::string said = outcome.messages.empty() ? "Unable to login" : Shown(outcome.messages.back());
    return Fail(EXIT_LOST, said + ": no answer from the adaptor within " + SecondsText(outcome.timerPeriod));
}

std::optional<CommandSession::Failed> CommandSession::ReadValue(PageFunction function, std::string_view callback,
                                                                std::string_view what, std::string& value) {
    const RunOutcome outcome = context_.Run(function, "");
    const auto* call = outcome.LastCall(callback);
    if (outcome.completion == 0 && call && !call->empty()) {
        value = (*call)[0];
        return std::nullopt;
    }
    return Failure(outcome, what);
}

std::optional<CommandSession::Failed> CommandSession::ReadConfig(DeviceConfig& config) {
    reporter_.Event("phase", {{"phase", "read-settings"}});
    const RunOutcome outcome = context_.Run(PageFunction::FUNC_GETCONFIG, "");
    if (outcome.completion != 0) return Failure(outcome, "the settings read");
    std::vector<std::vector<std::string>> calls;
    for (const auto& call : outcome.pageCalls) {
        if (call.function == "storeConfig") calls.push_back(call.args);
    }
    config = ConfigFromPageCalls(calls);
    return std::nullopt;
}

std::optional<CommandSession::Failed> CommandSession::WriteConfig(const std::vector<PendingValue>& values,
                                                                  DeviceConfig& after) {
    for (const PendingValue& value : values) (void)context_.Run(value.function, value.text);
    reporter_.Event("phase", {{"phase", "write-settings"}});
    const RunOutcome outcome = context_.Run(PageFunction::FUNC_SET_CONFIG, "");
    if (outcome.completion != 0) return Failure(outcome, "the settings write");
    return ReadConfig(after);
}

std::optional<CommandSession::Failed> CommandSession::ReadDiagnostics(std::string& first, std::string& second) {
    reporter_.Event("phase", {{"phase", "read-diagnostics"}});
    bool read = false;
    ToolContext::Hooks hooks;
    hooks.pageCall = [&](const PageCallRecord& call) {
        if (call.function != "display_diag" || call.args.size() < 2) return;
        first = call.args[0];
        second = call.args[1];
        read = true;
        context_.DropActiveOperation();  // one reading is enough
    };
    context_.SetHooks(hooks);
    const RunOutcome outcome = context_.Run(PageFunction::FUNC_GET_DIAG, "");
    context_.SetHooks({});
    if (read) return std::nullopt;
    if (outcome.lastReply && outcome.lastReply->type == REP_DIAG && outcome.lastReply->status == 0) {
        return Fail(EXIT_REFUSED, "the adaptor sent empty diagnostics");
    }
    return Failure(outcome, "the diagnostics read");
}

void CommandSession::ShowConfig(const DeviceConfig& config, bool withSecrets) const {
    reporter_.Text(Label("Firmware version") + Shown(config.firmwareVersion));
    reporter_.Text(Label("Diplexer") + DiplexerText(config.diplexerMode) +
                   (config.diplexerMode == 0 ? " (MoCA D Band)" : " (All Pass)"));
    reporter_.Text(Label("Channel") + ChannelText(config.channelMask, config.diplexerMode));
    reporter_.Text(Label("Channel mask") + std::to_string(config.channelMask));
    reporter_.Text(Label("Scan mask") + std::to_string(config.scanMask));
    reporter_.Text(Label("Privacy") + PrivacyText(config.swConfig) + " (SwConfig " + std::to_string(config.swConfig) +
                   ")");
    if (config.txPower) reporter_.Text(Label("Transmit power") + Shown(*config.txPower));
    if (withSecrets) {
        reporter_.Text(Label("Admin password") + Shown(config.adminPassword));
        reporter_.Text(Label("Network password") + Shown(config.networkPassword));
    } else {
        reporter_.Text(Label("Passwords") + "not shown (--with-secrets shows them)");
    }
    if (!config.complete) reporter_.Note("the adaptor did not report all six settings");
}

// ---- Commands

int CommandSession::Probe() {
    if (auto failed = Connect()) return *failed;
    std::string productId;
    std::string firmware;
    if (auto failed = ReadValue(PageFunction::FUNC_GET_PRODUCT_ID, "CallbackProdID", "the product id read", productId))
        return *failed;
    if (auto failed =
            ReadValue(PageFunction::FUNC_GET_FIRMWARE_VERSION, "CallbackFwVer", "the firmware version read", firmware))
        return *failed;
    reporter_.Text(Shown(productId) + " at " + invocation_.Endpoint() + ", firmware " + Shown(firmware));
    reporter_.Event("result", {{"command", "probe"},
                               {"exit", EXIT_DONE},
                               {"address", invocation_.Endpoint()},
                               {"product_id", productId},
                               {"firmware_version", firmware}});
    return EXIT_DONE;
}

int CommandSession::Status() {
    if (auto failed = Login()) return *failed;
    std::string productId;
    std::string firmware;
    DeviceConfig config;
    std::string first;
    std::string second;
    if (auto failed = ReadValue(PageFunction::FUNC_GET_PRODUCT_ID, "CallbackProdID", "the product id read", productId))
        return *failed;
    if (auto failed =
            ReadValue(PageFunction::FUNC_GET_FIRMWARE_VERSION, "CallbackFwVer", "the firmware version read", firmware))
        return *failed;
    if (auto failed = ReadConfig(config)) return *failed;
    if (auto failed = ReadDiagnostics(first, second)) return *failed;
    reporter_.Text(Label("Adaptor") + invocation_.Endpoint());
    reporter_.Text(Label("Product id") + Shown(productId));
    ShowConfig(config, false);
    reporter_.Text(Label("Diagnostics") + Shown(first));
    if (!second.empty()) reporter_.Text(Label("") + Shown(second));
    reporter_.Event("result", {{"command", "status"},
                               {"exit", EXIT_DONE},
                               {"address", invocation_.Endpoint()},
                               {"product_id", productId},
                               {"firmware_version", firmware},
                               {"settings", ConfigJson(config, false)},
                               {"diagnostics", Json::array({first, second})}});
    return EXIT_DONE;
}

int CommandSession::ConfigGet() {
    if (auto failed = Login()) return *failed;
    DeviceConfig config;
    if (auto failed = ReadConfig(config)) return *failed;
    ShowConfig(config, invocation_.withSecrets);
    reporter_.Event("result", {{"command", "config get"},
                               {"exit", EXIT_DONE},
                               {"settings", ConfigJson(config, invocation_.withSecrets)}});
    return EXIT_DONE;
}

int CommandSession::ConfigSet() {
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
    return EXIT_DONE;
}

int CommandSession::ConfigBackup() {
    const std::string& path = invocation_.arguments[0];
    if (auto failed = Login()) return *failed;
    std::string productId;
    DeviceConfig config;
    if (auto failed = ReadValue(PageFunction::FUNC_GET_PRODUCT_ID, "CallbackProdID", "the product id read", productId))
        return *failed;
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
    return EXIT_DONE;
}

int CommandSession::ConfigRestore() {
    const std::string& path = invocation_.arguments[0];
    std::string error;
    const auto text = ReadBackupFile(path, &error);
    if (!text) return Fail(EXIT_USAGE, "cannot read " + error);
    const auto backup = ParseBackup(*text, &error);
    if (!backup) return Fail(EXIT_USAGE, ShownPath(path) + ": " + error);

    if (auto failed = Login()) return *failed;
    std::string productId;
    DeviceConfig current;
    if (auto failed = ReadValue(PageFunction::FUNC_GET_PRODUCT_ID, "CallbackProdID", "the product id read", productId))
        return *failed;
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
        return EXIT_DONE;
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
    return EXIT_DONE;
}

int CommandSession::Upgrade() {
    std::string path = invocation_.arguments[0];
    // The operation reads "%20" in a path as a space (the pages send names that way); a name that
    // really holds "%20" is handed over as its open descriptor instead.
    // (Windows has no such names for descriptors; there a name holding "%20" is read with a space.)
#ifndef _WIN32
    int held = -1;
    if (path.find("%20") != std::string::npos && (held = ::open(path.c_str(), O_RDONLY | O_CLOEXEC)) >= 0) {
        path = "/dev/fd/" + std::to_string(held);
    }
    struct Closer {
        int fd;
        ~Closer() {
            if (fd >= 0) ::close(fd);
        }
    } closer{held};
#endif

    if (auto failed = Login()) return *failed;

    UpgradeOperation operation(context_);
    UpgradeProgressView view(reporter_, surroundings_.progressBar && !reporter_.JsonLines());
    bool asked = false;
    bool declined = false;
    bool older = false;
    bool transferring = false;
    std::optional<Clock::time_point> firstInterrupt;
    const platform::InterruptCatcher interrupts;
    int interruptsSeen = 0;
    ToolContext::Hooks hooks;
    hooks.maySend = [&](std::span<const uint8_t> request) {
        if (request[0] != REQ_UPGRADE_START || transferring) return true;
        // The operation goes on with any other version; an older one needs the user's word.
        const PageDeviceState& state = context_.State();
        if (!invocation_.allowOlder && IsOlder(state.imageVersion, state.deviceVersion)) {
            older = true;
            return false;
        }
        transferring = true;
        return true;
    };
    hooks.stop = [&] {
        const int count = interrupts.Count();
        if (count == interruptsSeen) return false;
        interruptsSeen = count;
        if (!transferring) return true;  // nothing sent yet: stop at once
        const auto now = Clock::now();
        if (firstInterrupt && now - *firstInterrupt <= SECOND_INTERRUPT_WINDOW) return true;
        firstInterrupt = now;
        view.Finish();  // the note on a line of its own
        reporter_.Note(
            "an upgrade is in progress: stopping it now leaves the adaptor with part of the new "
            "firmware. Press Ctrl-C again within 5 seconds to abort");
        reporter_.Event("interrupt", {{"message", "press Ctrl-C again within 5 seconds to abort"}});
        return false;
    };
    hooks.progressShown = [&](int) { view.Begin(operation.SectionSize(1), operation.SectionSize(2)); };
    hooks.sent = [&](std::span<const uint8_t> request) {
        switch (request[0]) {
            case REQ_GET_VALUE: {
                if (const auto key = ReadGetValueRequest(request)) {
                    reporter_.Event("phase", {{"phase", *key == KEY_PRODUCT_ID ? "product-id" : "version"}});
                }
                break;
            }
            case REQ_UPGRADE_START: view.PassStarted(operation.Pass()); break;
            case REQ_UPGRADE_DATA: {
                if (const auto chunk = ReadUpgradeDataRequest(request)) view.Sent(chunk->size);
                break;
            }
            default: break;
        }
    };
    hooks.askYesNo = [&](std::string_view question) {
        asked = true;
        bool yes = invocation_.force;
        if (!yes && surroundings_.ask) yes = surroundings_.ask(question).value_or(false);
        declined = !yes;
        return yes;
    };
    context_.SetHooks(hooks);
    const auto started = Clock::now();
    const RunOutcome outcome = context_.Run(operation, path);
    context_.SetHooks({});
    view.Finish();

    const PageDeviceState& state = context_.State();
    if (outcome.completion == 0) {
        const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
        reporter_.Text("Upgrade completed successfully! Firmware " + Shown(state.imageVersion) +
                       " starts after a reboot (kbr3300ctl reboot).");
        reporter_.Event("result", {{"command", "upgrade"},
                                   {"exit", EXIT_DONE},
                                   {"firmware_version", state.imageVersion},
                                   {"seconds", seconds}});
        return EXIT_DONE;
    }
    if (outcome.stopped) {
        context_.Disconnect();
        if (!transferring) return Fail(EXIT_INTERRUPTED, "upgrade interrupted before anything was sent");
        return Fail(EXIT_INTERRUPTED, "upgrade aborted during pass " + std::to_string(operation.Pass()) +
                                          ": the adaptor holds part of the new firmware and may not start "
                                          "from it. Upgrade it again before you restart it");
    }
    if (older) {
        return Fail(EXIT_REFUSED, "the image holds firmware " + Shown(state.imageVersion) +
                                      ", older than the adaptor's " + Shown(state.deviceVersion) +
                                      ". Not upgraded (--allow-older upgrades all the same)");
    }
    const std::string file = ShownPath(invocation_.arguments[0]);
    if (const auto* failed = outcome.LastCall("upgradeFailed")) {
        std::vector<std::string> said = outcome.messages;
        if (!failed->empty()) said.push_back((*failed)[0]);
        return Fail(EXIT_BAD_IMAGE, file + ": " + Shown(Joined(said, " ")));
    }
    if (!outcome.messages.empty() && outcome.messages.back() == "Product IDs do not match!") {
        return Fail(EXIT_BAD_IMAGE, "Product IDs do not match! The image is for " + Shown(state.imageProductId) +
                                        ", the adaptor is a " + Shown(state.deviceProductId) + ". Nothing was sent");
    }
    if (asked && declined && !outcome.lost) {
        return Fail(EXIT_REFUSED, "Firmware = " + Shown(state.imageVersion) +
                                      " matches device version! Not upgraded (--force upgrades all the same)");
    }
    if (!outcome.lost && !outcome.timedOut && outcome.lastReply && outcome.lastReply->status == 0) {
        // Ended on an answer that looks right: the image may be what the upgrade cannot send.
        if (auto problem = UnsendableImage(path)) return Fail(EXIT_BAD_IMAGE, file + ": " + *problem);
    }
    return Failure(outcome, "");
}

int CommandSession::Diag() {
    if (auto failed = Login()) return *failed;
    if (!invocation_.watch) {
        std::string first;
        std::string second;
        if (auto failed = ReadDiagnostics(first, second)) return *failed;
        reporter_.Text(Shown(first));
        if (!second.empty()) reporter_.Text(Shown(second));
        reporter_.Event("result",
                        {{"command", "diag"}, {"exit", EXIT_DONE}, {"diagnostics", Json::array({first, second})}});
        return EXIT_DONE;
    }
    // Watching: one reading a second. Each diagnostics operation polls for 10 s; the next one
    // follows until the time is up.
    const auto end = Clock::now() + *invocation_.watch;
    auto nextReading = Clock::now();
    unsigned readings = 0;
    bool over = false;
    ToolContext::Hooks hooks;
    hooks.pageCall = [&](const PageCallRecord& call) {
        if (call.function != "display_diag" || call.args.size() < 2) return;
        ++readings;
        reporter_.Text(Shown(call.args[0]));
        if (!call.args[1].empty()) reporter_.Text(Shown(call.args[1]));
        reporter_.Event("diagnostics", {{"texts", Json::array({call.args[0], call.args[1]})}});
        nextReading += std::chrono::seconds(1);
        if (nextReading >= end) {
            over = true;
            context_.DropActiveOperation();
            return;
        }
        std::this_thread::sleep_until(nextReading);
    };
    context_.SetHooks(hooks);
    std::optional<int> result;
    while (!over && !result) {
        const unsigned before = readings;
        reporter_.Event("phase", {{"phase", "read-diagnostics"}});
        const RunOutcome outcome = context_.Run(PageFunction::FUNC_GET_DIAG, "");
        if (!over && (outcome.completion || outcome.lost || readings == before)) {
            result = outcome.lastReply && outcome.lastReply->type == REP_DIAG && outcome.lastReply->status == 0
                         ? Fail(EXIT_REFUSED, "the adaptor sent empty diagnostics")
                         : Failure(outcome, "the diagnostics read");
        }
    }
    context_.SetHooks({});
    if (result) return *result;
    reporter_.Event("result", {{"command", "diag"}, {"exit", EXIT_DONE}, {"readings", readings}});
    return EXIT_DONE;
}

int CommandSession::Reboot() {
    if (auto failed = Login()) return *failed;
    reporter_.Event("phase", {{"phase", "reboot"}});
    const RunOutcome outcome = context_.Run(PageFunction::FUNC_ACTION, "");
    if (outcome.completion != 0) return Failure(outcome, "the reboot request");
    context_.Disconnect();  // the adaptor drops the connection as it restarts
    if (!invocation_.wait) {
        reporter_.Text("The adaptor is restarting. This takes about 2 minutes (kbr3300ctl wait waits for it).");
        reporter_.Event("result", {{"command", "reboot"}, {"exit", EXIT_DONE}});
        return EXIT_DONE;
    }
    // Until it has gone and come back: an answer before it went is the old run's.
    reporter_.Text("The adaptor is restarting.");
    std::string productId;
    if (auto failed = WaitForAdaptor(invocation_.waitTimeout, true, productId)) return *failed;
    reporter_.Text(Shown(productId) + " answers again at " + invocation_.Endpoint());
    reporter_.Event("result", {{"command", "reboot"}, {"exit", EXIT_DONE}, {"product_id", productId}});
    return EXIT_DONE;
}

bool CommandSession::Answers(std::chrono::milliseconds left, std::string& productId) {
    const auto connectLimit = std::min<int64_t>(left.count(), DeviceLink::CONNECT_TIME_LIMIT_MS);
    if (!context_.Connect(invocation_.address, invocation_.port, static_cast<uint32_t>(connectLimit))) return false;
    auto limit = left;
    if (invocation_.replyTimeout) limit = std::min(limit, *invocation_.replyTimeout);
    context_.SetTimerLimit(limit);
    bool answered = false;
    const RunOutcome product = context_.Run(PageFunction::FUNC_GET_PRODUCT_ID, "");
    if (const auto* call = product.LastCall("CallbackProdID"); product.completion == 0 && call && !call->empty()) {
        productId = (*call)[0];
        answered = true;
    }
    context_.Disconnect();
    context_.SetTimerLimit(invocation_.replyTimeout);
    return answered;
}

std::optional<CommandSession::Failed> CommandSession::WaitForAdaptor(std::chrono::milliseconds timeout, bool goneFirst,
                                                                     std::string& productId) {
    const auto started = Clock::now();
    const auto end = started + timeout;
    WaitingView view(reporter_, surroundings_.progressBar && !reporter_.JsonLines(),
                     goneFirst
                         ? "Waiting for the adaptor at " + invocation_.Endpoint() + " to go and an adaptor to answer"
                         : "Waiting for an adaptor at " + invocation_.Endpoint());
    bool gone = !goneFirst;
    reporter_.Event("phase", {{"phase", gone ? "wait" : "wait-gone"}, {"address", invocation_.Endpoint()}});
    for (;;) {
        const auto now = Clock::now();
        view.Show(std::chrono::duration_cast<std::chrono::seconds>(now - started),
                  std::chrono::ceil<std::chrono::seconds>(std::max(end - now, Clock::duration::zero())));
        // No try may outlast the time given.
        const auto left =
            std::max(std::chrono::duration_cast<std::chrono::milliseconds>(end - now), std::chrono::milliseconds(1));
        const bool answers = Answers(left, productId);
        if (answers && gone) return std::nullopt;
        // A try cut short by the end of the time says nothing about the adaptor.
        if (!answers && !gone && Clock::now() < end) {
            gone = true;
            reporter_.Event("phase", {{"phase", "wait"}, {"address", invocation_.Endpoint()}});
        }
        const auto after = Clock::now();
        if (after >= end) break;
        std::this_thread::sleep_until(std::min(end, after + std::chrono::seconds(1)));
    }
    view.Finish();
    if (!gone) {
        return Fail(EXIT_UNREACHABLE, "the adaptor at " + invocation_.Endpoint() + " still answered after " +
                                          SecondsText(timeout) + "; no other one came");
    }
    return Fail(EXIT_UNREACHABLE,
                "no adaptor answered at " + invocation_.Endpoint() + " within " + SecondsText(timeout));
}

int CommandSession::Wait() {
    std::string productId;
    if (auto failed = WaitForAdaptor(invocation_.waitTimeout, invocation_.next, productId)) return *failed;
    reporter_.Text(Shown(productId) + " answers at " + invocation_.Endpoint());
    reporter_.Event("result", {{"command", "wait"}, {"exit", EXIT_DONE}, {"product_id", productId}});
    return EXIT_DONE;
}

}  // namespace kbr::ctl

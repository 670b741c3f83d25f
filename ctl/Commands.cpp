#include "ctl/Commands.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

#include "link/ByteReader.h"
#include "link/Messages.h"
#include "link/UpgradeImage.h"
#include "link/UpgradeOperation.h"
#include "ctl/Terminal.h"

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

// Writes text to path as a new file of mode 0600 that replaces path in one step.
bool WritePrivateFile(const std::string& path, const std::string& text, std::string* error) {
    std::string temporary = path + ".XXXXXX";
    const int fd = ::mkstemp(temporary.data());  // mode 0600
    if (fd < 0) {
        *error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    size_t written = 0;
    bool ok = true;
    while (ok && written < text.size()) {
        const ssize_t n = ::write(fd, text.data() + written, text.size() - written);
        if (n < 0 && errno == EINTR) continue;
        ok = n > 0;
        if (ok) written += static_cast<size_t>(n);
    }
    ok = ok && ::fchmod(fd, S_IRUSR | S_IWUSR) == 0 && ::fsync(fd) == 0;
    const int saved = errno;
    ok = ::close(fd) == 0 && ok;
    if (!ok || ::rename(temporary.c_str(), path.c_str()) != 0) {
        *error = "cannot write " + path + ": " + std::strerror(ok ? errno : saved);
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

std::optional<std::string> ReadWholeFile(const std::string& path, std::string* error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        *error = path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    return text;
}

// Section 2 of a valid image without the tags the upgrade reads there. The upgrade would stop
// asking the device and wait for its timer (200 s), so the tool says it before anything is sent.
std::optional<std::string> MissingSection2Tag(const ImageDescription& description) {
    if (!description.layout.valid) return std::nullopt;
    const auto& section2 = description.tags[1];
    if (!section2 || !section2->productId) return "section 2 has no \"prod_id\" tag. Not a valid upgrade file!";
    if (!section2->version) return "section 2 has no \"version\" tag. Not a valid upgrade file!";
    return std::nullopt;
}

std::optional<std::string> MissingSection2Tag(const std::string& path) {
    const ImageFileData file = ReadImageFile(path);
    if (file.error || file.tooLarge) return std::nullopt;
    return MissingSection2Tag(DescribeImage(file.bytes));
}

// Why a valid image could not be sent, looked up after a failed upgrade: section 2 without the
// tags the upgrade reads there, or a section of more chunks than the 16-bit count of the chunks
// still to come can say (the device would take a chunk in the middle for the last one).
std::optional<std::string> UnsendableImage(const std::string& path) {
    const ImageFileData file = ReadImageFile(path);
    if (file.error || file.tooLarge) return std::nullopt;
    const ImageDescription description = DescribeImage(file.bytes);
    if (!description.layout.valid) return std::nullopt;
    if (auto missing = MissingSection2Tag(description)) return missing;
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
        {"DiplexerMode", config.diplexerMode},
        {"channelMask", config.channelMask},
        {"scanMask", config.scanMask},
        {"SwConfig", config.swConfig},
    };
    if (config.txPower) out["TxPower"] = *config.txPower;
    if (withSecrets) {
        out["admPswd"] = config.adminPassword;
        out["password"] = config.networkPassword;
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
    surroundings.progressBar = IsTerminal(STDERR_FILENO);
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

std::optional<CommandSession::Failed> CommandSession::Login() {
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
    if (auto failed = Connect()) return failed;
    reporter_.Event("phase", {{"phase", "login"}});
    const RunOutcome outcome = context_.Run(0, *password);
    if (const auto* call = outcome.LastCall("CallbackLogin")) {
        if (!call->empty() && (*call)[0] == "0") return std::nullopt;
        return Fail(EXIT_REFUSED, "Password Incorrect!");
    }
    if (outcome.lost) return Failure(outcome, "the login");
    // The operation's own words when nothing answered.
    const std::string said = outcome.messages.empty() ? "Unable to login" : outcome.messages.back();
    return Fail(EXIT_LOST, said + ": no answer from the adaptor within " + SecondsText(outcome.timerPeriod));
}

std::optional<CommandSession::Failed> CommandSession::ReadValue(int function, std::string_view callback,
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
    const RunOutcome outcome = context_.Run(1, "");
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
    const RunOutcome outcome = context_.Run(7, "");
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
    const RunOutcome outcome = context_.Run(9, "");
    context_.SetHooks({});
    if (read) return std::nullopt;
    if (outcome.lastReply && outcome.lastReply->type == REP_DIAG && outcome.lastReply->status == 0) {
        return Fail(EXIT_REFUSED, "the adaptor sent empty diagnostics");
    }
    return Failure(outcome, "the diagnostics read");
}

void CommandSession::ShowConfig(const DeviceConfig& config, bool withSecrets) const {
    reporter_.Text(Label("Firmware version") + config.firmwareVersion);
    reporter_.Text(Label("Diplexer") + DiplexerText(config.diplexerMode) +
                   (config.diplexerMode == 0 ? " (MoCA D Band)" : " (All Pass)"));
    reporter_.Text(Label("Channel") + ChannelText(config.channelMask, config.diplexerMode));
    reporter_.Text(Label("Channel mask") + std::to_string(config.channelMask));
    reporter_.Text(Label("Scan mask") + std::to_string(config.scanMask));
    reporter_.Text(Label("Privacy") + PrivacyText(config.swConfig) + " (SwConfig " + std::to_string(config.swConfig) +
                   ")");
    if (config.txPower) reporter_.Text(Label("Transmit power") + *config.txPower);
    if (withSecrets) {
        reporter_.Text(Label("Admin password") + config.adminPassword);
        reporter_.Text(Label("Network password") + config.networkPassword);
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
    if (auto failed = ReadValue(12, "CallbackProdID", "the product id read", productId)) return *failed;
    if (auto failed = ReadValue(15, "CallbackFwVer", "the firmware version read", firmware)) return *failed;
    reporter_.Text(productId + " at " + invocation_.Endpoint() + ", firmware " + firmware);
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
    if (auto failed = ReadValue(12, "CallbackProdID", "the product id read", productId)) return *failed;
    if (auto failed = ReadValue(15, "CallbackFwVer", "the firmware version read", firmware)) return *failed;
    if (auto failed = ReadConfig(config)) return *failed;
    if (auto failed = ReadDiagnostics(first, second)) return *failed;
    reporter_.Text(Label("Adaptor") + invocation_.Endpoint());
    reporter_.Text(Label("Product id") + productId);
    ShowConfig(config, false);
    reporter_.Text(Label("Diagnostics") + first);
    if (!second.empty()) reporter_.Text(Label("") + second);
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
    const auto changes = ParseSettingChanges(invocation_.arguments, &error);
    if (!changes) return Fail(EXIT_USAGE, error);
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
            case SettingKey::AdminPassword: secret("admin-password", after.adminPassword); break;
            case SettingKey::NetworkPassword: secret("network-password", after.networkPassword); break;
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
    if (auto failed = ReadValue(12, "CallbackProdID", "the product id read", productId)) return *failed;
    if (auto failed = ReadConfig(config)) return *failed;
    if (!config.complete) return Fail(EXIT_REFUSED, "the adaptor did not report all six settings; nothing is saved");
    Backup backup{productId, config.firmwareVersion, invocation_.Endpoint(), ProfileOf(config)};
    if (!invocation_.withSecrets) {
        backup.settings.adminPassword.reset();
        backup.settings.networkPassword.reset();
    }
    std::string error;
    if (!WritePrivateFile(path, BackupJson(backup), &error)) return Fail(EXIT_USAGE, error);
    reporter_.Text("Saved the settings of " + productId + " (firmware " + config.firmwareVersion + ") to " + path +
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
    const auto text = ReadWholeFile(path, &error);
    if (!text) return Fail(EXIT_USAGE, "cannot read " + error);
    const auto backup = ParseBackup(*text, &error);
    if (!backup) return Fail(EXIT_USAGE, path + ": " + error);

    if (auto failed = Login()) return *failed;
    std::string productId;
    DeviceConfig current;
    if (auto failed = ReadValue(12, "CallbackProdID", "the product id read", productId)) return *failed;
    if (productId != backup->productId) {
        return Fail(EXIT_USAGE, path + " holds the settings of a " + backup->productId + "; this adaptor is a " +
                                    productId + ". Nothing is written");
    }
    if (auto failed = ReadConfig(current)) return *failed;
    if (!current.complete) return Fail(EXIT_REFUSED, "the adaptor did not report all six settings; nothing is written");

    const auto differences = Differences(current, backup->settings);
    for (const auto& difference : differences) {
        reporter_.Text(Label(difference.name) + difference.from + " -> " + difference.to);
        reporter_.Event("change", {{"setting", difference.name}, {"from", difference.from}, {"to", difference.to}});
    }
    if (differences.empty()) {
        reporter_.Text("Nothing to change: the adaptor already has the settings of " + path + ".");
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
    reporter_.Event(
        "result",
        {{"command", "config restore"}, {"exit", EXIT_DONE}, {"written", true}, {"changes", differences.size()}});
    return EXIT_DONE;
}

int CommandSession::Upgrade() {
    std::string path = invocation_.arguments[0];
    // The operation reads "%20" in a path as a space (the pages send names that way); a name that
    // really holds "%20" is handed over as its open descriptor instead.
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

    if (auto missing = MissingSection2Tag(path))
        return Fail(EXIT_BAD_IMAGE, invocation_.arguments[0] + ": " + *missing);
    if (auto failed = Login()) return *failed;

    UpgradeOperation operation(context_);
    UpgradeProgressView view(reporter_, surroundings_.progressBar && !reporter_.JsonLines());
    bool asked = false;
    bool declined = false;
    ToolContext::Hooks hooks;
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
        reporter_.Text("Upgrade completed successfully! Firmware " + state.imageVersion +
                       " starts after a reboot (kbr3300ctl reboot).");
        reporter_.Event("result", {{"command", "upgrade"},
                                   {"exit", EXIT_DONE},
                                   {"firmware_version", state.imageVersion},
                                   {"seconds", seconds}});
        return EXIT_DONE;
    }
    if (const auto* failed = outcome.LastCall("upgradeFailed")) {
        std::vector<std::string> said = outcome.messages;
        if (!failed->empty()) said.push_back((*failed)[0]);
        return Fail(EXIT_BAD_IMAGE, invocation_.arguments[0] + ": " + Joined(said, " "));
    }
    if (!outcome.messages.empty() && outcome.messages.back() == "Product IDs do not match!") {
        return Fail(EXIT_BAD_IMAGE, "Product IDs do not match! The image is for " + state.imageProductId +
                                        ", the adaptor is a " + state.deviceProductId + ". Nothing was sent");
    }
    if (asked && declined && !outcome.lost) {
        return Fail(EXIT_REFUSED, "Firmware = " + state.imageVersion +
                                      " matches device version! Not upgraded (--force upgrades all the same)");
    }
    if (!outcome.lost && !outcome.timedOut && outcome.lastReply && outcome.lastReply->status == 0) {
        // Ended on an answer that looks right: the image may be what the upgrade cannot send.
        if (auto problem = UnsendableImage(path))
            return Fail(EXIT_BAD_IMAGE, invocation_.arguments[0] + ": " + *problem);
    }
    return Failure(outcome, "");
}

int CommandSession::Diag() {
    if (auto failed = Login()) return *failed;
    if (!invocation_.watch) {
        std::string first;
        std::string second;
        if (auto failed = ReadDiagnostics(first, second)) return *failed;
        reporter_.Text(first);
        if (!second.empty()) reporter_.Text(second);
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
        reporter_.Text(call.args[0] + (call.args[1].empty() ? "" : "\n" + call.args[1]));
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
        const RunOutcome outcome = context_.Run(9, "");
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
    const RunOutcome outcome = context_.Run(10, "");
    if (outcome.completion != 0) return Failure(outcome, "the reboot request");
    context_.Disconnect();  // the adaptor drops the connection as it restarts
    reporter_.Text("The adaptor is restarting. This takes about 2 minutes (kbr3300ctl wait waits for it).");
    reporter_.Event("result", {{"command", "reboot"}, {"exit", EXIT_DONE}});
    return EXIT_DONE;
}

int CommandSession::Wait() {
    const auto end = Clock::now() + invocation_.waitTimeout;
    reporter_.Event("phase", {{"phase", "wait"}, {"address", invocation_.Endpoint()}});
    for (;;) {
        // No try may outlast the time given.
        const auto left = std::max(std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()),
                                   std::chrono::milliseconds(1));
        const auto connectLimit = std::min<int64_t>(left.count(), DeviceLink::CONNECT_TIME_LIMIT_MS);
        if (context_.Connect(invocation_.address, invocation_.port, static_cast<uint32_t>(connectLimit))) {
            auto limit = left;
            if (invocation_.replyTimeout) limit = std::min(limit, *invocation_.replyTimeout);
            context_.SetTimerLimit(limit);
            const RunOutcome outcome = context_.Run(12, "");
            const auto* call = outcome.LastCall("CallbackProdID");
            if (outcome.completion == 0 && call && !call->empty()) {
                reporter_.Text((*call)[0] + " answers at " + invocation_.Endpoint());
                reporter_.Event("result", {{"command", "wait"}, {"exit", EXIT_DONE}, {"product_id", (*call)[0]}});
                return EXIT_DONE;
            }
            context_.Disconnect();
        }
        const auto now = Clock::now();
        if (now >= end) break;
        std::this_thread::sleep_until(std::min(end, now + std::chrono::seconds(1)));
    }
    return Fail(EXIT_UNREACHABLE,
                "no adaptor answered at " + invocation_.Endpoint() + " within " + SecondsText(invocation_.waitTimeout));
}

}  // namespace kbr::ctl

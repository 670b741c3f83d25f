#include "ctl/Commands.h"

#include <cstdlib>

#include "link/Messages.h"
#include "ctl/CommandText.h"
#include "ctl/Terminal.h"
#include "platform/Terminal.h"

namespace kbr::ctl {

namespace {

std::string TypeName(uint8_t type) {
    const char* name = MessageTypeName(type);
    return name ? name : "type " + std::to_string(type);
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
    const CommandResult result = Run();
    if (result.exitCode != EXIT_DONE) reporter_.Error(result.exitCode, result.message);
    return result.exitCode;
}

CommandResult CommandSession::Run() {
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
    return {EXIT_USAGE, "no command"};
}

CommandSession::Failed CommandSession::Fail(int code, const std::string& message) { return {code, message}; }

CommandSession::Failed CommandSession::Failure(const RunOutcome& outcome, std::string_view what) {
    const std::string step = what.empty() ? StepOf(outcome) : std::string(what);
    if (outcome.lost) return Fail(EXIT_LOST, "lost the connection to " + invocation_.Endpoint() + " during " + step);
    const bool answeredAsAsked = outcome.lastReply && outcome.lastReply->status == 0 &&
                                 (!outcome.expectedReply || outcome.lastReply->type == *outcome.expectedReply);
    if (outcome.lastReply && !answeredAsAsked) {
        const MessageHeader& header = *outcome.lastReply;
        if (header.status != 0) {
            return Fail(EXIT_REFUSED, "the adaptor refused " + step + ": expected status 0, got " +
                                          TypeName(header.type) + " with status " + std::to_string(header.status));
        }
        return Fail(EXIT_REFUSED, "the adaptor answered " + step + " wrongly: expected " +
                                      (outcome.expectedReply ? TypeName(*outcome.expectedReply) : "another reply") +
                                      ", got " + TypeName(header.type));
    }
    if (outcome.timedOut) {
        return Fail(EXIT_LOST, "no answer from the adaptor to " + step + " within " + SecondsText(outcome.timerPeriod));
    }
    return Fail(EXIT_REFUSED, step + " failed");
}

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
    if (const auto* answer = outcome.Last<LoginAnswered>()) {
        if (answer->accepted) return std::nullopt;
        return Fail(EXIT_REFUSED, "Password Incorrect!");
    }
    if (outcome.lost) return Failure(outcome, "the login");
    // The operation's own words when nothing answered.
    const std::string said = outcome.messages.empty() ? "Unable to login" : Shown(outcome.messages.back());
    return Fail(EXIT_LOST, said + ": no answer from the adaptor within " + SecondsText(outcome.timerPeriod));
}

std::optional<CommandSession::Failed> CommandSession::ReadValue(PageFunction function, std::string_view what,
                                                                std::string& value) {
    const RunOutcome outcome = context_.Run(function, "");
    const auto* read = outcome.Last<ValueRead>();
    if (outcome.completion == 0 && read) {
        value = read->value;
        return std::nullopt;
    }
    return Failure(outcome, what);
}

std::optional<CommandSession::Failed> CommandSession::ReadConfig(DeviceConfig& config) {
    reporter_.Event("phase", {{"phase", "read-settings"}});
    const RunOutcome outcome = context_.Run(PageFunction::FUNC_GETCONFIG, "");
    if (outcome.completion != 0) return Failure(outcome, "the settings read");
    const auto* read = outcome.Last<ConfigRead>();
    if (!read) return Failure(outcome, "the settings read");
    config = ConfigFromRead(*read);
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
    OperationRunner::Hooks hooks;
    hooks.result = [&](const OperationResult& result) {
        const auto* diagnostics = std::get_if<DiagnosticsRead>(&result);
        if (!diagnostics) return;
        first = diagnostics->first;
        second = diagnostics->second;
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

}  // namespace kbr::ctl

// The commands that read: probe, status and diag.
#include <thread>

#include "link/Messages.h"
#include "ctl/CommandText.h"
#include "ctl/Commands.h"

namespace kbr::ctl {

CommandResult CommandSession::Probe() {
    if (auto failed = Connect()) return *failed;
    std::string productId;
    std::string firmware;
    if (auto failed = ReadValue(PageFunction::FUNC_GET_PRODUCT_ID, "the product id read", productId)) return *failed;
    if (auto failed = ReadValue(PageFunction::FUNC_GET_FIRMWARE_VERSION, "the firmware version read", firmware))
        return *failed;
    reporter_.Text(Shown(productId) + " at " + invocation_.Endpoint() + ", firmware " + Shown(firmware));
    reporter_.Event("result", {{"command", "probe"},
                               {"exit", EXIT_DONE},
                               {"address", invocation_.Endpoint()},
                               {"product_id", productId},
                               {"firmware_version", firmware}});
    return {};
}

CommandResult CommandSession::Status() {
    if (auto failed = Login()) return *failed;
    std::string productId;
    std::string firmware;
    DeviceConfig config;
    std::string first;
    std::string second;
    if (auto failed = ReadValue(PageFunction::FUNC_GET_PRODUCT_ID, "the product id read", productId)) return *failed;
    if (auto failed = ReadValue(PageFunction::FUNC_GET_FIRMWARE_VERSION, "the firmware version read", firmware))
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
    return {};
}

CommandResult CommandSession::Diag() {
    if (auto failed = Login()) return *failed;
    if (!invocation_.watch) {
        std::string first;
        std::string second;
        if (auto failed = ReadDiagnostics(first, second)) return *failed;
        reporter_.Text(Shown(first));
        if (!second.empty()) reporter_.Text(Shown(second));
        reporter_.Event("result",
                        {{"command", "diag"}, {"exit", EXIT_DONE}, {"diagnostics", Json::array({first, second})}});
        return {};
    }
    // Watching: one reading a second. Each diagnostics operation polls for 10 s; the next one
    // follows until the time is up.
    const auto end = Clock::now() + *invocation_.watch;
    auto nextReading = Clock::now();
    unsigned readings = 0;
    bool over = false;
    OperationRunner::Hooks hooks;
    hooks.result = [&](const OperationResult& result) {
        const auto* diagnostics = std::get_if<DiagnosticsRead>(&result);
        if (!diagnostics) return;
        ++readings;
        reporter_.Text(Shown(diagnostics->first));
        if (!diagnostics->second.empty()) reporter_.Text(Shown(diagnostics->second));
        reporter_.Event("diagnostics", {{"texts", Json::array({diagnostics->first, diagnostics->second})}});
        nextReading += std::chrono::seconds(1);
        if (nextReading >= end) {
            over = true;
            context_.DropActiveOperation();
            return;
        }
        std::this_thread::sleep_until(nextReading);
    };
    context_.SetHooks(hooks);
    std::optional<CommandResult> result;
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
    return {};
}

}  // namespace kbr::ctl

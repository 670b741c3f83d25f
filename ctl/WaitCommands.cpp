// Restarting the adaptor and waiting for one: reboot and wait.
#include <algorithm>
#include <thread>

#include "ctl/CommandText.h"
#include "ctl/Commands.h"

namespace kbr::ctl {

CommandResult CommandSession::Reboot() {
    if (auto failed = Login()) return *failed;
    reporter_.Event("phase", {{"phase", "reboot"}});
    const RunOutcome outcome = context_.Run(PageFunction::FUNC_ACTION, "");
    if (outcome.completion != 0) return Failure(outcome, "the reboot request");
    context_.Disconnect();  // the adaptor drops the connection as it restarts
    if (!invocation_.wait) {
        reporter_.Text("The adaptor is restarting. This takes about 2 minutes (kbr3300ctl wait waits for it).");
        reporter_.Event("result", {{"command", "reboot"}, {"exit", EXIT_DONE}});
        return {};
    }
    // Until it has gone and come back: an answer before it went is the old run's.
    reporter_.Text("The adaptor is restarting.");
    std::string productId;
    if (auto failed = WaitForAdaptor(invocation_.waitTimeout, true, productId)) return *failed;
    reporter_.Text(Shown(productId) + " answers again at " + invocation_.Endpoint());
    reporter_.Event("result", {{"command", "reboot"}, {"exit", EXIT_DONE}, {"product_id", productId}});
    return {};
}

bool CommandSession::Answers(std::chrono::milliseconds left, std::string& productId) {
    const auto connectLimit = std::min<int64_t>(left.count(), DeviceLink::CONNECT_TIME_LIMIT_MS);
    if (!context_.Connect(invocation_.address, invocation_.port, static_cast<uint32_t>(connectLimit))) return false;
    auto limit = left;
    if (invocation_.replyTimeout) limit = std::min(limit, *invocation_.replyTimeout);
    context_.SetTimerLimit(limit);
    bool answered = false;
    const RunOutcome product = context_.Run(PageFunction::FUNC_GET_PRODUCT_ID, "");
    if (const auto* read = product.Last<ValueRead>(); product.completion == 0 && read) {
        productId = read->value;
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

CommandResult CommandSession::Wait() {
    std::string productId;
    if (auto failed = WaitForAdaptor(invocation_.waitTimeout, invocation_.next, productId)) return *failed;
    reporter_.Text(Shown(productId) + " answers at " + invocation_.Endpoint());
    reporter_.Event("result", {{"command", "wait"}, {"exit", EXIT_DONE}, {"product_id", productId}});
    return {};
}

}  // namespace kbr::ctl

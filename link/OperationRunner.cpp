#include "link/OperationRunner.h"

#include <algorithm>

#include "link/OperationFactory.h"

namespace kbr {

const std::vector<std::string>* RunOutcome::LastCall(std::string_view function) const {
    const auto last = std::find_if(pageCalls.rbegin(), pageCalls.rend(),
                                   [function](const PageCallRecord& call) { return call.function == function; });
    return last == pageCalls.rend() ? nullptr : &last->args;
}

bool OperationRunner::Connect(const std::string& address, const std::string& port, uint32_t connectLimitMs) {
    Disconnect();
    return link_.Open(address, port, SOCK_STREAM, connectLimitMs);
}

void OperationRunner::Disconnect() { link_.Stop(); }

RunOutcome OperationRunner::Run(PageFunction function, std::string_view args) {
    std::unique_ptr<OperationHandler> operation = MakeOperation(function, *this);
    if (!operation) return {};
    return Run(*operation, args);
}

bool OperationRunner::DropStaleReads() {
    while (link_.IsOpen()) {
        const int n = link_.Receive(buffer_.data(), static_cast<int>(buffer_.size()), 0);
        if (n == 0) return true;
        if (n < 0) {
            link_.Stop();
            return false;
        }
    }
    return false;
}

RunOutcome OperationRunner::Run(OperationHandler& operation, std::string_view args) {
    RunOutcome outcome;
    outcome_ = &outcome;
    // Whatever came while no operation was active belongs to none.
    (void)DropStaleReads();
    active_ = nullptr;
    timerDue_.reset();
    operation.Start(args);
    while (active_) {
        if (!link_.IsOpen()) {
            // What the main window does with a lost connection: stop the link, drop the work.
            outcome.lost = true;
            active_ = nullptr;
            link_.Stop();
            break;
        }
        if (hooks_.stop && hooks_.stop()) {
            outcome.stopped = true;
            active_ = nullptr;
            break;
        }
        uint32_t waitMs = hooks_.stop ? static_cast<uint32_t>(WAKE_PERIOD.count()) : DeviceLink::NO_TIME_LIMIT;
        if (timerDue_) {
            const auto now = Clock::now();
            if (now >= *timerDue_) {
                // Periodic, like the window's timer: it fires again after another period.
                timerDue_ = now + timerPeriod_;
                outcome.timedOut = true;
                active_->OnTimeout();
                continue;
            }
            waitMs = std::min(
                waitMs, static_cast<uint32_t>(std::chrono::ceil<std::chrono::milliseconds>(*timerDue_ - now).count()));
        }
        const int n = link_.Receive(buffer_.data(), static_cast<int>(buffer_.size()), waitMs);
        if (n < 0) {
            link_.Close();                                                   // reported at the top of the loop
        } else if (n > 0 && n != static_cast<int>(UNDELIVERED_READ_SIZE)) {  // never delivered
            const std::span<const uint8_t> reply(buffer_.data(), static_cast<size_t>(n));
            if (const auto header = ReadReplyHeader(reply)) outcome.lastReply = *header;
            active_->OnReply(reply);
        }
    }
    outcome_ = nullptr;
    return outcome;
}

void OperationRunner::Send(std::span<const uint8_t> request) {
    if (outcome_ && !request.empty()) {
        RunOutcome& outcome = *outcome_;
        outcome.lastRequestType = request[0];
        outcome.lastReply.reset();
        outcome.expectedReply = ExpectedReplyType(request);
        if (request[0] == REQ_LOGIN) outcome.expectedReply.reset();  // any reply will do
        if (request[0] == REQ_GET_VALUE) {
            const Decoded<std::string> key = ReadGetValueRequest(request);
            outcome.lastKey = key ? *key : std::string();
        }
    }
    if (hooks_.maySend && !hooks_.maySend(request)) {
        if (outcome_) outcome_->heldBack = true;
        active_ = nullptr;
        return;
    }
    if (hooks_.sent) hooks_.sent(request);
    (void)link_.Send(request.data(), static_cast<int>(request.size()), DeviceLink::NO_TIME_LIMIT);
}

void OperationRunner::StartOperationTimer(uint32_t periodMs) {
    timerPeriod_ = std::chrono::milliseconds(periodMs);
    if (timerLimit_) timerPeriod_ = std::min(timerPeriod_, *timerLimit_);
    timerDue_ = Clock::now() + timerPeriod_;
    if (outcome_) outcome_->timerPeriod = timerPeriod_;
}

void OperationRunner::CallPage(std::string_view function, const std::vector<std::string>& args, PageCallForm) {
    PageCallRecord call{std::string(function), args};
    if (hooks_.pageCall) hooks_.pageCall(call);
    (outcome_ ? *outcome_ : spare_).pageCalls.push_back(std::move(call));
}

void OperationRunner::Report(const OperationResult& result) {
    (outcome_ ? *outcome_ : spare_).results.push_back(result);
    if (hooks_.result) hooks_.result(result);
}

void OperationRunner::CompleteOperation(int result) { (outcome_ ? *outcome_ : spare_).completion = result; }

void OperationRunner::ShowMessage(std::string_view text) {
    if (hooks_.message) hooks_.message(text);
    (outcome_ ? *outcome_ : spare_).messages.emplace_back(text);
}

bool OperationRunner::AskYesNo(std::string_view question) { return hooks_.askYesNo && hooks_.askYesNo(question); }

void OperationRunner::ShowUpgradeProgress(int maximum) {
    if (hooks_.progressShown) hooks_.progressShown(maximum);
}

void OperationRunner::AdvanceUpgradeProgress() {
    if (hooks_.progressAdvanced) hooks_.progressAdvanced();
}

}  // namespace kbr

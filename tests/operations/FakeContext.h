#pragma once
// A page window for operation tests: records everything an operation does, keeps a fake clock
// for OPERATION_TIMER (a periodic timer, as the window's is), and plays the window's part of
// delivering events to the active operation.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "link/Messages.h"
#include "link/Operation.h"
#include "link/OperationContext.h"
#include "link/OperationFactory.h"

namespace kbr::test {

struct PageCallRecord {
    std::string function;
    std::vector<std::string> args;
    PageCallForm form = PageCallForm::CallFunction;
    bool operator==(const PageCallRecord&) const = default;
};

class FakeContext : public OperationContext {
public:
    // ---- What the operation did
    std::vector<Bytes> sent;
    std::vector<PageCallRecord> pageCalls;
    std::vector<int> completions;
    std::vector<std::string> messages;
    std::vector<std::string> questions;
    std::vector<uint32_t> timerStarts;  // period of each start
    int timerKills = 0;
    bool progressCreated = false;
    bool progressVisible = false;
    int progressMaximum = -1;
    int progressPosition = 0;
    int progressShows = 0;
    int progressHides = 0;
    std::vector<std::string> log;          // one word per call, in order
    std::vector<OperationResult> results;  // the typed results reported beside the page calls

    PageDeviceState state;

    // ---- How the "user" answers; run during the modal box (may drive events meanwhile).
    bool answer = true;
    std::function<void()> duringModal;

    // ---- Clock
    uint64_t now = 0;
    std::optional<uint64_t> timerDue;
    uint32_t timerPeriod = 0;

    // ---- OperationContext
    void Report(const OperationResult& result) override { results.push_back(result); }
    void Send(std::span<const uint8_t> request) override {
        sent.emplace_back(request.begin(), request.end());
        log.emplace_back("send");
    }
    void StartOperationTimer(uint32_t periodMs) override {
        timerStarts.push_back(periodMs);
        timerPeriod = periodMs;
        timerDue = now + periodMs;
        log.push_back("timer" + std::to_string(periodMs));
    }
    void KillOperationTimer() override {
        ++timerKills;
        timerDue.reset();
        log.emplace_back("kill");
    }
    void CallPage(std::string_view function, const std::vector<std::string>& args, PageCallForm form) override {
        pageCalls.push_back({std::string(function), args, form});
        log.push_back("call:" + std::string(function));
    }
    void CompleteOperation(int result) override {
        completions.push_back(result);
        log.push_back("complete" + std::to_string(result));
    }
    void SetActiveOperation(OperationHandler* operation) override {
        active_ = operation;
        log.emplace_back(operation ? "active" : "idle");
    }
    OperationHandler* ActiveOperation() const override { return active_; }
    void ShowMessage(std::string_view text) override {
        messages.emplace_back(text);
        log.emplace_back("message");
        RunModal();
    }
    bool AskYesNo(std::string_view question) override {
        questions.emplace_back(question);
        log.emplace_back("ask");
        RunModal();
        return answer;
    }
    void CreateUpgradeProgress() override { progressCreated = true; }
    void ShowUpgradeProgress(int maximum) override {
        progressMaximum = maximum;
        progressPosition = 0;
        progressVisible = true;
        ++progressShows;
        log.emplace_back("progress-show");
    }
    void AdvanceUpgradeProgress() override { ++progressPosition; }
    void HideUpgradeProgress() override {
        if (progressCreated) progressVisible = false;
        ++progressHides;
        log.emplace_back("progress-hide");
    }
    PageDeviceState& State() override { return state; }

    // ---- The window's side

    // Makes and starts the operation of a function number, as the queue pump does.
    OperationHandler* Run(PageFunction function, std::string_view args = {}) {
        operation_ = MakeOperation(function, *this);
        if (operation_) operation_->Start(args);
        return operation_.get();
    }
    // A reply read from the link: to the active operation, or dropped.
    void Reply(std::span<const uint8_t> received) {
        if (OperationHandler* op = active_) op->OnReply(received);
    }
    // Moves the clock on; every expiry of the periodic timer reaches the active operation.
    void Advance(uint64_t ms) {
        const uint64_t until = now + ms;
        while (timerDue && *timerDue <= until) {
            now = *timerDue;
            timerDue = now + timerPeriod;
            if (OperationHandler* op = active_) op->OnTimeout();
        }
        now = until;
    }
    // The window dropping its operation (code 1005): the timer runs on.
    void Drop() { active_ = nullptr; }

    OperationHandler* operation() const { return operation_.get(); }
    bool Idle() const { return active_ == nullptr; }
    std::vector<std::string> CallNames() const {
        std::vector<std::string> names;
        for (const auto& call : pageCalls) names.push_back(call.function);
        return names;
    }

private:
    void RunModal() {
        if (duringModal) {
            auto hook = std::move(duringModal);
            duringModal = nullptr;
            hook();
        }
    }

    OperationHandler* active_ = nullptr;
    std::unique_ptr<OperationHandler> operation_;
};

inline constexpr std::array<uint8_t, 4> DEVICE_VERSION = {1, 2, 3, 4};

inline Bytes Reply(uint8_t type, uint8_t status = 0, uint8_t param = 0) {
    return BuildReply(type, DEVICE_VERSION, status, param);
}

}  // namespace kbr::test

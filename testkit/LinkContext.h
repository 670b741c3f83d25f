#pragma once
// A page window reduced to what an operation needs, over a real DeviceLink: requests go out on
// the link, replies come back from its receive thread, OPERATION_TIMER runs on the real clock,
// and the "user" answers Yes. Used by the end-to-end tests and the upgrade benchmark against
// kbr3300-devsim on loopback.

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "link/DeviceLink.h"
#include "link/Messages.h"
#include "link/OperationContext.h"
#include "link/PageFunction.h"
#include "testkit/ReplyHandOver.h"

namespace kbr::test {

class LinkContext : public OperationContext, public DeviceLink {
public:
    using Clock = std::chrono::steady_clock;

    LinkContext() = default;
    ~LinkContext() override { Stop(); }

    [[nodiscard]] bool Connect(uint16_t port);

    // Starts the operation of a function number and serves its replies and timer, the way the
    // page window does, until it is no longer active. A lost link drops it, as the main window
    // does (and hides the progress window). False when `limit` passed first.
    bool RunOperation(PageFunction function, std::string_view args, std::chrono::milliseconds limit);

    // ---- What happened
    std::vector<int> completions;
    std::vector<std::string> messages;
    std::vector<std::string> pageCalls;
    size_t requestsSent = 0;
    bool linkLost = false;
    bool progressVisible = false;
    int progressMaximum = -1;
    int progressPosition = 0;
    PageDeviceState state;

    // ---- OperationContext
    void Send(std::span<const uint8_t> request) override;
    void StartOperationTimer(uint32_t periodMs) override;
    void KillOperationTimer() override { timerDue_.reset(); }
    void CallPage(std::string_view function, const std::vector<std::string>&, PageCallForm) override {
        pageCalls.emplace_back(function);
    }
    void CompleteOperation(int result) override { completions.push_back(result); }
    void SetActiveOperation(OperationHandler* operation) override { active_ = operation; }
    OperationHandler* ActiveOperation() const override { return active_; }
    void ShowMessage(std::string_view text) override { messages.emplace_back(text); }
    bool AskYesNo(std::string_view) override { return true; }
    void CreateUpgradeProgress() override {}
    void ShowUpgradeProgress(int maximum) override {
        progressMaximum = maximum;
        progressPosition = 0;
        progressVisible = true;
    }
    void AdvanceUpgradeProgress() override { ++progressPosition; }
    void HideUpgradeProgress() override { progressVisible = false; }
    PageDeviceState& State() override { return state; }

protected:
    void OnReceive(const uint8_t* bytes, int count) override;
    void OnLinkEvent(int code) override;

private:
    ReplyHandOver replies_;

    OperationHandler* active_ = nullptr;
    std::optional<Clock::time_point> timerDue_;
    std::chrono::milliseconds timerPeriod_{0};
};

}  // namespace kbr::test

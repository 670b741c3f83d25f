#pragma once
// The one way to run a device operation over a link without a window, synchronously: kbr3300ctl
// runs its commands here, and so do the link-backed tests (testkit/LinkContext) and the upgrade
// benchmark's tool path. The device operations run exactly as in a page window, but on the
// caller's one thread. Requests go out on the tool's DeviceLink and Run reads the
// replies on the same thread, with the link's Receive: a command-line tool has nothing else to do
// while it waits, so it needs no receive thread handing reads to it (that hop costs a thread
// switch per exchange, see bench/upgrade). Reads are taken as the link's receive thread takes
// them: one read is one reply, a read of exactly 16 bytes is never delivered, a failed read is
// the loss of the connection. OPERATION_TIMER is a deadline that Run keeps; page calls, messages,
// questions and the progress window become records of the run and calls of the Hooks the command
// set.

#include <algorithm>
#include <array>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "link/DeviceLink.h"
#include "link/Messages.h"
#include "link/OperationContext.h"
#include "link/PageFunction.h"

namespace kbr {

struct PageCallRecord {
    std::string function;
    std::vector<std::string> args;  // in program order, whatever the call form
};

// How one operation's run ended, and what it did meanwhile.
struct RunOutcome {
    std::optional<int> completion;  // CompleteOperation's result, when it was called
    bool lost = false;              // the connection broke while the operation ran
    bool timedOut = false;          // OPERATION_TIMER expired at least once
    bool heldBack = false;          // a request was kept back (Hooks::maySend)
    bool stopped = false;           // the command stopped it (Hooks::stop)
    // The last request sent, and the header of its answer if one came (8 bytes or more).
    uint8_t lastRequestType = 0xFF;
    std::optional<uint8_t> expectedReply;  // the reply type that request waits for (none: any)
    std::string lastKey;                   // the key of a REQ_GET_VALUE
    std::optional<MessageHeader> lastReply;
    std::chrono::milliseconds timerPeriod{0};  // the period OPERATION_TIMER last ran with
    std::vector<std::string> messages;         // ShowMessage texts, in order
    std::vector<PageCallRecord> pageCalls;
    std::vector<OperationResult> results;  // what the operation learned, typed

    // The arguments of the last call of a page function, if it was called.
    const std::vector<std::string>* LastCall(std::string_view function) const;
    // The last result of a kind, if there was one.
    template <typename Result>
    const Result* Last() const {
        const auto found = std::find_if(results.rbegin(), results.rend(), [](const OperationResult& result) {
            return std::holds_alternative<Result>(result);
        });
        return found == results.rend() ? nullptr : &std::get<Result>(*found);
    }
};

class OperationRunner final : public OperationContext {
public:
    using Clock = std::chrono::steady_clock;
    // How often a waiting run asks Hooks::stop.
    static constexpr std::chrono::milliseconds WAKE_PERIOD{200};

    // What the command wants to see while an operation runs; every hook may be left empty.
    struct Hooks {
        std::function<void(std::span<const uint8_t> request)> sent;
        // Asked before each request goes out; false keeps it back and drops the operation.
        std::function<bool(std::span<const uint8_t> request)> maySend;
        // Asked while the operation waits (at least every WAKE_PERIOD); true drops the operation.
        std::function<bool()> stop;
        std::function<void(const PageCallRecord& call)> pageCall;
        std::function<void(const OperationResult& result)> result;
        std::function<void(std::string_view text)> message;
        std::function<bool(std::string_view question)> askYesNo;  // empty: No
        std::function<void(int maximum)> progressShown;
        std::function<void()> progressAdvanced;
        std::function<void()> progressHidden;
    };

    OperationRunner() = default;
    ~OperationRunner() override { link_.Stop(); }
    OperationRunner(const OperationRunner&) = delete;
    OperationRunner& operator=(const OperationRunner&) = delete;

    // Connects to address:port, waiting at most connectLimitMs for the connection.
    [[nodiscard]] bool Connect(const std::string& address, const std::string& port,
                               uint32_t connectLimitMs = DeviceLink::CONNECT_TIME_LIMIT_MS);
    void Disconnect();
    bool Connected() const { return link_.IsOpen(); }

    // OPERATION_TIMER never runs longer than this (the operations' own periods otherwise).
    void SetTimerLimit(std::optional<std::chrono::milliseconds> limit) { timerLimit_ = limit; }
    void SetHooks(Hooks hooks) { hooks_ = std::move(hooks); }
    const Hooks& GetHooks() const { return hooks_; }

    // Starts the operation with args and serves its replies and its timer until it is no longer
    // active. Reads that arrived while no operation ran are dropped first, as the page window
    // drops them. A lost connection closes the link and drops the operation, as the main window
    // does. An operation that never becomes active (one that stores a value) ends in Start.
    RunOutcome Run(OperationHandler& operation, std::string_view args);
    RunOutcome Run(PageFunction function, std::string_view args);
    // Code 1005 for the running operation: it is dropped, nothing of it is reported any more.
    void DropActiveOperation() { active_ = nullptr; }

    // ---- OperationContext
    void Send(std::span<const uint8_t> request) override;
    void StartOperationTimer(uint32_t periodMs) override;
    void KillOperationTimer() override { timerDue_.reset(); }
    void CallPage(std::string_view function, const std::vector<std::string>& args, PageCallForm form) override;
    void CompleteOperation(int result) override;
    void SetActiveOperation(OperationHandler* operation) override { active_ = operation; }
    OperationHandler* ActiveOperation() const override { return active_; }
    void ShowMessage(std::string_view text) override;
    bool AskYesNo(std::string_view question) override;
    void CreateUpgradeProgress() override {}
    void ShowUpgradeProgress(int maximum) override;
    void AdvanceUpgradeProgress() override;
    void HideUpgradeProgress() override {
        if (hooks_.progressHidden) hooks_.progressHidden();
    }
    PageDeviceState& State() override { return state_; }
    void Report(const OperationResult& result) override;

private:
    // Drops what arrived while no operation ran; false when the connection broke meanwhile.
    bool DropStaleReads();

    DeviceLink link_;
    std::array<uint8_t, RECEIVE_BUFFER_SIZE> buffer_{};
    Hooks hooks_;
    PageDeviceState state_;
    OperationHandler* active_ = nullptr;
    std::optional<Clock::time_point> timerDue_;
    std::chrono::milliseconds timerPeriod_{0};
    std::optional<std::chrono::milliseconds> timerLimit_;
    RunOutcome* outcome_ = nullptr;  // the run in progress
    RunOutcome spare_;               // records of calls made outside a run
};

}  // namespace kbr
